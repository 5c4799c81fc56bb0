// Writes the object files of the golden-output tests into one directory:
// the fixtures of Fixtures.h and a copy of the example (so that its
// embedded source is extracted below the build tree, not the sources).
//   make_dump_fixtures OUTDIR EXAMPLE
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "Fixtures.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_dump_fixtures OUTDIR EXAMPLE\n");
    return 2;
  }
  std::string dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  struct {
    const char* name;
    ubrofw::Writer w;
  } files[] = {
      {"edges.d90", dumpfix::Edges()},
      {"eeprom.d90", dumpfix::Eeprom()},
      {"cut.d90", dumpfix::CutInsideRecord()},
      {"no-end.d90", dumpfix::MissingEnd()},
      {"unknown-tag.d90", dumpfix::UnknownTag()},
      {"old-scope.d90", dumpfix::OldScopeRecord()},
      {"newer.d90", dumpfix::Newer()},
  };
  for (const auto& f : files) {
    if (!f.w.Save(dir + "/" + f.name)) {
      std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), f.name);
      return 1;
    }
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::ofstream out(dir + "/example.d90", std::ios::binary);
  out << in.rdbuf();
  if (!in || !out) {
    std::fprintf(stderr, "cannot copy %s\n", argv[2]);
    return 1;
  }
  // A folder where the embedded source cannot be extracted: a file takes
  // the name of the folder it would go to.
  std::filesystem::create_directories(dir + "/blocked", ec);
  std::filesystem::copy_file(argv[2], dir + "/blocked/example.d90",
                             std::filesystem::copy_options::overwrite_existing, ec);
  std::ofstream(dir + "/blocked/embedded_source") << "";
  std::ofstream(dir + "/addresses.txt") << "4 0x6\nnot-an-address 20000\n";
  std::ofstream text(dir + "/not-ubrof.d90", std::ios::binary);
  text << ":10010000214601360121470136007EFE09D2190140\n";
  return text ? 0 : 1;
}
