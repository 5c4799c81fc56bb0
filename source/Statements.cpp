// The statement table, its runs, and the lookups between program addresses
// and source lines.
#include <new>

#include "../component/CMirlParserUbrof.h"
#include "../ubrof/Parser.h"
#include "SourceFiles.h"

namespace mirl {

int CParser::t_src_stat() {
  // A statement that got no code before this one is not kept.
  DropPendingStatement();

  // A parse begins with m_bNewRun set, so there is always a run to add to;
  // the emptiness test only keeps a damaged state from reaching back().
  if (m_bNewRun || m_pStatementRuns->empty()) {
    m_bNewRun = 0;
    uint32_t run = uint32_t(m_pStatementRuns->size());
    m_pScopes->AddStatementRun(run);
    if (m_lCurrentFile >= 0 && size_t(m_lCurrentFile) < m_pSourceFiles->size())
      (*m_pSourceFiles)[size_t(m_lCurrentFile)].StatementRuns.push_back(run);
    StatementRun r;
    r.File = m_lCurrentFile;
    r.MaxEndLine = 0;
    r.FirstStatement = uint32_t(m_pStatements->size());
    r.Count = 0;
    m_pStatementRuns->push_back(r);
  }

  uint32_t line = ReadWord();
  uint32_t column = ReadWord();
  uint32_t lineEnd = ReadWord();
  uint32_t columnEnd = ReadWord();
  uint32_t kind = uint32_t(ReadByte());

  // The file's lines and columns are 1-based; ours are 0-based.
  StatementRecord st;
  st.Address = m_ulCodeAddress;
  st.Length = 0;
  st.Line = uint16_t(line - 1);
  st.LineSpan = uint8_t(lineEnd - line);
  st.Column = uint8_t((column & 0xFF) - 1);
  st.ColumnEnd = uint8_t((columnEnd & 0xFF) - 1);
  st.StatementType = 0x01;
  if (kind == 14)
    st.StatementType = 0x03;
  else if (kind == 9 || kind == 13)
    st.StatementType = 0x05;

  ++m_ulPendingStatements;
  m_pStatements->push_back(st);

  StatementRun& run = m_pStatementRuns->back();
  ++run.Count;
  int32_t endLine = int32_t(st.Line) + int32_t(st.LineSpan);
  if (endLine > run.MaxEndLine) run.MaxEndLine = endLine;
  return 0;
}

int CParser::t_source_range() {
  SkipBytes(14);
  return 0;
}

}  // namespace mirl

// ---------------------------------------------------------------------------
// Methods. Run indices and statement ids are checked against their tables
// before use.
// ---------------------------------------------------------------------------
namespace {

const mirl::StatementRun* RunAt(const std::vector<mirl::StatementRun>& runs,
                                const std::vector<mirl::StatementRecord>& statements,
                                uint32_t index) {
  if (index >= runs.size()) return nullptr;
  const mirl::StatementRun& run = runs[index];
  if (run.Count == 0 || uint64_t(run.FirstStatement) + run.Count > statements.size())
    return nullptr;
  return &run;
}

}  // namespace

HRESULT CMirlParserUbrof::EnumHLStatements(ULONG ulStatementId, ULONG* pulAddress,
                                           unsigned char* pucStatementType) {
  if (!pulAddress || !pucStatementType) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  if (ulStatementId >= m_Statements.size()) return PARSER_E_BAD_ID;
  *pulAddress = m_Statements[ulStatementId].Address;
  *pucStatementType = m_Statements[ulStatementId].StatementType;
  return S_OK;
}

bool CMirlParserUbrof::FindLineAddress(const std::string& storedPath, uint32_t line,
                                       uint32_t* pAddress) const {
  auto file = m_FileNames.find(mirl::LowerAscii(storedPath));
  if (file == m_FileNames.end() || file->second >= m_SourceFiles.size()) return false;
  // The earliest run of the file, and in it the first statement read, whose
  // lines hold the line. Columns play no part.
  for (uint32_t index : m_SourceFiles[file->second].StatementRuns) {
    const mirl::StatementRun* run = RunAt(m_StatementRuns, m_Statements, index);
    if (!run || run->MaxEndLine < int32_t(line)) continue;
    for (uint32_t i = 0; i < run->Count; ++i) {
      const mirl::StatementRecord& st = m_Statements[run->FirstStatement + i];
      if (st.Line <= line && line <= uint32_t(st.Line) + st.LineSpan) {
        *pAddress = st.Address;
        return true;
      }
    }
  }
  return false;
}

HRESULT CMirlParserUbrof::GetProgMemAddressFromSource(BSTR* pbstrPath, ULONG ulLine,
                                                      ULONG /*ulCol*/, ULONG* pulAddress) {
  if (!pbstrPath || !pulAddress) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  std::string stored;
  try {
    // A null string is an empty path, which names no file.
    stored = m_FileMapper.UnmapPath(platform::BstrToAnsi(*pbstrPath));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  // The caller's string is consumed; it is left null.
  SysFreeString(*pbstrPath);
  *pbstrPath = nullptr;
  uint32_t address = 0;
  try {
    if (!FindLineAddress(stored, ulLine, &address)) return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *pulAddress = address;
  return S_OK;
}

bool CMirlParserUbrof::FindStatementAt(uint32_t address, uint32_t* pStatement,
                                       uint32_t* pRun) const {
  const mirl::ScopeRecord* scope = m_ScopeTable.Scope(m_ScopeTable.FindScopeByAddress(address));
  if (!scope) return false;
  // Only the innermost scope's runs are searched. A run whose last statement
  // ends below the address is passed over.
  for (uint32_t index : scope->StatementRuns) {
    const mirl::StatementRun* run = RunAt(m_StatementRuns, m_Statements, index);
    if (!run) continue;
    const mirl::StatementRecord& last = m_Statements[run->FirstStatement + run->Count - 1];
    if (uint64_t(last.Address) + last.Length < address) continue;
    for (uint32_t i = 0; i < run->Count; ++i) {
      const mirl::StatementRecord& st = m_Statements[run->FirstStatement + i];
      if (st.Address <= address && uint64_t(address) < uint64_t(st.Address) + st.Length) {
        *pStatement = run->FirstStatement + i;
        *pRun = index;
        return true;
      }
    }
  }
  return false;
}

HRESULT CMirlParserUbrof::GetSourceFromProgMemAddress(ULONG ulAddress, BSTR* pbstrPath,
                                                      ULONG* pulLine, ULONG* pulCol,
                                                      ULONG* pulLineEnd, ULONG* pulColEnd,
                                                      ULONG* pulStart) {
  if (!pbstrPath || !pulLine || !pulCol || !pulLineEnd || !pulColEnd || !pulStart) return E_POINTER;
  if (!IsParsed()) return PARSER_E_NOT_PARSED;
  uint32_t id = 0, runIndex = 0;
  if (!FindStatementAt(ulAddress, &id, &runIndex)) return E_FAIL;
  const mirl::StatementRun& run = m_StatementRuns[runIndex];
  const mirl::StatementRecord& st = m_Statements[id];
  // Statements read while no file was current have no path to give.
  if (run.File < 0 || size_t(run.File) >= m_SourceFiles.size()) return E_FAIL;
  try {
    ReplaceBstr(pbstrPath, m_FileMapper.MapPath(m_SourceFiles[size_t(run.File)].Path));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *pulLine = st.Line;
  *pulCol = st.Column;
  *pulLineEnd = ULONG(st.Line) + st.LineSpan;
  *pulColEnd = st.ColumnEnd;
  *pulStart = st.Address;
  return S_OK;
}
