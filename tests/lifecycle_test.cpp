// The parse lifecycle: states, status codes and the general information.
#include <gtest/gtest.h>

#include "TestSupport.h"

using testsupport::Bstr;
using testsupport::Component;
using testsupport::UniquePath;

namespace {
std::string Minimal() {
  ubrofw::Writer w;
  w.Start().Finish();
  std::string path = UniquePath("min");
  w.Save(path);
  return path;
}
}  // namespace

TEST(Lifecycle, ParseNeedsInitAndHappensOnce) {
  Component c;
  Bstr path(Minimal());
  EXPECT_EQ(c->ParseObjectFile(nullptr, 0), E_POINTER);
  EXPECT_EQ(c->ParseObjectFile(&path, 0), PARSER_E_NOT_INITIALIZED);
  ASSERT_EQ(c->Init(0), S_OK);
  EXPECT_EQ(c->ParseObjectFile(&path, 7), S_OK);  // flags are ignored
  EXPECT_EQ(c->ParseObjectFile(&path, 0), PARSER_E_ALREADY_PARSED);
  EXPECT_EQ(c->ParseObjectFile(nullptr, 0), E_POINTER);
  EXPECT_FALSE(path.null());  // the caller's string is left alone
  // Init again returns to the initialised state; a new parse is allowed.
  ASSERT_EQ(c->Init(0), S_OK);
  DATE d;
  EXPECT_EQ(c->GetTimeOfBuild(&d), PARSER_E_NOT_PARSED);
  EXPECT_EQ(c->ParseObjectFile(&path, 0), S_OK);
}

TEST(Lifecycle, InitWithEventsIsRefusedAndDefaultValuesNeedInit) {
  Component c;
  EXPECT_EQ(c->Init(1), E_FAIL);
  EXPECT_EQ(c->m_ulState, 0u);
  EXPECT_EQ(c->SetDefaultDataValue(1, 0), PARSER_E_NOT_INITIALIZED);
  EXPECT_EQ(c->SetDefaultDataValue(0x40, 0), PARSER_E_NOT_INITIALIZED);
  ASSERT_EQ(c->Init(0), S_OK);
  EXPECT_EQ(c->Init(3), E_FAIL);
  EXPECT_EQ(c->m_ulState, 1u);
  // One value per memory; the statement map and unknown types have none.
  for (unsigned char type : {1, 2, 4}) EXPECT_EQ(c->SetDefaultDataValue(type, type * 0x11), S_OK);
  EXPECT_EQ(c->SetDefaultDataValue(0x40, 0), PARSER_E_BAD_MEMORY_TYPE);
  EXPECT_EQ(c->SetDefaultDataValue(3, 0), PARSER_E_BAD_MEMORY_TYPE);
  EXPECT_EQ(
      std::vector<int>({c->m_CodeMemory.Fill(), c->m_DataMemory.Fill(), c->m_EepromMemory.Fill()}),
      std::vector<int>({0x11, 0x22, 0x44}));
}

TEST(Lifecycle, FailedParseKeepsStateAndAllowsRetry) {
  Component c;
  ASSERT_EQ(c->Init(0), S_OK);
  Bstr empty(""), missing(testsupport::TempDir() + "/does-not-exist.d90"), nullString;
  for (BSTR* b : {&empty, &missing, &nullString})
    EXPECT_EQ(c->ParseObjectFile(b, 0), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c->m_ulState, 1u);
  Bstr good(Minimal());
  EXPECT_EQ(c->ParseObjectFile(&good, 0), S_OK);
  EXPECT_EQ(c->m_ulState, 3u);
}

TEST(Lifecycle, ValidateChecksOnlyTheFirstByte) {
  Component c;  // needs neither Init nor a parse
  EXPECT_EQ(c->ValidateObjectFile(nullptr), E_POINTER);
  Bstr missing(testsupport::TempDir() + "/does-not-exist.d90"), none;
  EXPECT_EQ(c->ValidateObjectFile(&missing), PARSER_E_CANNOT_OPEN);
  EXPECT_EQ(c->ValidateObjectFile(&none), PARSER_E_CANNOT_OPEN);
  const std::pair<std::vector<uint8_t>, HRESULT> files[] = {
      {{}, PARSER_E_INVALID_FILE}, {{0x4D, 0xFF}, PARSER_E_INVALID_FILE}, {{0xA5, 0x01}, S_OK}};
  for (const auto& f : files) {
    std::string path = UniquePath("validate");
    testsupport::WriteFile(path, f.first);
    Bstr b(path);
    EXPECT_EQ(c->ValidateObjectFile(&b), f.second) << f.first.size();
    EXPECT_EQ(b.str(), path);
  }
  EXPECT_EQ(c->m_ulState, 0u);
}

TEST(Lifecycle, TargetInfoIsNotImplementedAfterAParse) {
  Component c;
  Bstr name("old");
  ULONG core = 5, model = 6;
  EXPECT_EQ(c->GetTargetInfo(&name, &core, nullptr), E_POINTER);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), PARSER_E_NOT_PARSED);
  ubrofw::Writer w;
  w.Start().Finish();
  ASSERT_EQ(c.Parse(w), S_OK);
  EXPECT_EQ(c->GetTargetInfo(&name, &core, &model), E_NOTIMPL);
  EXPECT_TRUE(name.null());
  EXPECT_EQ(core + model, 0u);
}

TEST(GeneralInfo, BeforeAndAfterAParse) {
  Component c;
  EXPECT_EQ(c->GetGeneralInfoString(nullptr), E_POINTER);
  Bstr info;
  ASSERT_EQ(c->GetGeneralInfoString(&info), S_OK);
  std::string text = info.str();
  std::string description = platform::LoadStringResource(101);
  EXPECT_EQ(text.rfind(description, 0), 0u);
  EXPECT_NE(text.find("\r\n\r\nThis parser is verified for reading UBROF version 8.0 rev. 1."),
            std::string::npos);
  EXPECT_EQ(text.find("Currently loaded"), std::string::npos);
  std::string thread =
      "\r\n\r\nThe module is running in thread ID: " + std::to_string(platform::CurrentThreadId());
  EXPECT_EQ(text.substr(text.size() - thread.size()), thread);

  ubrofw::Writer w;
  w.BegFile1(0, 30, 12, 24, 12, 99).Version(8, 1, 3).Finish();
  ASSERT_EQ(c.Parse(w), S_OK);
  BSTR after = nullptr;  // the method overwrites without releasing
  ASSERT_EQ(c->GetGeneralInfoString(&after), S_OK);
  std::string t2 = platform::BstrToAnsi(after);
  SysFreeString(after);
  EXPECT_NE(t2.find("\r\n\r\nCurrently loaded object file is: \"" + c.Path() +
                    "\", UBROF version 8.1 rev. 3, built on 12/24/1999 12:30:00 PM\r\n\r\nThe "
                    "module is running"),
            std::string::npos)
      << t2;
}
