// Shared helpers for the unit tests: temporary object files, automation
// strings that free themselves, and a component parsed from writer output.
#ifndef MIRL_TESTS_TESTSUPPORT_H
#define MIRL_TESTS_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "../component/CMirlParserUbrof.h"
#include "UbrofWriter.h"

namespace testsupport {

// A temporary directory for object files, removed with its contents.
std::string TempDir();
std::string UniquePath(const std::string& stem, const std::string& ext = ".d90");
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string ReadText(const std::string& path, bool* pbExists = nullptr);

// An automation string owned by the test.
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

// A component that releases itself.
class Component {
 public:
  Component() : m_p(new CMirlParserUbrof()) {}
  ~Component() { m_p->Release(); }
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;
  CMirlParserUbrof* operator->() { return m_p; }
  CMirlParserUbrof* get() { return m_p; }

  // Init and parse the writer's bytes; returns the status of ParseObjectFile.
  HRESULT Parse(const ubrofw::Writer& w, const std::string& stem = "t");
  HRESULT ParsePath(const std::string& path);
  const std::string& Path() const { return m_path; }

 private:
  CMirlParserUbrof* m_p;
  std::string m_path;
};

// Collects the version messages shown through the platform layer.
struct MessageCapture {
  MessageCapture();
  ~MessageCapture();
  static std::atomic<int> count;
  static std::string lastText, lastCaption;
};

}  // namespace testsupport

#endif
