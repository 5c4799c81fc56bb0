// UBROF 10: the records whose layout differs from UBROF 8, and the switch
// that puts their handlers in place of the UBROF 8 ones. t_version calls
// BeginUbrof10 only when the read API's opt-in entry asked for it; every
// other record keeps its UBROF 8 handler (docs/ubrof10.md says why each is
// the same). Records we know no layout of are passed over by the skip
// information of t_version and counted.
#include <algorithm>

#include "../source/SourceFiles.h"
#include "../ubrof/Parser.h"
#include "Ubrof10.h"

namespace mirl {

namespace {

constexpr uint8_t kTagSegInfo = 0xC0;
constexpr uint8_t kTagScopedName = 0xCD;
constexpr uint8_t kTagSymbolDef2 = 0xCE;
constexpr uint8_t kTagFunctionPrefix = 0xC4;
constexpr uint8_t kTagSourceFiles = 0xD6;
constexpr uint8_t kTagCodePiece = 0xD4;
constexpr uint8_t kTagBlockBegin3 = 0xD0;
constexpr uint8_t kTagLineProgram = 0xD5;
// The kind of 0xD4 record that describes one piece of code.
constexpr int kPieceOfCode = 3;

// The handlers that replace or add to the UBROF 8 table.
const TagEntry kUbrof10Tags[] = {
    {kTagSegInfo, &CParser::t_seg_info10, "t_seg_info"},
    {kTagScopedName, &CParser::t_scoped_name10, "t_scoped_name"},
    {kTagSymbolDef2, &CParser::t_symbol_def2_10, "t_symbol_def2"},
    {kTagFunctionPrefix, &CParser::t_fixed4_10, "t_c4"},
    {kTagSourceFiles, &CParser::t_source_files10, "t_source_files"},
    {kTagCodePiece, &CParser::t_code_piece10, "t_code_piece"},
    {kTagBlockBegin3, &CParser::t_block_begin3_10, "t_block_begin3"},
    {kTagLineProgram, &CParser::t_line_program10, "t_line_program"},
};

// The statement program of one piece of code (0xD5 kind 2). A byte from
// kFirstRowByte on and the byte after it are one row: their number, less
// kFirstRowByte * 256, holds four fields in turn: line advance (0 to 4),
// column advance (-8 to 8), end column advance (-20 to 20), and the rest is
// the address advance in the piece's units. docs/ubrof10.md gives the
// evidence for each field and operation.
constexpr int kStatementPiece = 2;
constexpr uint32_t kFirstRowByte = 14;
constexpr uint32_t kLineRange = 5, kColumnRange = 17, kColumnBase = 8, kEndRange = 41,
                   kEndBase = 20;
// The address advance of operation 7: that of the largest row.
constexpr uint32_t kConstAdvance = 17;
// The statement kind that marks a function's entry ("{").
constexpr uint32_t kKindEntry = 3;
// Include trees deeper than this are damaged files.
constexpr size_t kMaxIncludeDepth = 200;

// A range of a symbol: range tag (2), start (4), class (1), memory
// attribute (2), value (4), as in UBROF 8.
constexpr uint32_t kRangeBytes = 13;

}  // namespace

bool IsUbrof10TypeKind(uint32_t kind) {
  switch (kind) {
    case 15:
    case 19:
    case 35:
    case 41:
    case 42:
    case 43:
    case 49:
    case 51:
    case 52:
      return true;
    default:
      return false;
  }
}

uint32_t CParser::ReadCompact() {
  uint32_t value = 0;
  for (unsigned shift = 0; shift < 35; shift += 7) {
    uint32_t b = uint32_t(ReadByte());
    value |= (b & 0x7F) << shift;
    if (!(b & 0x80)) return value;
  }
  // Five bytes hold every 32-bit number; a sixth is a damaged file.
  throw kErrHandlerFailed;
}

// The version bytes are read; the skip information follows as in UBROF 8,
// and from here on the UBROF 10 handlers answer.
int CParser::BeginUbrof10() {
  m_bUbrof10 = true;
  int n = ReadByte();
  for (int i = 0; i < n; ++i) {
    uint8_t code = uint8_t(ReadByte());
    uint8_t spec = uint8_t(ReadByte());
    AddSkipInfo(code, spec);
  }
  for (const TagEntry& e : kUbrof10Tags) m_TagHandlers[e.Code] = &e;
  return 0;
}

// The segment table changed its layout, and the segment ranges are not a
// table of ours: the record is passed over by its length.
int CParser::t_seg_info10() {
  SkipBytes(ReadLong());
  return 0;
}

// The UBROF 8 forms, read by the UBROF 8 handler; the record's length then
// decides where the next record begins, so a form we do not know is passed
// over rather than read as tags.
int CParser::t_scoped_name10() {
  uint64_t start = Tell();
  uint64_t end = start + 4 + ReadLong();
  SeekTo(start);
  if (t_scoped_name() != 0) return 1;
  if (Tell() > end) throw kErrHandlerFailed;
  SeekTo(end);
  return 0;
}

// As UBROF 8's t_symbol_def2, with the type id as a compact number.
int CParser::t_symbol_def2_10() {
  uint32_t length = ReadLong();
  uint64_t end = Tell() + length;
  AttachSymbolId(m_pSymbols->Count());
  uint8_t cls = uint8_t(ReadByte());
  uint16_t memAttr = uint16_t(ReadWord());
  uint32_t value = ReadLong();
  uint32_t nameIndex = ReadLong();
  uint16_t typeId = uint16_t(ReadCompact());
  m_pSymbols->AddSymbol(cls, memAttr, value, nameIndex, typeId);
  AddLabel(cls, memAttr, value, nameIndex);
  uint32_t ranges = ReadWord();
  // The ranges and the closing byte fill the record exactly; otherwise the
  // ranges are not ours to read.
  if (end >= Tell() && end - Tell() == uint64_t(ranges) * kRangeBytes + 1) ReadRanges(ranges);
  if (Tell() > end) throw kErrHandlerFailed;
  SeekTo(end);
  AddPrefixAlias(cls, memAttr, value, nameIndex);
  return 0;
}

// Four bytes before each function's records; what they mean is not known.
int CParser::t_fixed4_10() {
  SkipBytes(4);
  ++m_ulSkippedRecords;
  return 0;
}

// The module's source files: its folders, then its files, each naming its
// folder by number from 1. What follows the files (the include tree) is
// passed over by the record's length. A file's number in the list, from 0,
// is its file reference in the module.
int CParser::t_source_files10() {
  uint32_t length = ReadCompact();
  uint64_t end = Tell() + length;
  RequireBytes(length);
  std::vector<std::string> folders;
  for (uint32_t i = 0, n = ReadCompact(); i < n; ++i) {
    StringPtr folder = ReadString(ReadCompact());
    folders.emplace_back(folder.get());
  }
  std::vector<uint32_t> ids, lineCounts;
  for (uint32_t i = 0, n = ReadCompact(); i < n && Tell() < end; ++i) {
    ReadCompact();  // always 0 in the samples; not known
    StringPtr name = ReadString(ReadCompact());
    uint32_t folder = ReadCompact();
    SourceFileRecord rec;
    rec.Path =
        folder >= 1 && folder <= folders.size() ? folders[folder - 1] + name.get() : name.get();
    DATE stamp = 0.0;
    if (ReadTimeStamp(&stamp)) rec.TimeStamp = stamp;
    lineCounts.push_back(ReadCompact());
    if (m_pScopes->CurrentModule != kNone)
      ReserveIndex(m_pScopes->Scopes[m_pScopes->CurrentModule].FileRefs.size(), i);
    ids.push_back(RegisterFile(std::move(rec)));
    m_pScopes->SetFileRef(i, ids.back());
  }
  if (Tell() > end) throw kErrHandlerFailed;
  ReadIncludeTree10(end, ids, lineCounts);
  if (Tell() > end) throw kErrHandlerFailed;
  SeekTo(end);
  return 0;
}

// The include tree after the file list: 1 (line, file) opens a file at that
// line of the file open now, 2 closes the file open now. Positions count
// through the text this makes: each file's lines where the tree puts them,
// the line of an include before the included text, from position 1.
void CParser::ReadIncludeTree10(uint64_t end, const std::vector<uint32_t>& files,
                                const std::vector<uint32_t>& lineCounts) {
  m_ModuleText.clear();
  struct Open {
    uint32_t File, Done;  // index in the module's list; lines placed so far
  };
  std::vector<Open> stack;
  uint64_t position = 0;
  auto place = [&](Open& f, uint32_t through) {
    if (through <= f.Done) return;
    m_ModuleText.push_back(
        {uint32_t(position + 1), uint32_t(position + through - f.Done), files[f.File], f.Done + 1});
    position += through - f.Done;
    f.Done = through;
    if (position > 0xFFFFFFFFu) throw kErrHandlerFailed;
  };
  while (Tell() < end) {
    int op = ReadByte();
    if (op == 1) {
      uint32_t line = ReadCompact(), file = ReadCompact();
      if (file >= files.size() || stack.size() >= kMaxIncludeDepth) break;
      if (!stack.empty()) place(stack.back(), std::min(line, lineCounts[stack.back().File]));
      stack.push_back({file, 0});
    } else if (op == 2 && !stack.empty()) {
      place(stack.back(), lineCounts[stack.back().File]);
      stack.pop_back();
    } else {
      break;  // not a tree we know: its positions name no file
    }
  }
  while (!stack.empty()) {
    place(stack.back(), lineCounts[stack.back().File]);
    stack.pop_back();
  }
}

void CParser::AttachPendingRuns10() {
  for (uint32_t run : m_PendingRuns10) m_pScopes->AddStatementRun(run);
  m_PendingRuns10.clear();
}

bool CParser::MapPosition10(uint32_t position, uint32_t* pFile, uint32_t* pLine) const {
  auto it = std::upper_bound(m_ModuleText.begin(), m_ModuleText.end(), position,
                             [](uint32_t p, const TextStretch& t) { return p < t.First; });
  if (it == m_ModuleText.begin() || position > (--it)->Last) return false;
  *pFile = it->File;
  *pLine = it->Line + (position - it->First);
  return true;
}

// After the t_org of a function's code: the kind, a byte, and the size of
// the code; then what looks like call-frame rules, passed over by the
// record's length. Other kinds are not known and count as skipped.
int CParser::t_code_piece10() {
  uint32_t length = ReadCompact();
  uint64_t end = Tell() + length;
  if (length >= 2 && ReadByte() == kPieceOfCode) {
    ReadByte();
    m_ulPieceStart = m_ulCodeAddress;
    m_ulPieceSize = ReadCompact();
    m_bPiece = true;
    m_ulLinePieceStart = m_ulPieceStart;
    m_ulLinePieceSize = m_ulPieceSize;
    m_bLinePiece = true;
  } else {
    ++m_ulSkippedRecords;
  }
  if (Tell() > end) throw kErrHandlerFailed;
  SeekTo(end);
  return 0;
}

// A function's scope has the code of the piece before it: UBROF 10 has no
// statements of ours to widen it by, and part of the code comes before the
// scope opens. Blocks keep no code of their own.
int CParser::t_block_begin3_10() {
  if (t_block_begin3() != 0) return 1;
  const ScopeRecord& scope = m_pScopes->Scopes.back();
  if (scope.Kind == kScopeFunction && m_bPiece && m_ulPieceSize <= ~m_ulPieceStart) {
    m_pScopes->WidenScope(m_ulPieceStart, m_ulPieceStart + m_ulPieceSize);
    AttachPendingRuns10();
  }
  m_bPiece = false;
  return 0;
}

// The statement program of the last piece of code: a header (kind 2, a 0,
// the code size in units, an id, a flag, the function's number and its
// body's range), then operations and rows. Other kinds (the module's
// program header) are counted as skipped.
int CParser::t_line_program10() {
  uint32_t length = ReadCompact();
  RequireBytes(length);
  uint64_t end = Tell() + length;
  if (length < 2 || ReadByte() != kStatementPiece || !m_bLinePiece) {
    ++m_ulSkippedRecords;
    SeekTo(end);
    return 0;
  }
  ReadCompact();
  uint32_t units = ReadCompact();
  ReadCompact();                              // the piece's id
  ReadByte();                                 // flag
  for (int i = 0; i < 5; ++i) ReadCompact();  // function number, body range
  std::vector<LineRow10> rows;
  int64_t unit = 0, position = 0, column = 0, columnEnd = 0;
  uint32_t kind = 0;
  auto signedCompact = [this]() {
    uint64_t start = Tell();
    uint32_t v = ReadCompact();
    unsigned bits = unsigned(Tell() - start) * 7;
    return bits < 32 && (v >> (bits - 1)) & 1 ? int64_t(v) - (int64_t(1) << bits) : int64_t(v);
  };
  while (Tell() < end) {
    uint32_t op = uint32_t(ReadByte());
    if (op >= kFirstRowByte) {
      uint32_t v = (op - kFirstRowByte) * 256 + uint32_t(ReadByte());
      position += v % kLineRange;
      v /= kLineRange;
      column += int64_t(v % kColumnRange) - kColumnBase;
      v /= kColumnRange;
      columnEnd += int64_t(v % kEndRange) - kEndBase;
      unit += v / kEndRange;
      if (position >= 0 && position <= 0xFFFFFFFF && unit < units && column > 0 && column < 256 &&
          columnEnd > 0 && columnEnd < 256)
        rows.push_back(
            {uint32_t(unit), uint32_t(position), uint32_t(column), uint32_t(columnEnd), kind});
      kind = 0;
      continue;
    }
    switch (op) {
      case 0:  // a block of its own length: call sites (not read)
        SkipBytes(ReadCompact());
        break;
      case 1:
        ReadCompact();
        ReadCompact();
        break;
      case 2:
        unit += ReadCompact();
        break;
      case 3:
        position += signedCompact();
        break;
      case 5:
        column += signedCompact();
        break;
      case 6:
        columnEnd += signedCompact();
        break;
      case 7:
        unit += kConstAdvance;
        break;
      case 8:
        kind = ReadCompact();
        break;
      case 9:
        break;
      case 4:
      case 10:
      case 11:
      case 12:
      case 13:
        ReadCompact();  // meaning not known; no field of ours
        break;
      default:
        throw kErrHandlerFailed;
    }
    // A program that runs away from its piece is damaged.
    if (unit > 0xFFFFFFF || position < -0xFFFFFFF || position > 0xFFFFFFFF) throw kErrHandlerFailed;
  }
  if (Tell() > end) throw kErrHandlerFailed;
  if (units != 0 && m_ulLinePieceSize % units == 0 && m_ulLinePieceSize <= ~m_ulLinePieceStart)
    AddStatements10(rows, units, m_ulLinePieceSize / units);
  return 0;
}

// The rows become statements in address order; of rows at one address the
// last is kept (the others got no code), and a statement's code runs to the
// next one's or to the piece's end. A position outside the module's text
// names no file and is left out.
void CParser::AddStatements10(std::vector<LineRow10>& rows, uint32_t units, uint32_t unitBytes) {
  AttachPendingRuns10();
  std::stable_sort(rows.begin(), rows.end(),
                   [](const LineRow10& a, const LineRow10& b) { return a.Unit < b.Unit; });
  for (size_t i = 0; i < rows.size(); ++i) {
    const LineRow10& r = rows[i];
    if (i + 1 < rows.size() && rows[i + 1].Unit == r.Unit) continue;
    uint32_t file = 0, line = 0;
    if (!MapPosition10(r.Position, &file, &line) || line == 0 || line > 0xFFFF) continue;
    uint32_t next = i + 1 < rows.size() ? rows[i + 1].Unit : units;
    if (int32_t(file) != m_lCurrentFile) {
      m_lCurrentFile = int32_t(file);
      m_bNewRun = 1;
    }
    if (m_bNewRun || m_pStatementRuns->empty()) {
      m_bNewRun = 0;
      uint32_t run = uint32_t(m_pStatementRuns->size());
      m_PendingRuns10.push_back(run);
      if (file < m_pSourceFiles->size()) (*m_pSourceFiles)[file].StatementRuns.push_back(run);
      StatementRun sr;
      sr.File = int32_t(file);
      sr.FirstStatement = uint32_t(m_pStatements->size());
      m_pStatementRuns->push_back(sr);
    }
    StatementRecord st;
    st.Address = m_ulLinePieceStart + r.Unit * unitBytes;
    st.Length = uint16_t(std::min<uint64_t>(uint64_t(next - r.Unit) * unitBytes, 0xFFFF));
    st.Line = uint16_t(line - 1);
    st.LineSpan = 0;  // the end line is not known
    st.Column = uint8_t(r.Column - 1);
    st.ColumnEnd = uint8_t(r.ColumnEnd - 1);
    st.StatementType = r.Kind == kKindEntry ? 0x03 : 0x01;
    m_pStatements->push_back(st);
    StatementRun& run = m_pStatementRuns->back();
    ++run.Count;
    if (int32_t(st.Line) > run.MaxEndLine) run.MaxEndLine = st.Line;
  }
  // The next module or piece starts its own run.
  m_bNewRun = 1;
}

}  // namespace mirl
