// A parser object made through the class factory, as a host makes one; for
// the tests, the fuzz target and the benchmarks. Aborts when the factory
// fails: nothing after it could be measured.
#ifndef MIRL_TESTS_NEWPARSER_H
#define MIRL_TESTS_NEWPARSER_H

#include <cstdlib>

#include "../platform/Platform.h"

inline IMirlParser* NewParser() {
  IClassFactory* factory = nullptr;
  IMirlParser* p = nullptr;
  if (FAILED(DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory))))
    std::abort();
  HRESULT hr = factory->CreateInstance(nullptr, IID_IMirlParser, reinterpret_cast<void**>(&p));
  factory->Release();
  if (FAILED(hr) || !p) std::abort();
  return p;
}

#endif
