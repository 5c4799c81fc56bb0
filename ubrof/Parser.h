// CParser: reads one UBROF object file, record by record, into the
// component's tables. It lives for one ParseObjectFile call and only borrows
// the tables.
#ifndef MIRL_PARSER_H
#define MIRL_PARSER_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../scopes/NameTable.h"
#include "../scopes/ScopeTable.h"
#include "../scopes/SymbolTable.h"
#include "../source/SourceFiles.h"
#include "../types/TypeTable.h"
#include "DMemory.h"
#include "Modules.h"
#include "WrittenRanges.h"

namespace mirl {

// Reader errors are thrown as a pointer to one of these fixed texts.
extern const char* const kErrUnexpectedEof;  // "Error: Unexpected end of file"
extern const char* const kErrOutOfMemory;    // "Error: Out of memory"
extern const char* const kErrUnknownTag;     // unknown tag, no skip information
extern const char* const kErrHandlerFailed;  // a handler returned nonzero

// What ended a failed parse, for tools that want to tell a person where the
// file is damaged. It is never reported through the interface methods.
struct ParseDiagnostic {
  bool bFailed = false;
  const char* pszMessage = nullptr;  // one of the texts above, or null
  long lOffset = -1;                 // file offset of the failing read
  long lRecordOffset = -1;           // offset of the failing record's tag byte
  int nTag = -1;                     // its tag code
  const char* pszTagName = nullptr;  // its name, when the tag is known
  unsigned uVersion = 0;             // the version byte of a rejected t_version
};

// Entries that tables gain only because the file names an index beyond
// their end (type ids, segment groups, memory attributes, file reference
// numbers) are not paid for by bytes of the file. One parse may add at most
// the file's size plus this many of them, so that a few bytes can never make
// the tables large; the next one fails the parse as out of memory.
constexpr uint64_t kIndexedEntryAllowance = 65536;

// The tables one parse fills may take at most this many bytes per byte of
// the object file, plus kTableAllowance. Real files need about 2; records
// that are as short as the format allows mostly stay below 25, but a file
// of nothing but empty three-byte blocks would need some 80, so that 16 MB
// of them could take over a gigabyte. Past the limit the parse fails as out
// of memory. Counted are the fixed-size records of the tables (texts are as
// long as in the file, apart from the folder that every embedded source's
// path begins with, which is counted too).
constexpr uint64_t kTableBytesPerFileByte = 32;
constexpr uint64_t kTableAllowance = 64ull * 1024 * 1024;

// At most this many embedded sources of one object file are written to disk.
// Real files embed a few; a four-byte record is enough for one more file, so
// without a limit a damaged file could fill a folder with a quarter of a
// million of them. Beyond it the records are read and registered as usual,
// but their files are not written (as when the folder cannot be written).
constexpr uint32_t kMaxExtractedSources = 4096;

// A string read from the file: n bytes and a terminating zero.
typedef std::unique_ptr<char[]> StringPtr;

class CParser;
typedef int (CParser::*TagHandler)();

struct TagEntry {
  uint32_t Code;
  TagHandler Handler;
  const char* Name;
};

// The 38 known tags, in table order.
extern const TagEntry kTagTable[38];
const char* TagName(int code);

struct ParserTables {
  FileInfo* pFileInfo;
  NameTable* pNameTable;
  TypeTable* pTypes;
  std::vector<SegmentGroupRecord>* pSegmentGroups;
  std::vector<ModuleRecord>* pModules;
  ScopeTable* pScopes;
  SymbolTable* pSymbols;
  LabelIndex* pSymbolIndex;
  std::vector<MacroRecord>* pMacros;
  DMemory* pCodeMemory;
  DMemory* pEepromMemory;
  DMemory* pDataMemory;
  std::vector<SourceFileRecord>* pSourceFiles;
  std::vector<StatementRecord>* pStatements;
  FileNameMap* pFileNames;
  std::vector<StatementRun>* pStatementRuns;
  // Kept only for the read API; null drops the pairs.
  std::vector<KeyValueRecord>* pKeyValues = nullptr;
};

class CParser {
 public:
  explicit CParser(const ParserTables& tables);
  virtual ~CParser();
  CParser(const CParser&) = delete;
  CParser& operator=(const CParser&) = delete;

  // Tag loop: 1 when the file was read through its end record, else 0.
  int ParseFile(const char* pszPath);
  const ParseDiagnostic& Diagnostic() const { return m_Diagnostic; }
  // Opens the object file for the primitives (ParseFile does this itself).
  bool Open(const char* pszPath);

  // ---- Reader primitives (throw a reader error) -----------------------
  int ReadByte() {
    if (m_ulBufPos < m_ulBufLen) {
      ++m_ullPos;
      return m_pBuffer[m_ulBufPos++];
    }
    return ReadByteSlow();
  }
  uint32_t ReadWord() {
    if (m_ulBufLen - m_ulBufPos >= 2) {
      const uint8_t* p = m_pBuffer.get() + m_ulBufPos;
      m_ulBufPos += 2;
      m_ullPos += 2;
      return uint32_t(p[0]) << 8 | p[1];
    }
    return ReadWordSlow();
  }
  uint32_t ReadLong() {
    if (m_ulBufLen - m_ulBufPos >= 4) {
      const uint8_t* p = m_pBuffer.get() + m_ulBufPos;
      m_ulBufPos += 4;
      m_ullPos += 4;
      return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
    return ReadLongSlow();
  }
  // Bytes the buffer holds are in the file, so they need no length check.
  void ReadBlock(void* pDest, uint32_t n) {
    if (n == 0) return;
    if (n <= m_ulBufLen - m_ulBufPos) {
      std::memcpy(pDest, m_pBuffer.get() + m_ulBufPos, n);
      m_ulBufPos += n;
      m_ullPos += n;
      return;
    }
    ReadBlockSlow(pDest, n);
  }
  void SkipBytes(uint32_t n);
  StringPtr ReadString(uint32_t n);
  // Length-prefixed strings: the length field, then the text.
  StringPtr ReadByteString() { return ReadString(uint32_t(ReadByte())); }
  StringPtr ReadWordString() { return ReadString(ReadWord()); }
  StringPtr ReadLongString() { return ReadString(ReadLong()); }
  // Fails as end of file when fewer than n bytes remain, so that a count or
  // length from a damaged file never drives a large allocation.
  void RequireBytes(uint64_t n);
  // Counts n entries a table is about to gain for an index from the file,
  // against the limit above (raises "Error: Out of memory" beyond it).
  void ReserveIndexedEntries(uint64_t n);
  // The same for a table of currentSize entries that must hold index.
  void ReserveIndex(uint64_t currentSize, uint64_t index) {
    if (index >= currentSize) ReserveIndexedEntries(index + 1 - currentSize);
  }
  // The bytes the fixed-size records of the borrowed tables take now.
  uint64_t TableBytes() const;

  // A number of the compact form UBROF 10 uses for type ids and lengths:
  // seven bits a byte, lowest first, the top bit set on every byte but the
  // last (docs/ubrof10.md). Longer than five bytes is no number of ours.
  uint32_t ReadCompact();
  // A type id: a word in UBROF 8, a compact number in UBROF 10.
  uint32_t ReadTypeIndex() { return m_bUbrof10 ? ReadCompact() : ReadWord(); }

  int SkipUnknownTag(uint8_t code);
  // Records one pair of a t_version record's skip information.
  void AddSkipInfo(uint8_t code, uint8_t spec);

  // Position for a look-ahead that puts the stream back afterwards.
  uint64_t Tell() const { return m_ullPos; }
  void SeekTo(uint64_t pos);

  // ---- Record handlers --------------------------------------------------
  int t_nothing();    // t_beg_file, t_ubrof_eof
  int t_old_scope();  // t_func_begin, t_block_begin
  int t_beg_file1();
  int t_version();
  int t_seg_info();
  int t_grp();
  int t_grp_ref();
  int t_key_value();
  int t_beg_lib();  // also t_beg_pgm
  int t_end();
  int t_end_abs();
  int t_debug();
  int t_aux();
  int t_aux_1();
  int t_file();
  int t_src_stat();
  int t_file_ref();
  int t_new_file();
  int t_source_range();
  int t_scoped_name();
  int t_symbol_def();
  int t_symbol_def1();
  int t_symbol_def2();
  int t_sub_def_obj_attr();
  int t_macro();
  int t_def_ptr_types();
  int t_type();
  int t_size_type();
  int t_mem_info();
  int t_func_begin1();
  int t_block_begin1();
  int t_block_begin3();
  int t_block_end();
  int t_abs_var();
  int t_org();

  // ---- UBROF 10 (ubrof10/), installed by t_version when the parse
  // accepts that version ----------------------------------------------------
  int BeginUbrof10();
  int t_seg_info10();
  int t_scoped_name10();
  int t_symbol_def2_10();
  int t_fixed4_10();
  int t_source_files10();
  int t_code_piece10();
  int t_block_begin3_10();
  int t_line_program10();

 private:
  // Shared by the handlers.
  void AttachSymbolId(uint32_t id);
  // The six date bytes of t_beg_file1 and t_file_ref (second first, year
  // from 1900); false when they form no valid date.
  bool ReadTimeStamp(DATE* pDate);
  void AttachMacroId(uint32_t id);
  // The fields t_symbol_def, t_symbol_def1 and local symbols begin with;
  // the name is added to the name table for symbol id.
  struct SymbolFields {
    uint8_t Class;
    uint16_t MemoryAttribute;
    uint32_t Value;
    uint32_t NameIndex;
    uint16_t TypeId;
  };
  SymbolFields ReadSymbolFields(uint32_t id);
  void ReadLocalSymbols(uint32_t count);
  void ReadRanges(uint32_t count);
  void DropPendingStatement();
  void AddLabel(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex);
  void AddPrefixAlias(uint8_t cls, uint16_t memAttr, uint32_t value, uint32_t nameIndex);
  uint32_t RegisterFile(SourceFileRecord&& rec);

 public:
  // ---- State --------------------------------------------------------------
  FILE* m_pFile = nullptr;
  const char* m_pszObjectFile = nullptr;
  const TagEntry* m_TagHandlers[256];
  std::vector<std::pair<uint8_t, uint8_t>> m_SkipInfo;
  int16_t m_SkipSpec[256];  // the first spec given for each code; -1 for none
  DMemory* m_pCodeMemory;
  DMemory* m_pEepromMemory;
  DMemory* m_pDataMemory;
  uint32_t m_ulSegmentType = 1;
  uint32_t m_ulCodeAddress = 0;
  uint32_t m_ulEepromAddress = 0;
  uint32_t m_ulDataAddress = 0;
  FileInfo* m_pFileInfo;
  NameTable* m_pNameTable;
  std::vector<SegmentGroupRecord>* m_pSegmentGroups;
  std::vector<SourceFileRecord>* m_pSourceFiles;
  FileNameMap* m_pFileNames;
  std::vector<StatementRecord>* m_pStatements;
  std::vector<StatementRun>* m_pStatementRuns;
  uint32_t m_bNewRun = 1;
  int32_t m_lCurrentFile = -1;
  std::vector<ModuleRecord>* m_pModules;
  ScopeTable* m_pScopes;
  SymbolTable* m_pSymbols;
  LabelIndex* m_pSymbolIndex;
  std::vector<MacroRecord>* m_pMacros;
  std::vector<KeyValueRecord>* m_pKeyValues;
  TypeTable* m_pTypes;
  double m_dCompilerVersion = 0.0;
  uint32_t m_ulModuleState = 0;
  uint32_t m_ulPendingStatements = 0;
  std::map<std::string, uint32_t> m_EmbeddedNames;
  uint32_t m_ulExtractedSources = 0;  // embedded sources written so far
  // Where t_abs_var wrote, for tools; null when nobody asks.
  MemoryWrites* m_pWrites = nullptr;
  // Set by the read API's opt-in entry: a t_version of 10 switches to the
  // UBROF 10 layouts instead of refusing the file.
  bool m_bAcceptUbrof10 = false;
  bool m_bUbrof10 = false;  // the file is read with the UBROF 10 layouts
  // Records passed over by their skip information: their content is not
  // read into any table.
  uint32_t m_ulSkippedRecords = 0;
  // UBROF 10: the last piece of code (0xD4) not yet given to a function.
  uint32_t m_ulPieceStart = 0, m_ulPieceSize = 0;
  bool m_bPiece = false;
  // UBROF 10: the last piece of code (0xD4), which the statement program
  // (0xD5) after it describes.
  uint32_t m_ulLinePieceStart = 0, m_ulLinePieceSize = 0;
  bool m_bLinePiece = false;
  // Statement runs of the last program, for the function scope that opens
  // after it (lookups search the innermost scope's runs); runs no function
  // takes go to the scope that is current at the next program or module end.
  std::vector<uint32_t> m_PendingRuns10;
  void AttachPendingRuns10();
  // UBROF 10: the module's text as the include tree lays it out: source
  // positions [First, Last] are lines Line on of file File (a source-file id).
  struct TextStretch {
    uint32_t First, Last, File, Line;
  };
  std::vector<TextStretch> m_ModuleText;
  bool MapPosition10(uint32_t position, uint32_t* pFile, uint32_t* pLine) const;
  void ReadIncludeTree10(uint64_t end, const std::vector<uint32_t>& files,
                         const std::vector<uint32_t>& lineCounts);
  // One row of a UBROF 10 statement program: the address in the piece's
  // units, the source position, columns from 1, and the statement kind.
  struct LineRow10 {
    uint32_t Unit, Position, Column, ColumnEnd, Kind;
  };
  void AddStatements10(std::vector<LineRow10>& rows, uint32_t units, uint32_t unitBytes);

 private:
  // The read buffer: m_ulBufLen bytes of the file ending where the stream
  // stands; m_ulBufPos is the next one, at the logical position m_ullPos.
  static constexpr uint32_t kBufferSize = 64 * 1024;
  int ReadByteSlow();
  uint32_t ReadWordSlow();
  uint32_t ReadLongSlow();
  void ReadBlockSlow(void* pDest, uint32_t n);
  uint32_t Refill();
  void CopyOut(uint8_t* pDest, uint32_t n);
  void MoveTo(uint64_t pos);
  std::unique_ptr<uint8_t[]> m_pBuffer;
  uint32_t m_ulBufPos = 0;
  uint32_t m_ulBufLen = 0;
  uint64_t m_ullFileSize = 0;
  uint64_t m_ullPos = 0;
  uint64_t m_ullIndexedEntries = 0;
  uint64_t m_ullTableLimit = 0;

 protected:
  ParseDiagnostic m_Diagnostic;
};

}  // namespace mirl

#endif
