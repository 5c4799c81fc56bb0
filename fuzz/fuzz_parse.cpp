// libFuzzer target: parse any bytes as an object file, then drive every
// query method over whatever the parse left in the tables.
#include <fstream>
#include <string>

#include "../component/MirlProgram.h"
#include "../tests/QueryDriver.h"
#include "../tests/ScratchFolder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Written for every run, in memory where there is a tmpfs.
  const std::string path = scratch::Folder() + "/input.d90";
  if (!std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size)))
    return 0;

  IMirlParser* c = NewParser();
  BSTR b = platform::AnsiToBstr(path);
  c->Init(0);
  c->ValidateObjectFile(&b);
  // Addresses beyond the data image read as this value.
  c->SetDefaultDataValue(2, 0x00);
  // UBROF 10 (byte 8: the version) through the read API, which alone reads it.
  if (size > 8 && data[8] == 10)
    mirl::api::ParseAnyVersion(c, path);
  else
    c->ParseObjectFile(&b, 0);
  SysFreeString(b);
  querydriver::DriveAll(c);
  c->Release();
  // Extracted names come from the input: they would pile up over millions of runs.
  scratch::Clear();
  return 0;
}
