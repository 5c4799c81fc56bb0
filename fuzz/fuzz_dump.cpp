// libFuzzer target of ubrofdump: every view, lookup and export of the tool,
// text and JSON, on any bytes read as an object file. The JSON document is
// dumped strictly, so that a name that is not UTF-8 there is a finding.
#include <cstdlib>
#include <fstream>
#include <string>

#include "../tests/ScratchFolder.h"
#include "dump/Run.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = scratch::Folder(), path = dir + "/input.d90";
  if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size)))
    return 0;

  dump::Session session;
  // Odd sizes read names through iconv, even ones by the default.
  session.Names().Select(size % 2 ? "CP1251" : "");
  std::string error;
  if (!session.Create(&error)) std::abort();
  session.AddRemap("C:\\src", "/src", &error);
  if (session.Open(path, &error)) {
    dump::Request r;
    r.summary = r.modules = r.scopes = r.symbols = r.labels = r.nm = r.types = r.sources = r.lines =
        r.memory = true;
    r.nmByName = size % 3 == 0;
    r.nmGlobals = r.nmDefined = size % 5 == 0;
    r.range = true;
    r.rangeEnd = 0x40;
    for (uint32_t a : {0u, 2u, 0x64u, 0x100u, 0xFFFFFFFFu}) r.addresses.push_back(a);
    r.lineQueries = {{"main.c", 1}, {"x", 10}};
    r.symbolNames = {"main"};
    if (!session.Symbols().empty())
      r.symbolNames.push_back(session.SymbolName(uint32_t(size % session.Symbols().size())));
    r.ihex = dir + "/out.hex";
    r.bin = dir + "/out.bin";
    r.elf = dir + "/out.elf";
    dump::Json doc;
    std::string text;
    std::vector<std::string> errors;
    dump::RunRequest(session, r, &doc, &text, &errors);
    r = dump::Request();
    r.memType = 2;
    r.addresses = {0, 0x20, 0x100};
    dump::RunRequest(session, r, &doc, &text, &errors);
    // Throws (and so stops the fuzzer) on anything that is not UTF-8.
    std::string json = doc.dump(2);
    if (json.empty() || text.empty()) std::abort();
  }
  scratch::Clear();  // the input, the exports and extracted sources
  return 0;
}
