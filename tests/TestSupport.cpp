#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "ScratchFolder.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {
// platform::Mutex, not std::mutex: the Windows test build has no std::mutex.
platform::Mutex g_mutex;
unsigned g_counter = 0;
}  // namespace

std::string TempDir() { return scratch::Folder(); }

std::string UniquePath(const std::string& stem, const std::string& ext) {
  platform::MutexLock lock(g_mutex);
  return (fs::path(TempDir()) / (stem + std::to_string(++g_counter) + ext)).string();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(f);
}

std::string ReadText(const std::string& path, bool* pbExists) {
  std::ifstream f(path, std::ios::binary);
  if (pbExists) *pbExists = bool(f);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

Component::Component() : m_p(NewParser()) {
  if (FAILED(m_p->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&m_pMem))) ||
      FAILED(m_p->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&m_p3))))
    std::abort();
}

Component::~Component() {
  m_p3->Release();
  m_pMem->Release();
  m_p->Release();
}

std::vector<LONG> Component::Dies(LONG parent, LONG tag) const {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(m_p3->GetDies(parent, tag, &v), S_OK);
  std::vector<LONG> out;
  if (v.vt != (VT_ARRAY | VT_I4)) return ADD_FAILURE() << "not an array of handles", out;
  const SAFEARRAY* a = v.parray;  // zero-based, of 4-byte handles
  EXPECT_EQ(std::make_tuple(a->rgsabound[0].lLbound, a->cbElements), std::make_tuple(0, 4u));
  out.assign(static_cast<LONG*>(a->pvData),
             static_cast<LONG*>(a->pvData) + a->rgsabound[0].cElements);
  VariantClear(&v);
  return out;
}

HRESULT Component::Parse(const ubrofw::Writer& w, const std::string& stem) {
  std::string path = UniquePath(stem);
  if (!w.Save(path)) return E_FAIL;
  return ParsePath(path);
}

HRESULT Component::ParsePath(const std::string& path) {
  m_path = path;
  HRESULT hr = m_p->Init(0);
  if (FAILED(hr)) return hr;
  Bstr b(path);
  return m_p->ParseObjectFile(&b, 0);
}

std::atomic<int> MessageCapture::count{0};
std::string MessageCapture::lastText;
std::string MessageCapture::lastCaption;

static void Capture(const char* text, const char* caption) {
  ++MessageCapture::count;
  MessageCapture::lastText = text;
  MessageCapture::lastCaption = caption;
}

MessageCapture::MessageCapture() {
  count = 0;
  lastText.clear();
  lastCaption.clear();
  platform::SetMessageBoxHook(&Capture);
}

MessageCapture::~MessageCapture() { platform::SetMessageBoxHook(nullptr); }

void ExpectIndexAnswersAsScans(const Component& c, const std::string& path, uint32_t every) {
  using mirl::kNone;
  OwnTables t;
  mirl::CParser(t.Get()).ParseFile(path.c_str());
  const mirl::api::Program p = c.Program();
  const uint32_t scopes = p.Count().scopes;
  ASSERT_EQ(scopes, t.scopes.Count());
  std::vector<std::string> names = {"missing"};
  for (const mirl::api::Symbol& s : p.Symbols())
    if (s.id % every == 0) names.push_back(s.name.substr(0, mirl::kMaxNameLength));
  for (const std::string& name : names) {
    for (uint32_t from = 0; from <= scopes; ++from) {
      const bool global = from == scopes;
      uint32_t scope = 7, scannedScope = 7;
      EXPECT_EQ(
          std::make_pair(p.FindSymbol(name, global ? 0 : from, global, &scope), scope),
          std::make_pair(t.symbols.FindSymbol(t.scopes, global ? kNone : from, name, &scannedScope),
                         scannedScope))
          << name << " from " << from;
      if (global || name.empty()) continue;  // LookupDie names nothing by ""
      LONG die = -1;
      EXPECT_EQ(c.P3()->LookupDie(LONG(from + 1), Bstr(name).get(), 0x34, &die), S_OK);
      const uint32_t in = t.symbols.FindSymbolInScope(t.scopes, from, name);
      EXPECT_EQ(die, in == kNone ? 0 : LONG(scopes + in + 1)) << name << " in " << from;
    }
  }
}

}  // namespace testsupport
