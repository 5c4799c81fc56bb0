// ubrofdump: shows what the UBROF parser component reads from an object
// file, with the habits of readelf, llvm-dwarfdump, addr2line and objcopy.
// It drives the component the way a debugger host does (class factory,
// Init, ParseObjectFile, then the interface queries) and takes from the
// read API (MirlProgram.h) only what the interfaces cannot list.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "dump/Format.h"
#include "dump/Session.h"
#include "dump/Views.h"

using dump::Json;

namespace {

struct Options {
  std::string file;
  bool json = false;
  bool all = false, summary = false, modules = false, scopes = false, symbols = false;
  bool labels = false, types = false, sources = false, lines = false, memory = false;
  std::string range, memoryType = "program";
  std::vector<std::string> addresses, lineQueries, symbolQueries;
  std::string ihex, eepromIhex, bin;
  std::vector<std::string> remaps;
  std::string baseDir;
  bool baseDirGiven = false;
};

const char* kFooter = R"(Addresses and lengths are hexadecimal, with or without 0x (as addr2line
reads them). Lines and columns are counted from 1, as compilers print them.
Without any view, lookup or export the summary is shown.

Examples:
  ubrofdump prog.d90                           summary
  ubrofdump --all prog.d90                     every view
  ubrofdump --symbols --json prog.d90          the symbol table as JSON
  ubrofdump prog.d90 --addr 1c4 0x2a0          source position and scopes of addresses
  ubrofdump prog.d90 --line main.c:42          address of a source line
  ubrofdump prog.d90 --symbol counter          where a symbol lives
  ubrofdump prog.d90 --range 0x100+40          hex dump of program memory
  ubrofdump prog.d90 --ihex prog.hex           program memory as Intel HEX
  ubrofdump prog.d90 --remap 'C:\src\main.c=/home/me/src/main.c' --lines

Exit status: 0 on success; 1 when the file cannot be read, a lookup finds
nothing or an export cannot be written; 2 for a wrong command line.)";

void Fail(const Options& o, const std::string& message) {
  std::fprintf(stderr, "ubrofdump: %s%s\n", o.file.empty() ? "" : (o.file + ": ").c_str(),
               message.c_str());
}

// Names and paths are the bytes the file or the command line gave, not
// always UTF-8 (a Latin-1 module name); JSON shows such bytes as U+FFFD
// rather than refusing the whole document.
std::string JsonText(const Json& j) {
  return j.dump(2, ' ', false, Json::error_handler_t::replace);
}

// A JSON document for a file that could not be read, so that scripts get
// one well-formed document either way.
void PrintErrorJson(const Options& o, const std::string& message) {
  Json j;
  j["file"] = o.file;
  j["error"] = {{"message", message}};
  std::cout << JsonText(j) << "\n";
}

// "FILE:LINE", split at the last colon so that C:\src\main.c:12 works.
bool SplitFileLine(const std::string& text, std::string* pFile, uint32_t* pLine) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  *pFile = text.substr(0, colon);
  return dump::ParseDecimal(text.substr(colon + 1), pLine) && *pLine > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{
      "ubrofdump: show the contents of a UBROF object file (IAR linker debug output, up to "
      "UBROF8)",
      "ubrofdump"};
  app.footer(kFooter);
  app.get_formatter()->column_width(34);
  app.add_option("FILE", o.file, "UBROF object file (.d90, .dbg, ...)")->type_name("");

  const char* views = "Views (combinable)";
  app.add_flag("-a,--all", o.all, "Every view below")->group(views);
  app.add_flag("--summary", o.summary, "Version, time of build, counts, memory bounds (default)")
      ->group(views);
  app.add_flag("-m,--modules", o.modules, "Modules with their code ranges and tool versions")
      ->group(views);
  app.add_flag("-s,--scopes", o.scopes, "Scope tree: modules, functions, blocks, code ranges")
      ->group(views);
  app.add_flag("-y,--symbols", o.symbols, "Symbols: location, class, type, scope, ranges")
      ->group(views);
  app.add_flag("--labels", o.labels, "Labels by program address")->group(views);
  app.add_flag("-t,--types", o.types, "Types: size, class, memory, members; memory attributes")
      ->group(views);
  app.add_flag("--sources", o.sources, "Source files: paths, time stamps, embedded flag")
      ->group(views);
  app.add_flag("-l,--lines", o.lines, "Statement table: address, length, file:line:column")
      ->group(views);
  app.add_flag("--memory", o.memory, "Memory images: bounds and written runs")->group(views);
  app.add_option("--range", o.range, "Hex dump of START:END (END excluded) or START+LEN")
      ->type_name("RANGE")
      ->group(views);
  app.add_option("--memory-type", o.memoryType, "Memory that --range dumps (default program)")
      ->type_name("program|data|eeprom")
      ->group(views);

  const char* lookups = "Lookups";
  app.add_option("--addr", o.addresses,
                 "File:line:column and scope chain of addresses (addr2line -f)")
      ->type_name("ADDR")
      ->expected(1, -1)
      ->delimiter(',')
      ->group(lookups);
  app.add_option("--line", o.lineQueries, "Program address of a source line (repeatable)")
      ->type_name("FILE:LINE")
      ->allow_extra_args(false)
      ->group(lookups);
  app.add_option("--symbol", o.symbolQueries,
                 "Every symbol of this name and its location (repeatable)")
      ->type_name("NAME")
      ->allow_extra_args(false)
      ->group(lookups);

  const char* exports = "Export (like objcopy)";
  app.add_option("--ihex", o.ihex, "Program memory as Intel HEX, exactly the written bytes")
      ->type_name("OUT")
      ->group(exports);
  app.add_option("--eeprom-ihex", o.eepromIhex, "EEPROM as Intel HEX")
      ->type_name("OUT")
      ->group(exports);
  app.add_option("--bin", o.bin, "Program memory as a raw image from its lowest address")
      ->type_name("OUT")
      ->group(exports);

  const char* paths = "Source paths";
  app.add_option("--remap", o.remaps, "Show stored source path OLD as NEW; NEW works in --line")
      ->type_name("OLD=NEW")
      ->allow_extra_args(false)
      ->group(paths);
  CLI::Option* baseDir =
      app.add_option("--base-dir", o.baseDir, "Directory against which relative paths resolve")
          ->type_name("DIR")
          ->group(paths);

  app.add_flag("-j,--json", o.json, "One JSON document instead of text")->group("Output");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  o.baseDirGiven = baseDir->count() > 0;

  // "--addr 1c4 prog.d90": the address list swallowed the file name.
  if (o.file.empty() && !o.addresses.empty()) {
    uint32_t unused;
    if (!dump::ParseHex(o.addresses.back(), &unused)) {
      o.file = o.addresses.back();
      o.addresses.pop_back();
    }
  }
  if (o.file.empty()) {
    std::fprintf(stderr, "ubrofdump: no object file given (see ubrofdump --help)\n");
    return 2;
  }

  // Check every argument before reading the file.
  std::vector<uint32_t> addresses;
  for (const std::string& a : o.addresses) {
    uint32_t v = 0;
    if (!dump::ParseHex(a, &v)) {
      std::fprintf(stderr, "ubrofdump: --addr %s: not a hexadecimal address\n", a.c_str());
      return 2;
    }
    addresses.push_back(v);
  }
  std::vector<std::pair<std::string, uint32_t>> lineQueries;
  for (const std::string& q : o.lineQueries) {
    std::string file;
    uint32_t line = 0;
    if (!SplitFileLine(q, &file, &line)) {
      std::fprintf(stderr, "ubrofdump: --line %s: expected FILE:LINE with LINE from 1\n",
                   q.c_str());
      return 2;
    }
    lineQueries.emplace_back(file, line);
  }
  uint32_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  if (!o.range.empty()) {
    std::string why;
    if (!dump::ParseRange(o.range, &rangeStart, &rangeEnd, &why)) {
      std::fprintf(stderr, "ubrofdump: --range %s: %s\n", o.range.c_str(), why.c_str());
      return 2;
    }
    if (rangeEnd - rangeStart > (64u << 20)) {
      std::fprintf(stderr, "ubrofdump: --range %s: at most 64 MiB can be dumped\n",
                   o.range.c_str());
      return 2;
    }
  }
  if (o.memoryType != "program" && o.memoryType != "data" && o.memoryType != "eeprom") {
    std::fprintf(stderr, "ubrofdump: --memory-type %s: expected program, data or eeprom\n",
                 o.memoryType.c_str());
    return 2;
  }
  std::vector<std::pair<std::string, std::string>> remaps;
  for (const std::string& r : o.remaps) {
    size_t eq = r.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::fprintf(stderr, "ubrofdump: --remap %s: expected OLD=NEW\n", r.c_str());
      return 2;
    }
    remaps.emplace_back(r.substr(0, eq), r.substr(eq + 1));
  }

  if (o.all)
    o.summary = o.modules = o.scopes = o.symbols = o.labels = o.types = o.sources = o.lines =
        o.memory = true;
  bool anything = o.summary || o.modules || o.scopes || o.symbols || o.labels || o.types ||
                  o.sources || o.lines || o.memory || !o.range.empty() || !addresses.empty() ||
                  !lineQueries.empty() || !o.symbolQueries.empty() || !o.ihex.empty() ||
                  !o.eepromIhex.empty() || !o.bin.empty();
  if (!anything) o.summary = true;

  dump::Session session;
  std::string error;
  bool ok = session.Create(&error);
  if (ok && o.baseDirGiven) ok = session.SetBaseDirectory(o.baseDir, &error);
  for (size_t i = 0; ok && i < remaps.size(); ++i)
    ok = session.AddRemap(remaps[i].first, remaps[i].second, &error);
  if (ok) ok = session.Open(o.file, &error);
  if (!ok) {
    Fail(o, error);
    if (o.json) PrintErrorJson(o, error);
    return 1;
  }

  int status = 0;
  Json doc;
  doc["file"] = o.file;
  std::vector<std::string> sections;
  if (o.summary) {
    doc["summary"] = dump::SummaryJson(session);
    sections.push_back(dump::SummaryText(doc["summary"]));
  }
  if (o.modules) {
    doc["modules"] = dump::ModulesJson(session);
    sections.push_back(dump::ModulesText(doc["modules"]));
  }
  if (o.scopes) {
    doc["scopes"] = dump::ScopesJson(session);
    sections.push_back(dump::ScopesText(doc["scopes"]));
  }
  if (o.symbols) {
    doc["symbols"] = dump::SymbolsJson(session);
    sections.push_back(dump::SymbolsText(doc["symbols"]));
  }
  if (o.labels) {
    doc["labels"] = dump::LabelsJson(session);
    sections.push_back(dump::LabelsText(doc["labels"]));
  }
  if (o.types) {
    doc["types"] = dump::TypesJson(session);
    doc["memory_attributes"] = dump::MemoryAttributesJson(session);
    sections.push_back(dump::TypesText(doc["types"], doc["memory_attributes"]));
  }
  if (o.sources) {
    doc["sources"] = dump::SourcesJson(session);
    sections.push_back(dump::SourcesText(doc["sources"]));
  }
  if (o.lines) {
    doc["lines"] = dump::LinesJson(session);
    sections.push_back(dump::LinesText(doc["lines"]));
  }
  if (o.memory || !o.range.empty()) {
    Json memory = o.memory ? dump::MemoryJson(session) : Json::object();
    std::string text = o.memory ? dump::MemoryText(memory) : std::string();
    if (!o.range.empty()) {
      unsigned type = o.memoryType == "data" ? 2 : o.memoryType == "eeprom" ? 4 : 1;
      memory["dump"] = dump::HexDumpJson(session, type, rangeStart, rangeEnd);
      if (memory["dump"].contains("status")) status = 1;
      text += (text.empty() ? "" : "\n") + dump::HexDumpText(memory["dump"]);
    }
    doc["memory"] = memory;
    sections.push_back(text);
  }
  if (!addresses.empty() || !lineQueries.empty() || !o.symbolQueries.empty()) {
    Json lookups;
    std::string text;
    if (!addresses.empty()) {
      lookups["addresses"] = Json::array();
      for (uint32_t a : addresses) {
        Json r = dump::AddressLookupJson(session, a);
        if (!r["found"].get<bool>()) status = 1;
        text += dump::AddressLookupText(r);
        lookups["addresses"].push_back(r);
      }
    }
    if (!lineQueries.empty()) {
      lookups["lines"] = Json::array();
      for (const auto& q : lineQueries) {
        Json r = dump::LineLookupJson(session, q.first, q.second);
        if (!r["found"].get<bool>()) status = 1;
        text += dump::LineLookupText(r);
        lookups["lines"].push_back(r);
      }
    }
    if (!o.symbolQueries.empty()) {
      lookups["symbols"] = Json::array();
      for (const std::string& name : o.symbolQueries) {
        Json r = dump::SymbolLookupJson(session, name);
        if (!r["found"].get<bool>()) status = 1;
        text += dump::SymbolLookupText(r);
        lookups["symbols"].push_back(r);
      }
    }
    doc["lookups"] = lookups;
    sections.push_back(text);
  }

  // Exports write files and say nothing unless they fail (as objcopy); the
  // JSON document reports what was written.
  Json exported = Json::array();
  auto report = [&](bool done, const Json& r) {
    if (done) {
      exported.push_back(r);
    } else {
      Fail(o, error);
      status = 1;
    }
  };
  Json r;
  if (!o.ihex.empty()) report(dump::ExportIntelHex(session, 1, o.ihex, &r, &error), r);
  if (!o.eepromIhex.empty()) report(dump::ExportIntelHex(session, 4, o.eepromIhex, &r, &error), r);
  if (!o.bin.empty()) report(dump::ExportBinary(session, o.bin, &r, &error), r);
  if (!exported.empty()) doc["exports"] = exported;

  if (o.json) {
    std::cout << JsonText(doc) << "\n";
  } else {
    for (size_t i = 0; i < sections.size(); ++i) std::cout << (i ? "\n" : "") << sections[i];
  }
  std::cout.flush();
  return status;
}
