// The interface description exists three times: the IDL (type library and
// Windows header), the hand-written Linux header, and the header widl
// generates from the IDL in the Windows build. All three must give the same
// GUIDs and the same methods in the same vtable order with the same
// parameters, or a host built against one would call the wrong slot of
// another. Each is read as text and compared with itable::kMethods.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "InterfaceTable.h"

#ifndef MIRL_GENERATED_HEADER
#define MIRL_GENERATED_HEADER ""  // only the Windows build runs widl
#endif

namespace {

struct Sig {
  std::string name;
  std::string params;  // normalised, ", "-separated
  long dispid = -1;
  std::string help;
};
using Interfaces = std::map<std::string, std::vector<Sig>>;
using Guids = std::map<std::string, std::vector<unsigned long>>;

const char* const kOurIds[] = {"IID_IMirlParser",       "IID_IMirlParser2",
                               "IID_IMirlParser3",      "IID_IMirlParserMem",
                               "CLSID_MirlParserUbrof", "LIBID_MIRLPARSERUBROFLib"};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(bool(f)) << "cannot read " << path;
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string SourceFile(const char* rel) { return Slurp(std::string(MIRL_SOURCE_DIR) + rel); }

std::string StripComments(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s.compare(i, 2, "//") == 0) {
      i = s.find('\n', i);
      if (i == std::string::npos) break;
      out += '\n';
    } else if (s.compare(i, 2, "/*") == 0) {
      i = s.find("*/", i + 2);
      if (i == std::string::npos) break;
      ++i;
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return out;
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

// Splits a parameter list at the commas outside brackets and parentheses.
std::vector<std::string> SplitParams(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  int depth = 0;
  for (char c : s) {
    if (c == '[' || c == '(') ++depth;
    if (c == ']' || c == ')') --depth;
    if (c == ',' && depth == 0) {
      out.push_back(Normalize(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!Normalize(cur).empty()) out.push_back(Normalize(cur));
  return out;
}

std::string JoinParams(const std::string& list) {
  std::string out;
  for (const std::string& p : SplitParams(list)) out += (out.empty() ? "" : ", ") + p;
  return out;
}

// The table's IDL declaration as the C++ headers spell it.
std::string CppParams(const std::string& idl) {
  std::string s = std::regex_replace(idl, std::regex(R"(\[[^\]]*\]\s*)"), "");
  s = std::regex_replace(s, std::regex(R"(SAFEARRAY\s*\([^)]*\))"), "SAFEARRAY*");
  s = std::regex_replace(s, std::regex(R"(\bunsigned long\b)"), "ULONG");
  s = std::regex_replace(s, std::regex(R"(\blong\b)"), "LONG");
  return JoinParams(s);
}

std::vector<const itable::Method*> TableOf(const std::string& itf) {
  std::vector<const itable::Method*> rows;
  for (const itable::Method& m : itable::kMethods)
    if (itf == m.pszInterface) rows.push_back(&m);
  return rows;
}

// The body of a block that starts at `from`: up to the first "};" at the
// start of a line.
std::string BlockBody(const std::string& text, size_t from) {
  size_t end = text.find("\n};", from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

Interfaces ParseCppHeader(const std::string& raw) {
  std::string text = StripComments(raw);
  Interfaces result;
  std::regex itfRe(R"(\b(IMirlParser\w*)\s*:\s*public\s+IDispatch\s*\{)");
  std::regex methodRe(R"(virtual\s+HRESULT\s+STDMETHODCALLTYPE\s+(\w+)\s*\(([^)]*)\)\s*=\s*0\s*;)");
  for (std::sregex_iterator it(text.begin(), text.end(), itfRe), end; it != end; ++it) {
    std::string body = BlockBody(text, size_t(it->position(0) + it->length(0)));
    std::vector<Sig>& sigs = result[(*it)[1]];
    for (std::sregex_iterator m(body.begin(), body.end(), methodRe); m != end; ++m)
      sigs.push_back({(*m)[1], JoinParams((*m)[2]), -1, ""});
  }
  return result;
}

std::string Attribute(const std::string& attrs, const char* name) {
  std::smatch m;
  std::regex re(std::string(R"(\b)") + name + R"(\s*\(\s*("?)([^")]*)\1\s*\))");
  return std::regex_search(attrs, m, re) ? m[2].str() : std::string("<none>");
}

Interfaces ParseIdl(const std::string& text, std::map<std::string, std::string>* pHelp) {
  Interfaces result;
  std::regex itfRe(R"(\[([^\[\]]*)\]\s*interface\s+(\w+)\s*:\s*IDispatch\s*\{)");
  std::regex methodRe(R"(\[([^\]]*)\]\s*HRESULT\s+(\w+)\s*\(([^;]*)\)\s*;)");
  for (std::sregex_iterator it(text.begin(), text.end(), itfRe), end; it != end; ++it) {
    (*pHelp)[(*it)[2]] = Attribute((*it)[1], "helpstring");
    std::string body = BlockBody(text, size_t(it->position(0) + it->length(0)));
    std::vector<Sig>& sigs = result[(*it)[2]];
    for (std::sregex_iterator m(body.begin(), body.end(), methodRe); m != end; ++m) {
      std::string attrs = (*m)[1];
      sigs.push_back({(*m)[2], JoinParams((*m)[3]), std::stol(Attribute(attrs, "id"), nullptr, 0),
                      Attribute(attrs, "helpstring")});
    }
  }
  return result;
}

// "6B1E2A42-3C1D-4F7A-9E21-5A0C7D3B1F01" as the 11 numbers of a GUID.
std::vector<unsigned long> GuidFromText(const std::string& s) {
  std::string hex = std::regex_replace(s, std::regex("-"), "");
  std::vector<unsigned long> v;
  if (hex.size() != 32) return v;
  v.push_back(std::stoul(hex.substr(0, 8), nullptr, 16));
  v.push_back(std::stoul(hex.substr(8, 4), nullptr, 16));
  v.push_back(std::stoul(hex.substr(12, 4), nullptr, 16));
  for (size_t i = 16; i < 32; i += 2) v.push_back(std::stoul(hex.substr(i, 2), nullptr, 16));
  return v;
}

std::vector<unsigned long> Numbers(const std::string& s) {
  std::vector<unsigned long> v;
  std::regex numRe(R"(0x[0-9A-Fa-f]+)");
  for (std::sregex_iterator it(s.begin(), s.end(), numRe), end; it != end; ++it)
    v.push_back(std::stoul(it->str(), nullptr, 16));
  return v;
}

Guids IdlGuids(const std::string& text) {
  Guids g;
  std::regex re(R"(\[([^\[\]]*)\]\s*(interface|coclass|library)\s+(\w+))");
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) {
    std::string kind = (*it)[2], name = (*it)[3];
    std::string prefix = kind == "interface" ? "IID_" : kind == "coclass" ? "CLSID_" : "LIBID_";
    // The class names its interfaces again ("[default] interface X;"); the
    // declaration comes first.
    g.emplace(prefix + name, GuidFromText(Attribute((*it)[1], "uuid")));
  }
  return g;
}

Guids HeaderGuids(const std::string& text) {
  Guids g;
  std::regex linuxRe(R"(\b((?:IID|CLSID|LIBID)_\w+)\s*=\s*\{([^;]*)\}\s*;)");
  std::regex widlRe(R"(DEFINE_GUID\(\s*((?:IID|CLSID|LIBID)_\w+)\s*,([^)]*)\))");
  for (const std::regex* re : {&linuxRe, &widlRe})
    for (std::sregex_iterator it(text.begin(), text.end(), *re), end; it != end; ++it)
      g[(*it)[1]] = Numbers((*it)[2]);
  return g;
}

void ExpectHeaderMatchesTable(const Interfaces& parsed, const char* what) {
  for (const itable::Interface& itf : itable::kInterfaces) {
    SCOPED_TRACE(std::string(what) + " " + itf.pszName);
    auto found = parsed.find(itf.pszName);
    ASSERT_NE(found, parsed.end());
    std::vector<const itable::Method*> rows = TableOf(itf.pszName);
    ASSERT_EQ(found->second.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(found->second[i].name, rows[i]->pszName) << "slot " << i;
      EXPECT_EQ(found->second[i].params, CppParams(rows[i]->pszParams)) << rows[i]->pszName;
    }
  }
}

}  // namespace

TEST(InterfaceDescription, IdlDeclaresTheTableInOrder) {
  std::string idl = StripComments(SourceFile("/component/MirlParserUbrof.idl"));
  std::map<std::string, std::string> help;
  Interfaces parsed = ParseIdl(idl, &help);
  EXPECT_EQ(parsed.size(), 4u);
  for (const itable::Interface& itf : itable::kInterfaces) {
    SCOPED_TRACE(itf.pszName);
    EXPECT_EQ(help[itf.pszName], itf.pszHelp);
    std::vector<const itable::Method*> rows = TableOf(itf.pszName);
    const std::vector<Sig>& sigs = parsed[itf.pszName];
    ASSERT_EQ(sigs.size(), rows.size());
    std::set<long> ids;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(sigs[i].name, rows[i]->pszName) << "slot " << i;
      EXPECT_EQ(sigs[i].dispid, rows[i]->lDispId) << rows[i]->pszName;
      EXPECT_EQ(sigs[i].params, JoinParams(rows[i]->pszParams)) << rows[i]->pszName;
      EXPECT_EQ(sigs[i].help, std::string("method ") + rows[i]->pszName);
      EXPECT_TRUE(ids.insert(sigs[i].dispid).second) << "dispatch id used twice";
    }
  }
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

TEST(InterfaceDescription, LinuxHeaderMatchesTheTable) {
  ExpectHeaderMatchesTable(ParseCppHeader(SourceFile("/component/MirlParserUbrof.h")),
                           "MirlParserUbrof.h");
}

TEST(InterfaceDescription, GeneratedHeaderMatchesTheTable) {
  if (std::string(MIRL_GENERATED_HEADER).empty())
    GTEST_SKIP() << "the widl-generated header is built by the Windows build only";
  ExpectHeaderMatchesTable(ParseCppHeader(Slurp(MIRL_GENERATED_HEADER)), "MirlParserUbrof_i.h");
}

TEST(InterfaceDescription, GuidsAgreeEverywhere) {
  Guids idl = IdlGuids(StripComments(SourceFile("/component/MirlParserUbrof.idl")));
  Guids linuxHeader = HeaderGuids(StripComments(SourceFile("/component/MirlParserUbrof.h")));
  std::vector<std::pair<const char*, Guids>> others = {{"MirlParserUbrof.h", linuxHeader}};
  if (!std::string(MIRL_GENERATED_HEADER).empty())
    others.push_back({"MirlParserUbrof_i.h", HeaderGuids(Slurp(MIRL_GENERATED_HEADER))});
  std::set<std::vector<unsigned long>> distinct;
  for (const char* id : kOurIds) {
    SCOPED_TRACE(id);
    ASSERT_EQ(idl[id].size(), 11u);
    distinct.insert(idl[id]);
    for (auto& other : others) EXPECT_EQ(other.second[id], idl[id]) << other.first;
  }
  EXPECT_EQ(distinct.size(), 6u);
}

// The parser's own status codes: #define in the Linux header, cpp_quote in
// the IDL (so that they reach the generated header).
TEST(InterfaceDescription, StatusCodesAgree) {
  std::regex re(R"(#define\s+(PARSER_E_\w+)\s+\(\(HRESULT\)(0x[0-9A-Fa-f]+)\))");
  auto codes = [&](const std::string& text) {
    std::map<std::string, unsigned long> m;
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
      m[(*it)[1]] = std::stoul((*it)[2], nullptr, 16);
    return m;
  };
  std::map<std::string, unsigned long> linuxCodes =
      codes(SourceFile("/component/MirlParserUbrof.h"));
  EXPECT_EQ(linuxCodes.size(), 7u);
  EXPECT_EQ(codes(SourceFile("/component/MirlParserUbrof.idl")), linuxCodes);
  if (!std::string(MIRL_GENERATED_HEADER).empty()) {
    EXPECT_EQ(codes(Slurp(MIRL_GENERATED_HEADER)), linuxCodes);
  }
}
