#include "Session.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Format.h"

namespace dump {

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------
std::string Narrow(BSTR b) {
  std::string out;
  UINT n = b ? SysStringLen(b) : 0;
  for (UINT i = 0; i < n; ++i) {
    uint32_t c = b[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && b[i + 1] >= 0xDC00 && b[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(b[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

BSTR Widen(const std::string& s) {
  std::u16string w;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > s.size()) {
        len = 1;
      } else {
        cp = c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k)
          cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      w += char16_t(0xD800 + (cp >> 10));
      w += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      w += char16_t(cp);
    }
    i += len;
  }
  return SysAllocStringLen(w.data(), UINT(w.size()));
}

std::string StatusText(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "S_OK";
    case E_NOTIMPL:
      return "E_NOTIMPL";
    case E_POINTER:
      return "E_POINTER";
    case E_FAIL:
      return "E_FAIL";
    case PARSER_E_BAD_MEMORY_TYPE:
      return "PARSER_E_BAD_MEMORY_TYPE";
    case PARSER_E_CANNOT_OPEN:
      return "PARSER_E_CANNOT_OPEN";
    case PARSER_E_INVALID_FILE:
      return "PARSER_E_INVALID_FILE";
    case PARSER_E_BAD_ID:
      return "PARSER_E_BAD_ID";
    case PARSER_E_NOT_INITIALIZED:
      return "PARSER_E_NOT_INITIALIZED";
    case PARSER_E_ALREADY_PARSED:
      return "PARSER_E_ALREADY_PARSED";
    case PARSER_E_NOT_PARSED:
      return "PARSER_E_NOT_PARSED";
    default:
      return Fmt("0x%08X", unsigned(hr));
  }
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
  MirlDiagSetMessageSink(KeepMessage);
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
  m_fileSize = uint64_t(st.st_size);
  if (S_ISDIR(st.st_mode)) {
    *pError = "is a directory, not an object file";
    return false;
  }
  Bstr bpath(path);
  HRESULT hr = m_pParser->ValidateObjectFile(&bpath.b);
  if (hr == PARSER_E_CANNOT_OPEN) {
    FILE* f = std::fopen(path.c_str(), "rb");
    int err = errno;
    if (f) std::fclose(f);
    *pError = std::string("cannot open the file: ") + (f ? "unknown reason" : std::strerror(err));
    return false;
  }
  if (hr == PARSER_E_INVALID_FILE) {
    unsigned char head[4] = {0, 0, 0, 0};
    size_t n = 0;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      n = std::fread(head, 1, sizeof head, f);
      std::fclose(f);
    }
    if (n == 0) {
      *pError = "not a UBROF object file: the file is empty";
    } else {
      std::string shown;
      for (size_t i = 0; i < n; ++i) shown += Fmt(i ? " %02X" : "%02X", unsigned(head[i]));
      *pError = "not a UBROF object file: it begins with the bytes " + shown +
                ", a UBROF object file begins with A5";
    }
    return false;
  }
  if (FAILED(hr)) {
    *pError = "the parser refused the file (" + StatusText(hr) + ")";
    return false;
  }
  m_pParser->Init(0);
  hr = m_pParser->ParseObjectFile(&bpath.b, 0);
  if (FAILED(hr)) {
    *pError = DescribeParseFailure();
    return false;
  }
  MirlDiagGetCounts(Unknown(), &m_counts);
  MirlDiagGetFileInfo(Unknown(), &m_file);
  return true;
}

std::string Session::DescribeParseFailure() {
  MirlDiagParse d = {};
  if (FAILED(MirlDiagGetParseDiagnostic(Unknown(), &d)) || !d.failed)
    return "the file could not be parsed";
  if (d.rejectedVersion) {
    MirlDiagFile f = {};
    MirlDiagGetFileInfo(Unknown(), &f);
    return Fmt(
        "UBROF version %u (%u.%u.%u) is newer than UBROF8; this parser reads UBROF8 and "
        "earlier",
        unsigned(d.rejectedVersion), unsigned(f.ubrofVersion), unsigned(f.ubrofMinor),
        unsigned(f.ubrofRevision));
  }
  if (!d.message) return "the file could not be opened for parsing";
  std::string record = d.tag < 0 ? std::string()
                                 : Fmt("record %s (tag 0x%02X) at byte offset %lld",
                                       d.tagName ? d.tagName : "of unknown kind", unsigned(d.tag),
                                       (long long)d.recordOffset);
  std::string message = d.message;
  if (message.compare(0, 7, "Error: ") == 0) message = message.substr(7);
  if (message == "Unexpected end of file") {
    // A record that skips its fields can step past the end; the failure
    // then shows only when the next tag is read.
    if (d.byteOffset > int64_t(m_fileSize))
      return Fmt(
          "truncated or damaged: the last record runs past the end of the file (%llu bytes) to "
          "byte offset %lld",
          (unsigned long long)m_fileSize, (long long)d.byteOffset);
    if (d.tag < 0)
      return Fmt(
          "truncated: the file ends at byte offset %lld, between records, without its end "
          "record (t_ubrof_eof)",
          (long long)d.byteOffset);
    // A length field can ask for more than is left: the read then stops
    // before the end of the file.
    std::string text =
        "truncated or damaged: " + record +
        Fmt(" runs past the end of the file at byte offset %llu", (unsigned long long)m_fileSize);
    if (d.byteOffset < int64_t(m_fileSize))
      text += Fmt(" (a field read at byte offset %lld is longer than what is left)",
                  (long long)d.byteOffset);
    return text;
  }
  if (message == "Out of memory")
    return "damaged: " + record + " asks for more memory than is available";
  if (message.compare(0, 11, "Unknown tag") == 0)
    return Fmt(
        "damaged or unsupported: unknown record tag 0x%02X at byte offset %lld, and the file "
        "gives no skip information for it",
        unsigned(d.tag), (long long)d.recordOffset);
  if (d.tag == 0x50 || d.tag == 0x48)
    return record + " is an older scope record that this parser does not read";
  return record + " could not be processed";
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------
const std::vector<MirlDiagSymbol>& Session::DiagSymbols() {
  if (!m_haveSymbols) {
    ULONG n = 0;
    if (SUCCEEDED(MirlDiagGetSymbols(Unknown(), nullptr, 0, &n)) && n) {
      m_symbols.resize(n);
      MirlDiagGetSymbols(Unknown(), m_symbols.data(), n, &n);
      m_symbols.resize(n);
    }
    m_haveSymbols = true;
  }
  return m_symbols;
}

const std::vector<MirlDiagStatement>& Session::DiagStatements() {
  if (!m_haveStatements) {
    ULONG n = 0;
    if (SUCCEEDED(MirlDiagGetStatements(Unknown(), nullptr, 0, &n)) && n) {
      m_statements.resize(n);
      MirlDiagGetStatements(Unknown(), m_statements.data(), n, &n);
      m_statements.resize(n);
    }
    m_haveStatements = true;
  }
  return m_statements;
}

const Session::ScopeInfo& Session::Scope(uint32_t id) {
  auto it = m_scopes.find(id);
  if (it != m_scopes.end()) return it->second;
  ScopeInfo& info = m_scopes[id];
  Bstr name, fullName;
  ULONG kind = 0, start = 0, size = 0, firstStat = 0;
  HRESULT hr = m_pParser->GetScopeInfo(id, &name.b, &fullName.b, &kind, &start, &size, &firstStat);
  // The tree's links and the hidden flag come from the diagnostics; name,
  // kind and code range from the interface.
  MirlDiagScope ds = {};
  if (FAILED(MirlDiagGetScope(Unknown(), id, &ds))) return info;
  info.parent = ds.parent;
  info.hidden = ds.hidden != 0;
  if (FAILED(hr)) return info;
  info.ok = true;
  info.name = Narrow(name.b);
  info.kind = kind;
  info.low = start;
  info.size = size;
  if (kind == 2) {  // module scopes have no name of their own
    MirlDiagModule m = {};
    if (SUCCEEDED(MirlDiagGetModule(Unknown(), ds.moduleIndex, &m)) && m.name) info.name = m.name;
  }
  return info;
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

std::vector<uint32_t> Session::RootScopes() {
  ULONG n = 0;
  std::vector<uint32_t> ids;
  if (FAILED(MirlDiagGetRootScopes(Unknown(), nullptr, 0, &n)) || n == 0) return ids;
  std::vector<ULONG> buf(n);
  MirlDiagGetRootScopes(Unknown(), buf.data(), n, &n);
  ids.assign(buf.begin(), buf.begin() + n);
  return ids;
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
  auto it = m_symbolInfo.find(id);
  if (it == m_symbolInfo.end()) {
    Bstr name;
    ULONG nameIndex = 0, typeId = 0;
    std::pair<std::string, uint32_t> value("", 0);
    if (SUCCEEDED(m_pParser->GetSymbolInfo(id, &name.b, &nameIndex, &typeId)))
      value = {Narrow(name.b), typeId};
    it = m_symbolInfo.emplace(id, value).first;
  }
  return it->second.first;
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
  auto it = m_typeNames.find(typeId);
  if (it == m_typeNames.end()) {
    Bstr name;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0;
    unsigned char memType = 0;
    std::string text;
    if (SUCCEEDED(
            m_pParser->GetTypeInfo(typeId, &name.b, &size, &spec, &elements, &memType, &ptrSize)))
      text = Narrow(name.b);
    it = m_typeNames.emplace(typeId, text).first;
  }
  return it->second;
}

const std::string& Session::SourcePath(uint32_t fileId) {
  auto it = m_sourcePaths.find(fileId);
  if (it == m_sourcePaths.end()) {
    Bstr path;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    std::string text;
    if (SUCCEEDED(m_pParser->GetSourceFileInfo(fileId, &path.b, &stamp, &language, &temporary)))
      text = Narrow(path.b);
    it = m_sourcePaths.emplace(fileId, text).first;
  }
  return it->second;
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

std::vector<std::pair<uint32_t, uint32_t>> Session::WrittenRuns(unsigned memType) {
  std::vector<std::pair<uint32_t, uint32_t>> runs;
  ULONG n = 0;
  if (FAILED(MirlDiagGetWrittenRanges(Unknown(), BYTE(memType), nullptr, nullptr, 0, &n)) || !n)
    return runs;
  std::vector<ULONG> firsts(n), lasts(n);
  MirlDiagGetWrittenRanges(Unknown(), BYTE(memType), firsts.data(), lasts.data(), n, &n);
  for (ULONG i = 0; i < n; ++i) runs.emplace_back(firsts[i], lasts[i]);
  return runs;
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
