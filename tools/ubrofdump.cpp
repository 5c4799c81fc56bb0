// ubrofdump: shows what the UBROF parser component reads from an object
// file, with the habits of readelf, llvm-dwarfdump, addr2line and objcopy.
// It drives the component the way a debugger host does (class factory,
// Init, then the interface queries), parses through the read API's
// ParseAnyVersion (which also reads UBROF 10) and takes from the read API
// (MirlProgram.h) only what the interfaces cannot list.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "dump/Format.h"
#include "dump/Run.h"
#include "dump/Session.h"
#include "dump/Views.h"
#include "elf/ElfExport.h"

using dump::Json;

namespace {

struct Options {
  std::vector<std::string> files;
  std::string file;  // the one being read, for messages
  bool json = false;
  // The views and exports are bound straight to what the run is asked.
  dump::Request req;
  bool all = false, globals = false, defined = false;
  std::string sort = "address";
  std::string range, memoryType = "program";
  std::vector<std::string> addresses, lineQueries, symbolQueries;
  std::vector<std::string> remaps;
  std::string baseDir;
  bool baseDirGiven = false;
  std::string charset;
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
  ubrofdump --nm --sort name a.d90 b.d90       symbols of two files, like nm
  ubrofdump prog.d90 --range 0x100+40          hex dump of program memory
  ubrofdump prog.d90 --ihex prog.hex           program memory as Intel HEX
  ubrofdump --elf prog.elf prog.d90            ELF with DWARF, for gdb and simavr
  ubrofdump prog.d90 --remap 'C:\src\main.c=/home/me/src/main.c' --lines

Several files: each is read on its own, and its views and lookups follow a
"File: NAME" header line (with --json: an array of one document per file);
the exit status is 1 when any of them fails. Exports take one file.

--nm prints one line per symbol: address, size (a function's code, a
variable's type; blank when unknown), a kind letter, the memory, the name.
Kind letters: T code, D data, E eeprom, A an absolute value (the linker's
constants), U a module's reference to a symbol that another module defines
(what --defined leaves out); upper case for a symbol at file level (what
--globals keeps), lower case for one local to a function or block.

--addr names the function around an address by its function scope, or else
by the nearest code symbol at or below it (said so: "from the symbol table").
An address without an answer prints ??:0, as addr2line does, and is no
failure. With --memory-type data, --addr names the variable at an address.

--elf writes an ELF32 executable with DWARF 4: program memory as .text,
data and eeprom as their own sections, the symbol table, and lines,
functions, blocks, variables and types (see README.md, "Debug a program with
gdb"). The target comes from the file (--machine overrides it). Where
data and eeprom go:
%TARGETS%

Exit status: 0 on success; 1 when the file cannot be read, --line or
--symbol finds nothing or an export cannot be written; 2 for a wrong
command line.)";

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
      "ubrofdump: show the contents of a UBROF object file (IAR linker debug output, UBROF8 "
      "and earlier, and UBROF 10)",
      "ubrofdump"};
  std::string footer = kFooter;
  footer.replace(footer.find("%TARGETS%"), 9, elfx::TargetHelp());
  app.footer(footer);
  app.get_formatter()->column_width(34);
  app.add_option("FILE", o.files, "UBROF object files (.d90, .dbg, ...)")->type_name("");
  bool version = false;
  app.add_flag("-V,--version", version, "The version of ubrofdump and of its parser");

  const char* views = "Views (combinable)";
  app.add_flag("-a,--all", o.all, "Every view below")->group(views);
  app.add_flag("--summary", o.req.summary,
               "Version, time of build, counts, memory bounds (default)")
      ->group(views);
  app.add_flag("-m,--modules", o.req.modules, "Modules with their code ranges and tool versions")
      ->group(views);
  app.add_flag("-s,--scopes", o.req.scopes, "Scope tree: modules, functions, blocks, code ranges")
      ->group(views);
  app.add_flag("-y,--symbols", o.req.symbols, "Symbols: location, class, type, scope, ranges")
      ->group(views);
  app.add_flag("--labels", o.req.labels,
               "Every name at each address, code before absolute constants")
      ->group(views);
  app.add_flag("--nm", o.req.nm, "Symbols like nm: address, size, kind letter, memory, name")
      ->group(views);
  app.add_option("--sort", o.sort, "Order of --nm (default address)")
      ->type_name("address|name")
      ->group(views);
  app.add_flag("--globals", o.globals, "--nm lists file-level symbols only")->group(views);
  app.add_flag("--defined", o.defined, "--nm leaves out references to other modules' symbols")
      ->group(views);
  app.add_flag("-t,--types", o.req.types, "Types: size, class, memory, members; memory attributes")
      ->group(views);
  app.add_flag("--sources", o.req.sources, "Source files: paths, time stamps, embedded flag")
      ->group(views);
  app.add_flag("-l,--lines", o.req.lines, "Statement table: address, length, file:line:column")
      ->group(views);
  app.add_flag("--memory", o.req.memory, "Memory images: bounds and written runs")->group(views);
  app.add_option("--range", o.range, "Hex dump of START:END (END excluded) or START+LEN")
      ->type_name("RANGE")
      ->group(views);
  app.add_option("--memory-type", o.memoryType,
                 "Memory that --range dumps and --addr looks up (default program)")
      ->type_name("program|data|eeprom")
      ->group(views);

  const char* lookups = "Lookups";
  app.add_option("--addr", o.addresses,
                 "Source position, function and scopes of addresses (addr2line -f); - reads "
                 "stdin")
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
  app.add_option("--ihex", o.req.ihex, "Program memory as Intel HEX, exactly the written bytes")
      ->type_name("OUT")
      ->group(exports);
  app.add_option("--eeprom-ihex", o.req.eepromIhex, "EEPROM as Intel HEX")
      ->type_name("OUT")
      ->group(exports);
  app.add_option("--bin", o.req.bin, "Program memory as a raw image from its lowest address")
      ->type_name("OUT")
      ->group(exports);

  app.add_option("--elf", o.req.elf, "ELF executable with DWARF debug information")
      ->type_name("OUT")
      ->group(exports);
  app.add_option("--machine", o.req.machine, "Target of --elf instead of the file's")
      ->type_name("avr|msp430|8051|none")
      ->group(exports);

  const char* paths = "Source paths";
  app.add_option("--remap", o.remaps,
                 "Show stored path or folder OLD (any case, either separator) as NEW")
      ->type_name("OLD=NEW")
      ->allow_extra_args(false)
      ->group(paths);
  CLI::Option* baseDir =
      app.add_option("--base-dir", o.baseDir, "Directory against which relative paths resolve")
          ->type_name("DIR")
          ->group(paths);

  app.add_flag("-j,--json", o.json, "One JSON document instead of text")->group("Output");
  app.add_option("--charset", o.charset,
                 "Code page of stored names (iconv's; default UTF-8, else Windows-1252)")
      ->type_name("NAME")
      ->group("Output");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "ubrofdump: %s (see ubrofdump --help)\n", e.what());
    return 2;
  }
  if (version) {
    std::printf("ubrofdump (MirlParserUbrof) %s\n", UBROFDUMP_VERSION);
    return 0;
  }
  o.baseDirGiven = baseDir->count() > 0;

  // "--addr 1c4 prog.d90": the address list swallowed the file names: the
  // words at its end that are files, or the last word when no file is given.
  uint32_t unused;
  std::vector<std::string> swallowed;
  while (
      !o.addresses.empty() && o.addresses.back() != "-" &&
      !dump::ParseHex(o.addresses.back(), &unused) &&
      (::access(o.addresses.back().c_str(), F_OK) == 0 || (o.files.empty() && swallowed.empty()))) {
    swallowed.insert(swallowed.begin(), o.addresses.back());
    o.addresses.pop_back();
  }
  o.files.insert(o.files.end(), swallowed.begin(), swallowed.end());
  if (o.files.size() > 1 &&
      !(o.req.ihex.empty() && o.req.eepromIhex.empty() && o.req.bin.empty() && o.req.elf.empty())) {
    std::fprintf(stderr,
                 "ubrofdump: --ihex, --eeprom-ihex, --bin and --elf take one object file\n");
    return 2;
  }
  if (o.files.empty()) {
    std::fprintf(stderr, "ubrofdump: no object file given (see ubrofdump --help)\n");
    return 2;
  }

  // Check every argument before reading the file.
  std::vector<uint32_t> addresses;
  bool addressesFromInput = false;
  for (const std::string& a : o.addresses) {
    uint32_t v = 0;
    if (a == "-") {
      addressesFromInput = true;
      continue;
    }
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
  if (o.sort != "address" && o.sort != "name") {
    std::fprintf(stderr, "ubrofdump: --sort %s: expected address or name\n", o.sort.c_str());
    return 2;
  }
  if (o.memoryType != "program" && o.memoryType != "data" && o.memoryType != "eeprom") {
    std::fprintf(stderr, "ubrofdump: --memory-type %s: expected program, data or eeprom\n",
                 o.memoryType.c_str());
    return 2;
  }
  elfx::Target target;
  if (!o.req.machine.empty() && !elfx::TargetNamed(o.req.machine, &target)) {
    std::fprintf(stderr, "ubrofdump: --machine %s: expected avr, msp430, 8051 or none\n",
                 o.req.machine.c_str());
    return 2;
  }
  unsigned memType = o.memoryType == "data" ? 2 : o.memoryType == "eeprom" ? 4 : 1;
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
    o.req.summary = o.req.modules = o.req.scopes = o.req.symbols = o.req.labels = o.req.nm =
        o.req.types = o.req.sources = o.req.lines = o.req.memory = true;
  dump::Request& req = o.req;
  req.nmByName = o.sort == "name";
  req.nmGlobals = o.globals;
  req.nmDefined = o.defined;
  req.range = !o.range.empty();
  req.rangeStart = rangeStart;
  req.rangeEnd = rangeEnd;
  req.memType = memType;
  req.addresses = addresses;
  req.lineQueries = lineQueries;
  req.symbolNames = o.symbolQueries;
  bool anything = req.summary || req.modules || req.scopes || req.symbols || req.labels || req.nm ||
                  req.types || req.sources || req.lines || req.memory || req.range ||
                  !addresses.empty() || addressesFromInput || !lineQueries.empty() ||
                  !o.symbolQueries.empty() || !req.ihex.empty() || !req.eepromIhex.empty() ||
                  !req.bin.empty() || !req.elf.empty();
  if (!anything) req.summary = true;
  {
    dump::Charset probe;
    if (!probe.Select(o.charset)) {
      std::fprintf(stderr, "ubrofdump: --charset %s: not a code page that iconv knows\n",
                   o.charset.c_str());
      return 2;
    }
  }

  // "--addr -": the addresses on standard input, as addr2line reads them.
  if (addressesFromInput) {
    std::string word;
    while (std::cin >> word) {
      uint32_t v = 0;
      if (dump::ParseHex(word, &v))
        req.addresses.push_back(v);
      else
        std::fprintf(stderr, "ubrofdump: standard input: %s: not a hexadecimal address\n",
                     word.c_str());
    }
  }

  // Each file is read by a parser of its own, as if alone; with several,
  // each one's output follows a header line (JSON: one document each, in
  // an array).
  int status = 0;
  bool several = o.files.size() > 1;
  Json documents = Json::array();
  for (size_t i = 0; i < o.files.size(); ++i) {
    o.file = o.files[i];
    dump::Session session;
    session.Names().Select(o.charset);
    std::string error;
    bool ok = session.Create(&error);
    if (ok && o.baseDirGiven) ok = session.SetBaseDirectory(o.baseDir, &error);
    for (size_t k = 0; ok && k < remaps.size(); ++k)
      ok = session.AddRemap(remaps[k].first, remaps[k].second, &error);
    if (ok) ok = session.Open(o.file, &error);
    for (size_t k = 0; ok && k < remaps.size(); ++k)
      if (session.RemapPrefix(remaps[k].first, remaps[k].second) == 0)
        Fail(o, "warning: --remap " + o.remaps[k] + " matched no source path");
    if (!o.json && several) std::cout << (i ? "\n" : "") << "File: " << o.file << "\n";
    if (!ok) {
      Fail(o, error);
      status = 1;
      if (o.json) documents.push_back({{"file", o.file}, {"error", {{"message", error}}}});
      continue;
    }
    Json doc;
    doc["file"] = o.file;
    std::string text;
    std::vector<std::string> errors;
    if (dump::RunRequest(session, req, &doc, &text, &errors)) status = 1;
    for (const std::string& e : errors) Fail(o, e);
    if (o.json)
      documents.push_back(doc);
    else
      std::cout << text;
    std::cout.flush();
    if (session.Names().FellBack())
      Fail(o,
           "note: some names are not UTF-8 and are shown as Windows-1252 (--charset NAME "
           "reads them in another code page)");
  }
  if (o.json) std::cout << JsonText(several ? documents : documents[0]) << "\n";
  return status;
}
