// The interface description exists three times: the IDL (type library and
// Windows header), the hand-written Linux header, and the header widl
// generates from the IDL in the Windows build. All three must give the same
// GUIDs and the same methods in the same vtable order with the same
// parameters, or a host built against one would call the wrong slot of
// another. Each is read as text and compared with itable::kMethods.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../platform/Platform.h"
#include "InterfaceTable.h"

#ifndef MIRL_GENERATED_HEADER
#define MIRL_GENERATED_HEADER ""  // only the Windows build runs widl
#endif

namespace {

// Each interface's methods in vtable order, one normalised line each:
// "Name(params)", from the IDL with " id=N help=..." and a first line with
// the interface's help string.
using Interfaces = std::map<std::string, std::vector<std::string>>;
using Guids = std::map<std::string, std::string>;

// The ids as this build's header defines them: the Linux header natively,
// the generated one on Windows.
const std::pair<const char*, const GUID*> kOurIds[] = {
    {"IID_IMirlParser", &IID_IMirlParser},
    {"IID_IMirlParser2", &IID_IMirlParser2},
    {"IID_IMirlParser3", &IID_IMirlParser3},
    {"IID_IMirlParserMem", &IID_IMirlParserMem},
    {"CLSID_MirlParserUbrof", &CLSID_MirlParserUbrof},
    {"LIBID_MIRLPARSERUBROFLib", &LIBID_MIRLPARSERUBROFLib}};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(bool(f)) << "cannot read " << path;
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string SourceFile(const char* rel) { return Slurp(std::string(MIRL_SOURCE_DIR) + rel); }

std::string StripComments(const std::string& s) {
  return std::regex_replace(s, std::regex(R"(//[^\n]*|/\*[^*]*\*+([^/*][^*]*\*+)*/)"), " ");
}

// One spelling per declaration: single spaces, stars bound to the type
// ("BSTR *p" and "BSTR* p" both become "BSTR* p"), no spaces in attributes.
std::string Normalize(std::string s) {
  s = std::regex_replace(s, std::regex(R"(\s+)"), " ");
  s = std::regex_replace(s, std::regex(R"(\s*\*\s*)"), "*");
  s = std::regex_replace(s, std::regex(R"(\*([A-Za-z_]))"), "* $1");
  s = std::regex_replace(s, std::regex(R"(\s*([\[\],()])\s*)"), "$1");
  s = std::regex_replace(s, std::regex(R"(\]([A-Za-z_]))"), "] $1");
  s = std::regex_replace(s, std::regex(R"(\)([A-Za-z_]))"), ") $1");
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Normalises each parameter of a list, splitting at the commas outside
// brackets and parentheses.
std::string JoinParams(const std::string& list) {
  std::string out, cur;
  int depth = 0;
  for (char c : list + ",") {
    depth += (c == '[' || c == '(') - (c == ']' || c == ')');
    if (c != ',' || depth != 0) {
      cur += c;
    } else if (!Normalize(cur).empty()) {
      out += (out.empty() ? "" : ", ") + Normalize(cur);
      cur.clear();
    }
  }
  return out;
}

// The body of a block that starts at `from`: up to the first "};" at the
// start of a line.
std::string BlockBody(const std::string& text, size_t from) {
  size_t end = text.find("\n};", from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string Attribute(const std::string& attrs, const char* name) {
  std::smatch m;
  std::regex re(std::string(R"(\b)") + name + R"(\s*\(\s*("?)([^")]*)\1\s*\))");
  return std::regex_search(attrs, m, re) ? m[2].str() : std::string("<none>");
}

Interfaces Parse(const std::string& raw, bool idl) {
  std::string text = StripComments(raw);
  std::regex itfRe(idl ? R"(\[([^\[\]]*)\]\s*interface\s+(\w+)\s*:\s*IDispatch\s*\{)"
                       : R"(()\b(IMirlParser\w*)\s*:\s*public\s+IDispatch\s*\{)");
  std::regex methodRe(
      idl ? R"(\[([^\]]*)\]\s*HRESULT\s+(\w+)\s*\(([^;]*)\)\s*;)"
          : R"(()virtual\s+HRESULT\s+STDMETHODCALLTYPE\s+(\w+)\s*\(([^)]*)\)\s*=\s*0\s*;)");
  Interfaces result;
  for (std::sregex_iterator it(text.begin(), text.end(), itfRe), end; it != end; ++it) {
    std::vector<std::string>& lines = result[(*it)[2]];
    if (idl) lines.push_back("help=" + Attribute((*it)[1], "helpstring"));
    std::string body = BlockBody(text, size_t(it->position(0) + it->length(0)));
    for (std::sregex_iterator m(body.begin(), body.end(), methodRe); m != end; ++m) {
      std::string attrs = (*m)[1];
      lines.push_back((*m)[2].str() + "(" + JoinParams((*m)[3]) + ")");
      if (idl)
        lines.back() += " id=" + std::to_string(std::stol(Attribute(attrs, "id"), nullptr, 0)) +
                        " help=" + Attribute(attrs, "helpstring");
    }
  }
  return result;
}

// The same lines from the table: the IDL has the table's declarations, the
// C++ headers spell them without attributes and with ULONG and LONG.
std::vector<std::string> Expected(const char* itf, bool idl) {
  std::vector<std::string> lines;
  if (idl) lines.push_back(std::string("help=") + itf + " Interface");
  for (const itable::Method& m : itable::kMethods) {
    if (std::strcmp(m.pszInterface, itf) != 0) continue;
    std::string params = m.pszParams;
    if (!idl) {
      params = std::regex_replace(params, std::regex(R"(\[[^\]]*\]\s*)"), "");
      params = std::regex_replace(params, std::regex(R"(SAFEARRAY\s*\([^)]*\))"), "SAFEARRAY*");
      params = std::regex_replace(params, std::regex(R"(\bunsigned long\b)"), "ULONG");
      params = std::regex_replace(params, std::regex(R"(\blong\b)"), "LONG");
    }
    lines.push_back(m.pszName + ("(" + JoinParams(params) + ")"));
    if (idl) lines.back() += " id=" + std::to_string(m.lDispId) + " help=method " + m.pszName;
  }
  return lines;
}

// A GUID in the spelling of the IDL's uuid attribute.
std::string GuidText(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

Guids IdlGuids(const std::string& text) {
  Guids g;
  std::regex re(R"(\[([^\[\]]*)\]\s*(interface|coclass|library)\s+(\w+))");
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) {
    std::string kind = (*it)[2], name = (*it)[3];
    std::string prefix = kind == "interface" ? "IID_" : kind == "coclass" ? "CLSID_" : "LIBID_";
    // The class names its interfaces again ("[default] interface X;"); the
    // declaration comes first.
    std::string uuid = Attribute((*it)[1], "uuid");
    for (char& c : uuid) c = char(std::toupper(static_cast<unsigned char>(c)));
    g.emplace(prefix + name, uuid);
  }
  return g;
}

// The C++ headers: the Linux one, and the widl-generated one where it is built.
std::vector<std::pair<std::string, std::string>> Headers() {
  std::vector<std::pair<std::string, std::string>> h = {
      {"MirlParserUbrof.h", SourceFile("/component/MirlParserUbrof.h")}};
  if (*MIRL_GENERATED_HEADER) h.push_back({"MirlParserUbrof_i.h", Slurp(MIRL_GENERATED_HEADER)});
  return h;
}

}  // namespace

TEST(InterfaceDescription, IdlDeclaresTheTableInOrder) {
  std::string idl = StripComments(SourceFile("/component/MirlParserUbrof.idl"));
  Interfaces parsed = Parse(idl, true);
  EXPECT_EQ(parsed.size(), 4u);
  for (const char* itf : itable::kInterfaces) EXPECT_EQ(parsed[itf], Expected(itf, true)) << itf;
  std::set<std::pair<std::string, long>> ids;
  for (const itable::Method& m : itable::kMethods)
    EXPECT_TRUE(ids.insert({m.pszInterface, m.lDispId}).second) << "dispatch id used twice";
  // The library and the class: version, locale, help strings, and the four
  // interfaces with IMirlParser as the default.
  std::smatch lib;
  ASSERT_TRUE(std::regex_search(idl, lib, std::regex(R"(\[([^\[\]]*)\]\s*library\s+(\w+))")));
  EXPECT_EQ(lib[2].str(), "MIRLPARSERUBROFLib");
  EXPECT_EQ(Attribute(lib[1], "version"), "1.0");
  EXPECT_EQ(std::stol(Attribute(lib[1], "lcid"), nullptr, 0), 0x409);
  EXPECT_EQ(Attribute(lib[1], "helpstring"), "MirlParserUbrof 1.0 Type Library");
  std::smatch cls;
  ASSERT_TRUE(
      std::regex_search(idl, cls, std::regex(R"(\[([^\[\]]*)\]\s*coclass\s+(\w+)\s*\{([^}]*)\})")));
  EXPECT_EQ(cls[2].str(), "MirlParserUbrof");
  EXPECT_EQ(Attribute(cls[1], "helpstring"), "MirlParserUbrof Class");
  EXPECT_EQ(Normalize(cls[3]),
            "[default] interface IMirlParser; interface IMirlParser2; interface IMirlParser3; "
            "interface IMirlParserMem;");
}

TEST(InterfaceDescription, HeadersMatchTheTable) {
  for (const auto& [file, text] : Headers()) {
    Interfaces parsed = Parse(text, false);
    for (const char* itf : itable::kInterfaces)
      EXPECT_EQ(parsed[itf], Expected(itf, false)) << file << " " << itf;
  }
}

// The GUIDs, and the parser's own status codes: #define in the Linux header,
// cpp_quote in the IDL (so that they reach the generated header).
TEST(InterfaceDescription, GuidsAndStatusCodesAgree) {
  std::string idlText = SourceFile("/component/MirlParserUbrof.idl");
  Guids idl = IdlGuids(StripComments(idlText));
  std::regex re(R"(#define\s+(PARSER_E_\w+)\s+\(\(HRESULT\)(0x[0-9A-Fa-f]+)\))");
  auto codes = [&](const std::string& text) {
    std::map<std::string, unsigned long> m;
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
      m[(*it)[1]] = std::stoul((*it)[2], nullptr, 16);
    return m;
  };
  std::map<std::string, unsigned long> idlCodes = codes(idlText);
  EXPECT_EQ(idlCodes.size(), 7u);
  std::set<std::string> distinct;
  for (const auto& [name, guid] : kOurIds) {
    EXPECT_EQ(GuidText(*guid), idl[name]) << name;
    distinct.insert(idl[name]);
  }
  EXPECT_EQ(distinct.size(), 6u);
  for (const auto& [file, text] : Headers()) EXPECT_EQ(codes(text), idlCodes) << file;
}
