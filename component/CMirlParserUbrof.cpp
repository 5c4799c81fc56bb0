#include "CMirlParserUbrof.h"

#include <cstdio>
#include <cstring>
#include <new>

CMirlParserUbrof::CMirlParserUbrof(IUnknown* pOuter)
    : m_TypeTable(&m_NameTable),
      m_SymbolTable(&m_NameTable, &m_TypeTable),
      m_CodeMemory(0x20000, 0xFF),
      m_EepromMemory(4096, 0xFF),
      m_DataMemory(4096, 0xFF),
      m_ScopeTable(&m_NameTable, &m_SymbolTable, &m_Macros, &m_SegmentGroups, &m_StatementRuns,
                   &m_Statements) {
  m_SymbolTable.m_pGroups = &m_SegmentGroups;
  m_Inner.m_pOwner = this;
  m_pOuter = pOuter ? pOuter : static_cast<IUnknown*>(&m_Inner);
  mirl::ModuleAddRef();
}

CMirlParserUbrof::~CMirlParserUbrof() { mirl::ModuleRelease(); }

// ---------------------------------------------------------------------------
// IUnknown
// ---------------------------------------------------------------------------
HRESULT CMirlParserUbrof::NonDelegatingUnknown::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CMirlParserUbrof* p = m_pOwner;
  if (riid == IID_IUnknown)
    *ppv = static_cast<IUnknown*>(this);
  else if (riid == IID_IMirlParser || riid == IID_IDispatch)
    *ppv = static_cast<IMirlParser*>(p);
  else if (riid == IID_IMirlParserMem)
    *ppv = static_cast<IMirlParserMem*>(p);
  else if (riid == IID_IMirlParser3)
    *ppv = static_cast<IMirlParser3*>(p);
  else
    return E_NOINTERFACE;  // IMirlParser2 included: it is declared, not implemented
  static_cast<IUnknown*>(*ppv)->AddRef();
  return S_OK;
}

ULONG CMirlParserUbrof::NonDelegatingUnknown::AddRef() { return ++m_pOwner->m_cRef; }

ULONG CMirlParserUbrof::NonDelegatingUnknown::Release() {
  ULONG n = --m_pOwner->m_cRef;
  if (n == 0) delete m_pOwner;
  return n;
}

HRESULT CMirlParserUbrof::QueryInterface(REFIID riid, void** ppv) {
  return m_pOuter->QueryInterface(riid, ppv);
}
ULONG CMirlParserUbrof::AddRef() { return m_pOuter->AddRef(); }
ULONG CMirlParserUbrof::Release() { return m_pOuter->Release(); }

void CMirlParserUbrof::ReplaceBstr(BSTR* pbstr, const std::string& text) {
  SysFreeString(*pbstr);
  *pbstr = platform::AnsiToBstr(text);
}

// ---------------------------------------------------------------------------
// Parse lifecycle
// ---------------------------------------------------------------------------
HRESULT CMirlParserUbrof::Init(unsigned char ucUseEvents) {
  if (ucUseEvents != 0) return E_FAIL;  // events are not supported
  // A second Init keeps the tables of an earlier parse; a following parse
  // adds to them.
  m_ulState = kStateInitialized;
  m_pszParsedFile.reset();
  return S_OK;
}

HRESULT CMirlParserUbrof::SetDefaultDataValue(unsigned char ucMemoryType,
                                              unsigned char ucDefaultDataValue) {
  if (!(m_ulState & kStateInitialized)) return PARSER_E_NOT_INITIALIZED;
  switch (ucMemoryType) {
    case 1:
      m_CodeMemory.SetFill(ucDefaultDataValue);
      return S_OK;
    case 4:
      m_EepromMemory.SetFill(ucDefaultDataValue);
      return S_OK;
    case 2:
      m_DataMemory.SetFill(ucDefaultDataValue);
      return S_OK;
    default:
      return PARSER_E_BAD_MEMORY_TYPE;
  }
}

HRESULT CMirlParserUbrof::ValidateObjectFile(BSTR* pbstrPath) {
  if (!pbstrPath) return E_POINTER;
  bool ok = false;
  std::string path = platform::BstrToAnsi(*pbstrPath, &ok);
  if (!ok || path.empty()) return PARSER_E_CANNOT_OPEN;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return PARSER_E_CANNOT_OPEN;
  int c = std::getc(f);
  std::fclose(f);
  return c == 0xA5 ? S_OK : PARSER_E_INVALID_FILE;
}

HRESULT CMirlParserUbrof::ParseObjectFile(BSTR* pbstrPath, ULONG /*ulParseFlags*/) {
  if (!pbstrPath) return E_POINTER;
  if (!(m_ulState & kStateInitialized)) return PARSER_E_NOT_INITIALIZED;
  if (m_ulState & kStateParsed) return PARSER_E_ALREADY_PARSED;
  bool ok = false;
  std::string path = platform::BstrToAnsi(*pbstrPath, &ok);
  return ParsePath(ok ? path.c_str() : nullptr, false);
}

HRESULT CMirlParserUbrof::ParsePath(const char* pszPath, bool acceptUbrof10) {
  if (!(m_ulState & kStateInitialized)) return PARSER_E_NOT_INITIALIZED;
  if (m_ulState & kStateParsed) return PARSER_E_ALREADY_PARSED;
  mirl::ParserTables tables = {&m_FileInfo,    &m_NameTable,  &m_TypeTable,    &m_SegmentGroups,
                               &m_Modules,     &m_ScopeTable, &m_SymbolTable,  &m_SymbolIndex,
                               &m_Macros,      &m_CodeMemory, &m_EepromMemory, &m_DataMemory,
                               &m_SourceFiles, &m_Statements, &m_FileNames,    &m_StatementRuns,
                               &m_KeyValues};
  int result = 0;
  {
    mirl::CParser parser(tables);
    parser.m_pWrites = &m_Writes;
    parser.m_bAcceptUbrof10 = acceptUbrof10;
    result = parser.ParseFile(pszPath);
    m_LastDiagnostic = parser.Diagnostic();
  }
  // The tables are final now, also after a failed parse (what was read stays
  // and the entry view still searches it): index the symbol names. Without
  // the memory for it the searches scan the tables instead.
  try {
    m_SymbolTable.BuildNameIndex(m_ScopeTable);
  } catch (const std::bad_alloc&) {
    m_SymbolTable.m_NameIndex = mirl::SymbolNameIndex();
  }
  if (!result) return PARSER_E_INVALID_FILE;
  m_ulState |= kStateParsed;
  size_t length = std::strlen(pszPath);
  m_pszParsedFile.reset(new char[length + 1]);
  std::memcpy(m_pszParsedFile.get(), pszPath, length + 1);
  return S_OK;
}

HRESULT CMirlParserUbrof::GetTimeOfBuild(DATE* pdateTimeOfBuild) {
  if (!pdateTimeOfBuild) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  *pdateTimeOfBuild = m_FileInfo.m_dateTimeOfBuild;
  return S_OK;
}

HRESULT CMirlParserUbrof::GetTargetInfo(BSTR* pbstrDeviceName, ULONG* pulCoreId,
                                        ULONG* pulMemModelId) {
  if (!pbstrDeviceName || !pulCoreId || !pulMemModelId) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  SysFreeString(*pbstrDeviceName);
  *pbstrDeviceName = nullptr;
  *pulCoreId = 0;
  *pulMemModelId = 0;
  return E_NOTIMPL;  // the target device is not derived from the object file
}

HRESULT CMirlParserUbrof::GetGeneralInfoString(BSTR* pbstrGeneralInfo) {
  if (!pbstrGeneralInfo) return E_POINTER;
  std::string text = platform::LoadStringResource(101);
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "\r\n\r\nThis parser is verified for reading UBROF version %d.%d rev. %d.", 8, 0,
                1);
  text += buf;
  if (IsParsed()) {
    // The path can be of any length, so it is not formatted into a buffer.
    text += "\r\n\r\nCurrently loaded object file is: \"";
    text += m_pszParsedFile ? m_pszParsedFile.get() : "";
    std::snprintf(buf, sizeof buf, "\", UBROF version %d.%d rev. %d, built on ",
                  m_FileInfo.m_ucUbrofVersion, m_FileInfo.m_ucUbrofMinor,
                  m_FileInfo.m_ucUbrofRevision);
    text += buf;
    text += platform::DateToText(m_FileInfo.m_dateTimeOfBuild);
  }
  std::snprintf(buf, sizeof buf, "\r\n\r\nThe module is running in thread ID: %d",
                int(platform::CurrentThreadId()));
  text += buf;
  BSTR result = platform::AnsiToBstr(text);
  if (!result) return E_OUTOFMEMORY;
  // The caller's previous string is overwritten, not released.
  *pbstrGeneralInfo = result;
  return S_OK;
}
