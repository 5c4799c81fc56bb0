// libFuzzer target: parse any bytes as an object file, then drive every
// query method over whatever the parse left in the tables.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "../tests/QueryDriver.h"

static std::string InputPath() {
  // Embedded sources are extracted next to the object file, so each fuzzing
  // process gets a folder of its own.
  static std::string path = [] {
    char dir[] = "/tmp/mirl-fuzz-XXXXXX";
    const char* made = mkdtemp(dir);
    return std::string(made ? made : "/tmp") + "/input.d90";
  }();
  return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  CMirlParserUbrof* c = new CMirlParserUbrof();
  c->Init(0);
  BSTR b = platform::AnsiToBstr(path);
  c->ParseObjectFile(&b, 0);
  SysFreeString(b);
  querydriver::DriveAll(c);
  c->Release();
  return 0;
}
