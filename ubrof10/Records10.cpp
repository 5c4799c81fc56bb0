// UBROF 10: the records whose layout differs from UBROF 8, and the switch
// that puts their handlers in place of the UBROF 8 ones. t_version calls
// BeginUbrof10 only when the read API's opt-in entry asked for it; every
// other record keeps its UBROF 8 handler (docs/ubrof10.md says why each is
// the same). Records we know no layout of are passed over by the skip
// information of t_version and counted.
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
};

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
  for (uint32_t i = 0, n = ReadCompact(); i < n; ++i) {
    ReadCompact();  // always 0 in the samples; not known
    StringPtr name = ReadString(ReadCompact());
    uint32_t folder = ReadCompact();
    SourceFileRecord rec;
    rec.Path =
        folder >= 1 && folder <= folders.size() ? folders[folder - 1] + name.get() : name.get();
    DATE stamp = 0.0;
    if (ReadTimeStamp(&stamp)) rec.TimeStamp = stamp;
    ReadCompact();  // the file's line count
    if (m_pScopes->CurrentModule != kNone)
      ReserveIndex(m_pScopes->Scopes[m_pScopes->CurrentModule].FileRefs.size(), i);
    m_pScopes->SetFileRef(i, RegisterFile(std::move(rec)));
  }
  if (Tell() > end) throw kErrHandlerFailed;
  SeekTo(end);
  return 0;
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
  if (scope.Kind == kScopeFunction && m_bPiece && m_ulPieceSize <= ~m_ulPieceStart)
    m_pScopes->WidenScope(m_ulPieceStart, m_ulPieceStart + m_ulPieceSize);
  m_bPiece = false;
  return 0;
}

}  // namespace mirl
