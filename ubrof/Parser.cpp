#include "Parser.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace mirl {

const char* const kErrUnexpectedEof = "Error: Unexpected end of file";
const char* const kErrOutOfMemory = "Error: Out of memory";
const char* const kErrUnknownTag =
    "Error: Unknown tag found - no corresponding skip info exists! Position error?";
const char* const kErrHandlerFailed = "Error: An error occured while processing the tag!";

const TagEntry kTagTable[38] = {
    {0x4D, &CParser::t_nothing, "t_beg_file"},
    {0xA5, &CParser::t_beg_file1, "t_beg_file1"},
    {0xFF, &CParser::t_nothing, "t_ubrof_eof"},
    {0xBD, &CParser::t_version, "t_version"},
    {0xC0, &CParser::t_seg_info, "t_seg_info"},
    {0xBE, &CParser::t_grp, "t_grp"},
    {0xBF, &CParser::t_grp_ref, "t_grp_ref"},
    {0xC9, &CParser::t_key_value, "t_key_value"},
    {0x00, &CParser::t_beg_lib, "t_beg_lib"},
    {0x01, &CParser::t_beg_lib, "t_beg_pgm"},
    {0x3F, &CParser::t_end, "t_end"},
    {0x3D, &CParser::t_end_abs, "t_end_abs"},
    {0x52, &CParser::t_debug, "t_debug"},
    {0x53, &CParser::t_aux, "t_aux"},
    {0x54, &CParser::t_aux_1, "t_aux_1"},
    {0x46, &CParser::t_file, "t_file"},
    {0x47, &CParser::t_src_stat, "t_src_stat"},
    {0xB9, &CParser::t_file_ref, "t_file_ref"},
    {0xBA, &CParser::t_new_file, "t_new_file"},
    {0xCF, &CParser::t_source_range, "t_source_range"},
    {0xCD, &CParser::t_scoped_name, "t_scoped_name"},
    {0x4C, &CParser::t_symbol_def, "t_symbol_def"},
    {0xA6, &CParser::t_symbol_def1, "t_symbol_def1"},
    {0xCE, &CParser::t_symbol_def2, "t_symbol_def2"},
    {0xC3, &CParser::t_sub_def_obj_attr, "t_sub_def_obj_attr"},
    {0x4E, &CParser::t_macro, "t_macro"},
    {0xC1, &CParser::t_def_ptr_types, "t_def_ptr_types"},
    {0x4A, &CParser::t_type, "t_type"},
    {0x4F, &CParser::t_size_type, "t_size_type"},
    {0xC6, &CParser::t_mem_info, "t_mem_info"},
    {0x50, &CParser::t_old_scope, "t_func_begin"},
    {0xA7, &CParser::t_func_begin1, "t_func_begin1"},
    {0x48, &CParser::t_old_scope, "t_block_begin"},
    {0xA8, &CParser::t_block_begin1, "t_block_begin1"},
    {0xD0, &CParser::t_block_begin3, "t_block_begin3"},
    {0x49, &CParser::t_block_end, "t_block_end"},
    {0x39, &CParser::t_abs_var, "t_abs_var"},
    {0x51, &CParser::t_org, "t_org"},
};

const char* TagName(int code) {
  for (const TagEntry& e : kTagTable)
    if (int(e.Code & 0xFF) == code) return e.Name;
  return nullptr;
}

CParser::CParser(const ParserTables& t)
    : m_pCodeMemory(t.pCodeMemory),
      m_pEepromMemory(t.pEepromMemory),
      m_pDataMemory(t.pDataMemory),
      m_pFileInfo(t.pFileInfo),
      m_pNameTable(t.pNameTable),
      m_pSegmentGroups(t.pSegmentGroups),
      m_pSourceFiles(t.pSourceFiles),
      m_pFileNames(t.pFileNames),
      m_pStatements(t.pStatements),
      m_pStatementRuns(t.pStatementRuns),
      m_pModules(t.pModules),
      m_pScopes(t.pScopes),
      m_pSymbols(t.pSymbols),
      m_pSymbolIndex(t.pSymbolIndex),
      m_pMacros(t.pMacros),
      m_pKeyValues(t.pKeyValues),
      m_pTypes(t.pTypes) {
  for (auto& slot : m_TagHandlers) slot = nullptr;
  for (auto& spec : m_SkipSpec) spec = -1;
  for (const TagEntry& e : kTagTable) m_TagHandlers[e.Code & 0xFF] = &e;
}

CParser::~CParser() {
  // The loop closes the file on every exit; this only guards against a
  // parser destroyed in the middle of a parse.
  if (m_pFile) std::fclose(m_pFile);
}

// ---------------------------------------------------------------------------
// Reader primitives. The file is read forwards through a block buffer of our
// own: going through the stream a byte at a time costs a locked getc per
// byte, and every skip becomes a seek system call, which together cost far
// more than the parse itself. The values delivered, the end-of-file errors and
// the positions are those of reading the stream byte by byte: m_ullPos is the
// logical position, the stream stands at the end of the buffered bytes, and a
// skip beyond the buffer seeks the stream.
// ---------------------------------------------------------------------------
uint32_t CParser::Refill() {
  m_ulBufPos = 0;
  m_ulBufLen = 0;
  if (!m_pFile) return 0;
  m_ulBufLen = uint32_t(std::fread(m_pBuffer.get(), 1, kBufferSize, m_pFile));
  return m_ulBufLen;
}

int CParser::ReadByteSlow() {
  if (Refill() == 0) throw kErrUnexpectedEof;
  ++m_ullPos;
  return m_pBuffer[m_ulBufPos++];
}

uint32_t CParser::ReadWordSlow() {
  uint32_t b0 = uint32_t(ReadByte());
  uint32_t b1 = uint32_t(ReadByte());
  return (b0 << 8) | b1;
}

uint32_t CParser::ReadLongSlow() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | uint32_t(ReadByte());
  return v;
}

void CParser::RequireBytes(uint64_t n) {
  if (m_ullPos > m_ullFileSize || n > m_ullFileSize - m_ullPos) throw kErrUnexpectedEof;
}

void CParser::ReserveIndexedEntries(uint64_t n) {
  uint64_t limit = m_ullFileSize + kIndexedEntryAllowance;
  if (m_ullIndexedEntries > limit || n > limit - m_ullIndexedEntries) throw kErrOutOfMemory;
  m_ullIndexedEntries += n;
}

uint64_t CParser::TableBytes() const {
  uint64_t bytes = 0;
  auto add = [&bytes](size_t count, size_t size) { bytes += uint64_t(count) * size; };
  add(m_pScopes->Scopes.size(), sizeof(ScopeRecord));
  add(m_pNameTable->Count(), sizeof(NameEntry));
  add(m_pSymbols->Symbols.size(), sizeof(SymbolRecord));
  add(m_pSymbols->Ranges.size(), sizeof(LocationRange));
  add(m_pSymbolIndex->size(), sizeof(LabelIndex::value_type) + 32);  // and the tree node
  add(m_pMacros->size(), sizeof(MacroRecord));
  if (m_pKeyValues) add(m_pKeyValues->size(), sizeof(KeyValueRecord));
  add(m_pModules->size(), sizeof(ModuleRecord));
  add(m_pSegmentGroups->size(), sizeof(SegmentGroupRecord));
  // The path of an embedded source begins with the object file's folder,
  // text the record does not pay for; it is kept twice (record and key).
  size_t folder = m_pszObjectFile ? std::strlen(m_pszObjectFile) : 0;
  add(m_pSourceFiles->size(),
      sizeof(SourceFileRecord) + sizeof(FileNameMap::value_type) + 32 + 2 * (folder + 32));
  add(m_pStatements->size(), sizeof(StatementRecord));
  add(m_pStatementRuns->size(), sizeof(StatementRun));
  add(m_pTypes->Types.size(), sizeof(TypeRecord));
  add(m_pTypes->Members.size(), sizeof(MemberRecord));
  add(m_pTypes->Enumerators.size(), sizeof(EnumeratorRecord));
  add(m_pTypes->Parameters.size(), sizeof(uint32_t));
  add(m_pTypes->MemoryAttributes.size(), sizeof(MemoryAttributeRecord));
  return bytes;
}

// Copies n bytes to pDest: what the buffer holds, then large remainders
// straight from the stream and small ones through a refilled buffer.
void CParser::CopyOut(uint8_t* pDest, uint32_t n) {
  while (n > 0) {
    uint32_t avail = m_ulBufLen - m_ulBufPos;
    if (avail == 0) {
      if (n >= kBufferSize) {
        // The buffer no longer holds the bytes just before the position.
        m_ulBufPos = m_ulBufLen = 0;
        size_t got = m_pFile ? std::fread(pDest, 1, n, m_pFile) : 0;
        m_ullPos += got;
        if (got != n) throw kErrUnexpectedEof;
        return;
      }
      if ((avail = Refill()) == 0) throw kErrUnexpectedEof;
    }
    uint32_t take = n < avail ? n : avail;
    std::memcpy(pDest, m_pBuffer.get() + m_ulBufPos, take);
    m_ulBufPos += take;
    m_ullPos += take;
    pDest += take;
    n -= take;
  }
}

void CParser::ReadBlockSlow(void* pDest, uint32_t n) {
  RequireBytes(n);
  CopyOut(static_cast<uint8_t*>(pDest), n);
}

// Moves the logical position to pos: inside the buffered bytes without
// touching the stream, otherwise by seeking it. A position beyond the end of
// the file is not an error here (the next read fails); the stream is then
// left at its end, which also keeps positions that a long cannot hold away
// from fseek.
void CParser::MoveTo(uint64_t pos) {
  uint64_t bufStart = m_ullPos - m_ulBufPos;
  if (pos >= bufStart && pos - bufStart <= m_ulBufLen) {
    m_ulBufPos = uint32_t(pos - bufStart);
    m_ullPos = pos;
    return;
  }
  m_ulBufPos = m_ulBufLen = 0;
  if (!m_pFile) throw kErrUnexpectedEof;
  int rc = pos <= m_ullFileSize ? std::fseek(m_pFile, long(pos), SEEK_SET)
                                : std::fseek(m_pFile, 0, SEEK_END);
  if (rc != 0) throw kErrUnexpectedEof;
  m_ullPos = pos;
}

void CParser::SeekTo(uint64_t pos) { MoveTo(pos); }

void CParser::SkipBytes(uint32_t n) {
  if (n == 0) return;
  if (n <= m_ulBufLen - m_ulBufPos) {
    m_ulBufPos += n;
    m_ullPos += n;
    return;
  }
  MoveTo(m_ullPos + n);
}

StringPtr CParser::ReadString(uint32_t n) {
  // A length beyond the end of the file can only come from a damaged file;
  // refuse it before allocating.
  RequireBytes(n);
  StringPtr p(new (std::nothrow) char[size_t(n) + 1]);
  if (!p) throw kErrOutOfMemory;
  CopyOut(reinterpret_cast<uint8_t*>(p.get()), n);
  p[n] = 0;
  return p;
}

// ---------------------------------------------------------------------------
// Tag loop
// ---------------------------------------------------------------------------
void CParser::AddSkipInfo(uint8_t code, uint8_t spec) {
  m_SkipInfo.emplace_back(code, spec);
  if (m_SkipSpec[code] < 0) m_SkipSpec[code] = spec;
}

// The first skip information given for a code decides. It is looked up by
// code rather than searched: a file can give any number of t_version
// records, and a search per unknown record would make the parse take time
// of the square of the file's size.
int CParser::SkipUnknownTag(uint8_t code) {
  if (m_SkipSpec[code] >= 0) {
    uint8_t spec = uint8_t(m_SkipSpec[code]);
    uint32_t length;
    if (spec <= 0x7F)
      length = spec;
    else if (spec == 0xFD)
      length = uint32_t(ReadByte());
    else if (spec == 0xFE)
      length = ReadWord();
    else if (spec == 0xFF)
      length = ReadLong();
    else if (spec == 0xFC && m_bUbrof10)
      length = ReadCompact();
    else
      return 0;
    SkipBytes(length);
    return 1;
  }
  return 0;
}

bool CParser::Open(const char* pszPath) {
  m_pFile = std::fopen(pszPath, "rb");
  if (!m_pFile) return false;
  if (!m_pBuffer) m_pBuffer.reset(new uint8_t[kBufferSize]);
  m_ulBufPos = m_ulBufLen = 0;
  if (std::fseek(m_pFile, 0, SEEK_END) == 0) {
    long size = std::ftell(m_pFile);
    m_ullFileSize = size > 0 ? uint64_t(size) : 0;
  }
  std::fseek(m_pFile, 0, SEEK_SET);
  m_ullPos = 0;
  m_ullIndexedEntries = 0;
  m_ullTableLimit = m_ullFileSize * kTableBytesPerFileByte + kTableAllowance;
  return true;
}

int CParser::ParseFile(const char* pszPath) {
  m_Diagnostic = ParseDiagnostic();
  m_Diagnostic.bFailed = true;
  if (!pszPath || !*pszPath) return 0;
  m_pszObjectFile = pszPath;
  if (!Open(pszPath)) return 0;

  int result = 0;
  const char* pszError = nullptr;
  try {
    for (;;) {
      m_Diagnostic.lRecordOffset = long(m_ullPos);
      m_Diagnostic.nTag = -1;
      int tag = ReadByte();
      m_Diagnostic.nTag = tag;
      const TagEntry* entry = m_TagHandlers[tag];
      if (!entry) {
        if (SkipUnknownTag(uint8_t(tag))) {
          ++m_ulSkippedRecords;
          continue;
        }
        throw kErrUnknownTag;
      }
      const uint32_t code = m_ulCodeAddress, eeprom = m_ulEepromAddress, data = m_ulDataAddress;
      if ((this->*(entry->Handler))() != 0) throw kErrHandlerFailed;
      if (m_pWrites && tag == 0x39)  // t_abs_var
        m_pWrites->Note(code, m_ulCodeAddress, eeprom, m_ulEepromAddress, data, m_ulDataAddress);
      // One record adds a bounded amount, so checking after each is enough.
      if (TableBytes() > m_ullTableLimit) throw kErrOutOfMemory;
      if (tag == 0xFF) {
        result = 1;
        break;
      }
    }
  } catch (const char* pszMessage) {
    pszError = pszMessage;
  } catch (const std::bad_alloc&) {
    // A table that cannot grow ends the parse like a failed string allocation.
    pszError = kErrOutOfMemory;
  } catch (const std::length_error&) {
    pszError = kErrOutOfMemory;
  }
  std::fclose(m_pFile);
  m_pFile = nullptr;
  m_ulBufPos = m_ulBufLen = 0;
  m_pFileInfo->m_bUbrof10 = m_bUbrof10;
  m_pFileInfo->m_ulSkippedRecords = m_ulSkippedRecords;
  if (result) {
    m_Diagnostic = ParseDiagnostic();
  } else {
    m_Diagnostic.pszMessage = pszError;
    m_Diagnostic.lOffset = long(m_ullPos);
    m_Diagnostic.pszTagName = m_Diagnostic.nTag >= 0 ? TagName(m_Diagnostic.nTag) : nullptr;
  }
  return result;
}

int CParser::t_nothing() { return 0; }

// The two older scope records cannot be read by this parser.
int CParser::t_old_scope() { return 1; }

}  // namespace mirl
