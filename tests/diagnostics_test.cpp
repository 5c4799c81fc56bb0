// What the read API lists beyond the interfaces: written memory runs, the
// end of a failed parse, owners of symbols, statements and labels, read
// through any interface pointer of the component.
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "../ubrof/WrittenRanges.h"
#include "TestSupport.h"

using mirl::MemoryWrites;
using mirl::WrittenRanges;
using namespace mirl::api;
using testsupport::Component;

namespace {

typedef std::vector<std::pair<uint32_t, uint32_t>> Runs;

// Not a parser: answers no interface.
struct Stranger : IUnknown {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST(ReadApi, ArgumentsAreChecked) {
  Stranger stranger;
  EXPECT_THROW(Program{nullptr}, std::invalid_argument);
  EXPECT_THROW(Program{&stranger}, std::invalid_argument);
  Component c;
  // Any of the interfaces leads to the same object.
  const Program p(c.Mem());
  Scope s;
  Type t;
  EXPECT_FALSE(p.GetScope(kNoId, &s));
  EXPECT_FALSE(p.GetType(kNoId, &t));
  const Image none = p.Memory(0x40);
  EXPECT_TRUE(none.lowest > none.highest && none.written.empty());
  EXPECT_EQ(p.Count().modules, 0u);
  EXPECT_FALSE(p.Initialized());
  EXPECT_FALSE(p.LastParse().failed) << "nothing was parsed, so nothing failed";
}

TEST(ReadApi, FailedParseSaysWhereAndInWhichRecord) {
  ubrofw::Writer w;
  w.Start();
  size_t record = w.Size();
  w.BegLib("module").Raw({0x53, 0x00});  // t_aux cut inside its word
  Component c;
  ASSERT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  const ParseEnd d = c.Program().LastParse();
  EXPECT_EQ(d.message, "Error: Unexpected end of file");
  EXPECT_EQ(d.tagName, "t_aux");
  int64_t auxRecord = int64_t(record) + 7 + 1 + 6;  // after t_beg_lib: tag, 6 bytes, name
  EXPECT_EQ(std::make_tuple(d.failed, d.recordOffset, d.tag, d.offset, d.rejectedVersion),
            std::make_tuple(true, auxRecord, 0x53, int64_t(w.Size()), 0u));
  // What the parse read before it failed is still listed.
  const std::vector<Module> m = c.Program().Modules();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(std::make_tuple(m[0].name, m[0].scope), std::make_tuple("module", 0u));
}

TEST(ReadApi, MessageSinkReceivesTheVersionMessage) {
  static std::string seen;
  seen.clear();
  SetMessageSink([](const char* text, const char*) { seen = text; });
  ubrofw::Writer w;
  w.Version(12, 0, 0).Finish();
  Component c;
  EXPECT_EQ(c.Parse(w), PARSER_E_INVALID_FILE);
  SetMessageSink(nullptr);
  EXPECT_NE(seen.find("UBROF8 or earlier"), std::string::npos) << seen;
}

}  // namespace
