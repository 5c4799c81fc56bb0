#include "Session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "Failure.h"
#include "Format.h"

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

// The component shows one message of its own (a file of UBROF 9 or 11 on);
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

size_t Session::RemapPrefix(const std::string& oldPrefix, const std::string& newPrefix) {
  std::string prefix = FoldedPath(oldPrefix);
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  size_t matched = 0;
  std::string error;
  for (const mirl::api::SourceFile& f : m_sources) {
    std::string folded = FoldedPath(f.path);
    if (folded.compare(0, prefix.size(), prefix) != 0) continue;
    if (folded.size() > prefix.size() && folded[prefix.size()] != '/' && prefix.back() != '/')
      continue;  // C:/src must not match C:/src2/main.c
    std::string rest = f.path.substr(prefix.size());
    // The rest takes the separator the new prefix uses.
    char sep = newPrefix.find('\\') != std::string::npos && newPrefix.find('/') == std::string::npos
                   ? '\\'
                   : '/';
    for (char& c : rest)
      if (c == '\\' || c == '/') c = sep;
    std::string mapped = newPrefix;
    if (!mapped.empty() && !rest.empty() && (mapped.back() == '/' || mapped.back() == '\\') &&
        rest[0] == sep)
      mapped.pop_back();
    // An exact pair given before the parse stays: the component keeps the
    // first pair for a stored path.
    AddRemap(f.path, mapped + rest, &error);
    ++matched;
  }
  m_sources = m_api->SourceFiles();
  m_sourcePaths.clear();
  return matched;
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
  // The read API's entry, which also reads UBROF 10 (the interfaces refuse it).
  if (!mirl::api::ParseAnyVersion(m_pParser, path)) {
    *pError = ParseFailureText(*m_api, fileSize);
    return false;
  }
  m_counts = m_api->Count();
  m_modules = m_api->Modules();
  m_symbols = m_api->Symbols();
  m_sources = m_api->SourceFiles();
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
    info.storedName = scope.name;
    info.kind = kind;
    info.low = start;
    info.size = size;
    // Module scopes have no name of their own.
    if (kind == 2 && scope.module < m_modules.size())
      info.storedName = m_modules[scope.module].name;
    info.name = Text(info.storedName);
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
                if (SUCCEEDED(m_pParser->GetSymbolInfo(id, &name.b, &nameIndex, &typeId)) &&
                    id < m_symbols.size())
                  value = {Text(m_symbols[id].name), typeId};
                return value;
              })
      .first;
}

const std::vector<Session::ScopeFacts>& Session::Scopes() {
  if (!m_scopeFacts) {
    // Read once: asking the read API per symbol would copy a scope's lists
    // (a module's symbols) per symbol.
    m_scopeFacts.emplace(m_counts.scopes);
    mirl::api::Scope scope;
    for (uint32_t id = 0; id < m_counts.scopes; ++id)
      if (m_api->GetScope(id, &scope))
        (*m_scopeFacts)[id] = {scope.kind, scope.parent, scope.low, scope.high, scope.name};
  }
  return *m_scopeFacts;
}

std::string Session::ClassOf(uint32_t parent, const std::string& function) {
  if (!m_classes) {
    m_classes.emplace();
    const std::vector<ScopeFacts>& scopes = Scopes();
    mirl::api::Type type;
    for (const mirl::api::Symbol& sym : m_symbols) {
      if (sym.name != "this" || sym.scope >= scopes.size() ||
          scopes[sym.scope].kind != mirl::api::kFunction || !m_api->GetType(sym.type, &type))
        continue;
      // "class CTimer * const": the name between the keyword and the '*'.
      std::string name = type.name;
      for (const char* keyword : {"class ", "struct ", "union "})
        if (name.compare(0, std::strlen(keyword), keyword) == 0)
          name.erase(0, std::strlen(keyword));
      size_t star = name.find(" *");
      if (star == std::string::npos || star == 0) continue;
      const ScopeFacts& f = scopes[sym.scope];
      m_classes->emplace(std::make_pair(f.parent, f.name), Text(name.substr(0, star)));
    }
  }
  auto it = m_classes->find({parent, function});
  return it == m_classes->end() ? std::string() : it->second;
}

std::string Session::QualifiedName(uint32_t id) {
  if (id >= m_symbols.size()) return SymbolName(id);
  std::string cls = ClassOf(m_symbols[id].scope, m_symbols[id].name);
  if (cls.empty() && !m_symbols[id].qualifier.empty()) cls = Text(m_symbols[id].qualifier);
  return cls.empty() ? SymbolName(id) : cls + "::" + SymbolName(id);
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

const std::vector<Session::Placed>& Session::Placements() {
  if (m_placed) return *m_placed;
  m_placed.emplace();
  // The end of each function scope by its parent and name.
  const std::vector<ScopeFacts>& scopes = Scopes();
  std::map<std::pair<uint32_t, std::string>, uint32_t> functionEnd;
  for (const ScopeFacts& f : scopes)
    if (f.kind == mirl::api::kFunction && f.low <= f.high)
      functionEnd.emplace(std::make_pair(f.parent, f.name), f.high);
  for (const mirl::api::Symbol& sym : m_symbols) {
    Location loc = SymbolLocation(sym.id, 0xFFFFFFFFu);
    if (!loc.ok || loc.kind != 1 || (loc.memType != 1 && loc.memType != 2 && loc.memType != 4))
      continue;
    Placed p;
    p.id = sym.id;
    p.address = loc.address;
    p.memType = loc.memType;
    mirl::api::Type type;
    bool typed = m_api->GetType(sym.type, &type) && type.kind != 0;
    // Class 1 without a type in program memory: a value the linker defined
    // (stack and heap sizes, memory bounds), not a place in the code.
    p.constant = sym.cls == 1 && loc.memType == 1 && !typed;
    p.reference = sym.cls == 4;
    p.local = sym.scope < scopes.size() && scopes[sym.scope].kind != mirl::api::kModule;
    if (typed && type.spec != 7) {
      p.size = type.size;
    } else if (p.memType == 1 && !p.constant) {
      // A function's code: up to the end of the function scope of its name
      // in its module (the scope itself begins after the prologue).
      auto end = functionEnd.find({sym.scope, sym.name});
      if (end != functionEnd.end() && end->second > p.address) p.size = end->second - p.address;
    }
    m_placed->push_back(p);
  }
  std::stable_sort(m_placed->begin(), m_placed->end(), [](const Placed& a, const Placed& b) {
    return std::tie(a.memType, a.address, a.constant, a.local, a.id) <
           std::tie(b.memType, b.address, b.constant, b.local, b.id);
  });
  // The code symbols by address, the first at each address first; and the
  // end of the program, beyond which no address belongs to them.
  for (const Placed& p : *m_placed)
    if (p.memType == 1 && !p.constant && (m_code.empty() || m_code.back()->address != p.address))
      m_code.push_back(&p);
  mirl::api::Image program = m_api->Memory(1);
  m_programEnd = program.lowest > program.highest ? 0 : uint64_t(program.highest) + 1;
  return *m_placed;
}

const Session::Placed* Session::CodeSymbolAt(uint32_t address) {
  Placements();
  auto above = std::upper_bound(m_code.begin(), m_code.end(), address,
                                [](uint32_t a, const Placed* p) { return a < p->address; });
  if (above == m_code.begin() || address >= m_programEnd) return nullptr;
  return *(above - 1);
}

const Session::Placed* Session::VariableAt(uint32_t address) {
  const Placed* best = nullptr;
  for (const Placed& p : Placements())
    if (p.memType == 2 && p.address <= address &&
        uint64_t(address) < uint64_t(p.address) + (p.size ? p.size : 1) &&
        (!best ||
         std::make_pair(p.size == 0, p.size) < std::make_pair(best->size == 0, best->size)))
      best = &p;
  return best;
}

const std::string& Session::TypeName(uint32_t typeId) {
  return Kept(m_typeNames, typeId, [&] {
    mirl::api::Type type;
    return m_api->GetType(typeId, &type) ? Text(type.name) : std::string();
  });
}

const std::string& Session::SourcePath(uint32_t fileId) {
  return Kept(m_sourcePaths, fileId, [&] {
    return fileId < m_sources.size() ? Text(m_sources[fileId].mappedPath) : std::string();
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
