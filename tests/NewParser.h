// What the tests, the fuzz target and the benchmarks all need: a parser
// object made through the class factory, as a host makes one (aborting when
// the factory fails: nothing after it could be measured), and automation
// strings that free themselves.
#ifndef MIRL_TESTS_NEWPARSER_H
#define MIRL_TESTS_NEWPARSER_H

#include <cstdlib>
#include <string>

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

namespace testsupport {

// An automation string owned by its holder.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::string& s) : m_b(platform::AnsiToBstr(s)) {}
  ~Bstr() { SysFreeString(m_b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* operator&() { return &m_b; }
  BSTR get() const { return m_b; }
  std::string str() const { return platform::BstrToAnsi(m_b); }
  bool null() const { return m_b == nullptr; }
  void reset(const std::string& s) {
    SysFreeString(m_b);
    m_b = platform::AnsiToBstr(s);
  }

 private:
  BSTR m_b = nullptr;
};

}  // namespace testsupport

#endif
