// Shared helpers for the unit tests: temporary object files, automation
// strings that free themselves, and a component parsed from writer output.
#ifndef MIRL_TESTS_TESTSUPPORT_H
#define MIRL_TESTS_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "../component/MirlProgram.h"
#include "../platform/Platform.h"
#include "../ubrof/Parser.h"
#include "NewParser.h"
#include "UbrofWriter.h"

namespace testsupport {

// A temporary directory for object files, removed with its contents.
std::string TempDir();
std::string UniquePath(const std::string& stem, const std::string& ext = ".d90");
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string ReadText(const std::string& path, bool* pbExists = nullptr);

// A component made through the class factory, as a host makes it, that
// releases itself. Tests ask it through its interfaces and the read API.
class Component {
 public:
  Component();
  ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;
  IMirlParser* operator->() const { return m_p; }
  IMirlParser* Itf() const { return m_p; }
  IMirlParserMem* Mem() const { return m_pMem; }
  IMirlParser3* P3() const { return m_p3; }
  mirl::api::Program Program() const { return mirl::api::Program(m_p); }
  // GetDies as a list of handles, checked to be a zero-based array of them.
  std::vector<LONG> Dies(LONG parent, LONG tag) const;

  // Init and parse the writer's bytes; returns the status of ParseObjectFile.
  HRESULT Parse(const ubrofw::Writer& w, const std::string& stem = "t");
  HRESULT ParsePath(const std::string& path);
  const std::string& Path() const { return m_path; }

 private:
  IMirlParser* m_p = nullptr;
  IMirlParserMem* m_pMem = nullptr;
  IMirlParser3* m_p3 = nullptr;
  std::string m_path;
};

// Tables of a test's own for a CParser, for the tests of the reader itself
// (a record walk, or searches over tables that were never indexed).
struct OwnTables {
  mirl::FileInfo file;
  mirl::NameTable names;
  mirl::TypeTable types{&names};
  std::vector<mirl::SegmentGroupRecord> groups;
  std::vector<mirl::ModuleRecord> modules;
  mirl::SymbolTable symbols{&names, &types};
  mirl::LabelIndex labels;
  std::vector<mirl::MacroRecord> macros;
  mirl::DMemory code{0x20000, 0xFF}, eeprom{4096, 0xFF}, data{4096, 0xFF};
  std::vector<mirl::SourceFileRecord> files;
  std::vector<mirl::StatementRecord> statements;
  std::vector<mirl::StatementRun> runs;
  mirl::ScopeTable scopes{&names, &symbols, &macros, &groups, &runs, &statements};
  mirl::FileNameMap fileNames;
  OwnTables() { symbols.m_pGroups = &groups; }
  mirl::ParserTables Get() {
    return {&file,   &names, &types,  &groups, &modules, &scopes,     &symbols,   &labels,
            &macros, &code,  &eeprom, &data,   &files,   &statements, &fileNames, &runs};
  }
};

// Tables of the test's own, filled by a parser from `path` and never
// indexed, search by scanning the symbol lists; the component's indexed
// lookups (outward from every scope, whole program, one scope) must give
// the same symbol, scope and first match among duplicates, for every
// `every`-th name and a missing one.
void ExpectIndexAnswersAsScans(const Component& c, const std::string& path, uint32_t every);

// Collects the version messages shown through the platform layer.
struct MessageCapture {
  MessageCapture();
  ~MessageCapture();
  static std::atomic<int> count;
  static std::string lastText, lastCaption;
};

}  // namespace testsupport

// Every test names these two without their namespace.
using testsupport::Bstr;
using testsupport::Component;

#endif
