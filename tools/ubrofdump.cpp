// ubrofdump: prints what the UBROF parser component reads from an object
// file. It drives the component the way a debugger host does: class factory,
// Init, ParseObjectFile, then queries through the interfaces.
#include <cstdio>
#include <cstring>
#include <string>

#include "MirlParserUbrof.h"

static BSTR ToBstr(const std::string& s) {
  std::u16string w;
  for (unsigned char c : s) w += char16_t(c);  // paths and names here are ASCII
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

static std::string FromBstr(BSTR b) {
  std::string s;
  for (UINT i = 0, n = SysStringLen(b); i < n; ++i) {
    char16_t c = b[i];
    s += c < 0x80 ? char(c) : '?';
  }
  return s;
}

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(stderr, "usage: ubrofdump FILE\n");
    return argc == 2 ? 0 : 2;
  }
  IClassFactory* factory = nullptr;
  if (FAILED(DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)))) {
    std::fprintf(stderr, "ubrofdump: cannot get the class factory\n");
    return 1;
  }
  IMirlParser* parser = nullptr;
  HRESULT hr = factory->CreateInstance(nullptr, IID_IMirlParser, reinterpret_cast<void**>(&parser));
  factory->Release();
  if (FAILED(hr)) {
    std::fprintf(stderr, "ubrofdump: cannot create the parser (0x%08X)\n", unsigned(hr));
    return 1;
  }
  int status = 0;
  BSTR path = ToBstr(argv[1]);
  parser->Init(0);
  hr = parser->ValidateObjectFile(&path);
  if (hr == PARSER_E_CANNOT_OPEN) {
    std::fprintf(stderr, "ubrofdump: %s: cannot open the file\n", argv[1]);
    status = 1;
  } else if (hr == PARSER_E_INVALID_FILE) {
    std::fprintf(stderr, "ubrofdump: %s: not a UBROF object file\n", argv[1]);
    status = 1;
  } else if (FAILED(hr = parser->ParseObjectFile(&path, 0))) {
    std::fprintf(stderr, "ubrofdump: %s: the file could not be parsed (0x%08X)\n", argv[1],
                 unsigned(hr));
    status = 1;
  } else {
    BSTR info = nullptr;
    if (SUCCEEDED(parser->GetGeneralInfoString(&info))) {
      std::string text = FromBstr(info);
      std::string clean;
      for (char c : text)
        if (c != '\r') clean += c;
      std::printf("%s\n", clean.c_str());
    }
    SysFreeString(info);
    DATE built = 0;
    if (SUCCEEDED(parser->GetTimeOfBuild(&built))) std::printf("\nTime of build (DATE): %.6f\n", built);
  }
  SysFreeString(path);
  parser->Release();
  return status;
}
