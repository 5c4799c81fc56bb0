// libFuzzer target: parse any bytes as an object file, then drive every
// query method over whatever the parse left in the tables.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../component/MirlProgram.h"
#include "../tests/QueryDriver.h"

namespace {

// One folder per fuzzing process, in memory when the machine has a tmpfs at
// /dev/shm: the input is written there for every run, and embedded sources
// are extracted below it.
struct InputFolder {
  std::string dir, path, extracted;
  InputFolder() {
    struct stat st;
    std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
    std::string templ = base + "/mirl-fuzz-XXXXXX";
    if (!mkdtemp(&templ[0])) templ = base;
    dir = templ;
    path = dir + "/input.d90";
    extracted = dir + "/embedded_source";
  }
  // Extracted names come from the input, so they would pile up over
  // millions of runs; the folder is emptied after each run that made it.
  void RemoveExtracted() const {
    DIR* d = opendir(extracted.c_str());
    if (!d) return;
    while (const dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        unlink((extracted + "/" + e->d_name).c_str());
    }
    closedir(d);
    rmdir(extracted.c_str());
  }
  ~InputFolder() {
    RemoveExtracted();
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
};

const InputFolder& Folder() {
  static InputFolder folder;
  return folder;
}

bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (size && ok) {
    ssize_t n = write(fd, data, size);
    ok = n > 0;
    if (ok) {
      data += n;
      size -= size_t(n);
    }
  }
  return close(fd) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const InputFolder& folder = Folder();
  if (!WriteInput(folder.path, data, size)) return 0;

  IMirlParser* c = NewParser();
  BSTR b = platform::AnsiToBstr(folder.path);
  c->Init(0);
  c->ValidateObjectFile(&b);
  // Addresses beyond the data image read as this value.
  c->SetDefaultDataValue(2, 0x00);
  // UBROF 10 (byte 8: the version) through the read API, which alone reads it.
  if (size > 8 && data[8] == 10)
    mirl::api::ParseAnyVersion(c, folder.path);
  else
    c->ParseObjectFile(&b, 0);
  SysFreeString(b);
  querydriver::DriveAll(c);
  c->Release();
  folder.RemoveExtracted();
  return 0;
}
