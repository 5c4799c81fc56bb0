#include "Session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "Failure.h"

namespace dump {

std::string Narrow(BSTR b) { return mirl::api::Utf8FromUtf16(b, b ? SysStringLen(b) : 0); }

BSTR Widen(const std::string& s) {
  std::u16string w = mirl::api::Utf16FromUtf8(s);
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

namespace {

// An automation string released on every path.
struct Bstr {
  BSTR b = nullptr;
  Bstr() = default;
  explicit Bstr(const std::string& s) : b(Widen(s)) {}
  ~Bstr() { SysFreeString(b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
};

// The component shows one message of its own (a file newer than UBROF8);
// ubrofdump reports that case itself, with the version, so the message is
// only kept.
std::string g_componentMessage;
void KeepMessage(const char* text, const char*) { g_componentMessage = text ? text : ""; }

// The answer kept for id, computed on first use.
template <class Value, class Compute>
const Value& Kept(std::map<uint32_t, Value>& kept, uint32_t id, Compute compute) {
  auto it = kept.find(id);
  if (it == kept.end()) it = kept.emplace(id, compute()).first;
  return it->second;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------
Session::~Session() {
  if (m_pMem) m_pMem->Release();
  if (m_pParser) m_pParser->Release();
}

bool Session::Create(std::string* pError) {
  IClassFactory* factory = nullptr;
  HRESULT hr = DllGetClassObject(CLSID_MirlParserUbrof, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory));
  if (FAILED(hr) || !factory) {
    *pError = "cannot get the parser's class factory (" + StatusText(hr) + ")";
    return false;
  }
  hr = factory->CreateInstance(nullptr, IID_IMirlParser, reinterpret_cast<void**>(&m_pParser));
  factory->Release();
  if (FAILED(hr) || !m_pParser) {
    *pError = "cannot create the parser (" + StatusText(hr) + ")";
    return false;
  }
  hr = m_pParser->QueryInterface(IID_IMirlParserMem, reinterpret_cast<void**>(&m_pMem));
  if (FAILED(hr)) {
    *pError = "the parser has no IMirlParserMem interface (" + StatusText(hr) + ")";
    return false;
  }
  m_api.emplace(m_pParser);
  mirl::api::SetMessageSink(KeepMessage);
  return true;
}

bool Session::SetBaseDirectory(const std::string& dir, std::string* pError) {
  Bstr oldPath(""), newPath(dir);
  HRESULT hr = m_pParser->RemapSourceFile(&oldPath.b, &newPath.b);
  if (FAILED(hr)) *pError = "cannot set the base directory (" + StatusText(hr) + ")";
  return SUCCEEDED(hr);
}

bool Session::AddRemap(const std::string& storedPath, const std::string& hostPath,
                       std::string* pError) {
  Bstr oldPath(storedPath), newPath(hostPath);
  HRESULT hr = m_pParser->RemapSourceFile(&oldPath.b, &newPath.b);
  if (FAILED(hr)) *pError = "cannot remap " + storedPath + " (" + StatusText(hr) + ")";
  return SUCCEEDED(hr);
}

bool Session::Open(const std::string& path, std::string* pError) {
  m_path = path;
  struct stat st;
  if (path.empty()) {
    *pError = "no file name given";
    return false;
  }
  if (::stat(path.c_str(), &st) != 0) {
    *pError = std::strerror(errno);
    return false;
  }
  uint64_t fileSize = uint64_t(st.st_size);
  if (S_ISDIR(st.st_mode)) {
    *pError = "is a directory, not an object file";
    return false;
  }
  Bstr bpath(path);
  HRESULT hr = m_pParser->ValidateObjectFile(&bpath.b);
  if (FAILED(hr)) {
    *pError = RefusalText(path, hr);
    return false;
  }
  m_pParser->Init(0);
  hr = m_pParser->ParseObjectFile(&bpath.b, 0);
  if (FAILED(hr)) {
    *pError = ParseFailureText(*m_api, fileSize);
    return false;
  }
  m_counts = m_api->Count();
  m_modules = m_api->Modules();
  return true;
}

// ---------------------------------------------------------------------------
// Answers
// ---------------------------------------------------------------------------
const Session::ScopeInfo& Session::Scope(uint32_t id) {
  return Kept(m_scopes, id, [&] {
    ScopeInfo info;
    // The tree's links and the hidden flag come from the read API; name,
    // kind and code range from the interface.
    mirl::api::Scope scope;
    if (!m_api->GetScope(id, &scope)) return info;
    info.parent = scope.parent;
    info.hidden = scope.hidden;
    Bstr name, fullName;
    ULONG kind = 0, start = 0, size = 0, firstStat = 0;
    if (FAILED(m_pParser->GetScopeInfo(id, &name.b, &fullName.b, &kind, &start, &size, &firstStat)))
      return info;
    info.ok = true;
    info.name = Narrow(name.b);
    info.kind = kind;
    info.low = start;
    info.size = size;
    // Module scopes have no name of their own.
    if (kind == 2 && scope.module < m_modules.size()) info.name = m_modules[scope.module].name;
    return info;
  });
}

std::vector<uint32_t> Session::ScopeChain(uint32_t id) {
  std::vector<uint32_t> chain;
  // The tree has no cycles, but ids come from a file: never walk further
  // than there are scopes.
  while (id != 0xFFFFFFFFu && chain.size() <= m_counts.scopes) {
    const ScopeInfo& s = Scope(id);
    if (!s.ok) break;
    chain.push_back(id);
    id = s.parent;
  }
  return chain;
}

std::string Session::ScopePath(uint32_t id) {
  std::vector<uint32_t> chain = ScopeChain(id);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += Scope(*it).name;
  }
  return path;
}

std::vector<uint32_t> Session::Children(uint32_t id, HRESULT* pStatus) {
  ULONG count = 0;
  ULONG* ids = nullptr;
  HRESULT hr = m_pParser->EnumSubScopes(id, &count, &ids);
  if (pStatus) *pStatus = hr;
  std::vector<uint32_t> out;
  if (SUCCEEDED(hr) && ids) out.assign(ids, ids + count);
  CoTaskMemFree(ids);
  return out;
}

const std::string& Session::SymbolName(uint32_t id) {
  return Kept(m_symbolInfo, id,
              [&] {
                Bstr name;
                ULONG nameIndex = 0, typeId = 0;
                std::pair<std::string, uint32_t> value("", 0);
                if (SUCCEEDED(m_pParser->GetSymbolInfo(id, &name.b, &nameIndex, &typeId)))
                  value = {Narrow(name.b), typeId};
                return value;
              })
      .first;
}

uint32_t Session::SymbolType(uint32_t id) {
  SymbolName(id);
  return m_symbolInfo[id].second;
}

Location Session::SymbolLocation(uint32_t id, uint32_t programAddress) {
  Location loc;
  unsigned char info = 0, memType = 0;
  ULONG address = 0;
  loc.status = m_pParser->GetSymbolLocation(id, programAddress, &info, &address, &memType);
  if (FAILED(loc.status)) return loc;
  loc.ok = true;
  loc.kind = info;
  loc.address = address;
  loc.memType = memType;
  return loc;
}

const std::string& Session::TypeName(uint32_t typeId) {
  return Kept(m_typeNames, typeId, [&] {
    Bstr name;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0;
    unsigned char memType = 0;
    HRESULT hr =
        m_pParser->GetTypeInfo(typeId, &name.b, &size, &spec, &elements, &memType, &ptrSize);
    return SUCCEEDED(hr) ? Narrow(name.b) : std::string();
  });
}

const std::string& Session::SourcePath(uint32_t fileId) {
  return Kept(m_sourcePaths, fileId, [&] {
    Bstr path;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    HRESULT hr = m_pParser->GetSourceFileInfo(fileId, &path.b, &stamp, &language, &temporary);
    return SUCCEEDED(hr) ? Narrow(path.b) : std::string();
  });
}

bool Session::MemoryBounds(unsigned memType, uint32_t* pLow, uint32_t* pHigh, HRESULT* pStatus) {
  ULONG low = 0, high = 0, blocks = 0;
  HRESULT hr = m_pParser->GetMemoryInfo((unsigned char)memType, &low, &high, &blocks);
  if (pStatus) *pStatus = hr;
  if (FAILED(hr)) return false;
  // An image that was never written reports its initial bounds.
  uint32_t emptyLow = memType == 0x40 ? 0x7FFFFFFFu : 0xFFFFFFFFu;
  if (low == emptyLow && high == 0) return false;
  *pLow = low;
  *pHigh = high;
  return true;
}

bool Session::ReadMemory(unsigned memType, uint32_t start, uint64_t end,
                         std::vector<uint8_t>* pBytes, HRESULT* pStatus) {
  pBytes->clear();
  if (end <= start) return true;
  pBytes->resize(size_t(end - start));
  // In pieces, so that no single count needs more than 32 bits.
  const uint64_t kPiece = 1u << 20;
  for (uint64_t at = start; at < end; at += kPiece) {
    uint64_t n = end - at < kPiece ? end - at : kPiece;
    HRESULT hr = m_pParser->ReadMemory((unsigned char)memType, ULONG(at), ULONG(n),
                                       pBytes->data() + (at - start));
    if (pStatus) *pStatus = hr;
    if (FAILED(hr)) return false;
  }
  return true;
}

}  // namespace dump
