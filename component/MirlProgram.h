// The read API: a plain C++ view of everything one MirlParserUbrof object
// has read, for C++ hosts, ubrofdump and the tests.
//
// The automation interfaces answer a debugger one question at a time; this
// view lists what they cannot (modules, the scope tree with what each scope
// holds, symbols with their owners and location ranges, statements and
// runs, types with members, memory images with their written runs, and
// what ended a failed parse). It is read-only and holds no copy of its own:
// every call answers from the object's tables as they are now, also after a
// failed parse (what was read stays) and after a second parse that added to
// them. Where an interface method answers the same question (address to
// source, name lookups, type names, symbol locations), the view runs the
// same code, so both give one answer.
//
// Ids are the tables' own (the ones the interfaces use); kNoId marks none.
// Names are the bytes the file stored, cut to 999 characters as at the
// interfaces. Times are automation dates (days since 1899-12-30, 0 for
// none). A Program borrows its object: keep a reference to the object for as
// long as the view is used, and do not use it while another thread parses.
#ifndef MIRLPROGRAM_H
#define MIRLPROGRAM_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct IUnknown;
class CMirlParserUbrof;

namespace mirl {
namespace api {

constexpr uint32_t kNoId = 0xFFFFFFFFu;

// What a file's t_version record and the modules say about it.
struct FileFacts {
  unsigned version = 0, minor = 0, revision = 0;  // UBROF version, 0 before a parse
  double timeOfBuild = 0.0;
  double compilerVersion = 0.0;  // highest tool version number of the modules
  // Read with the UBROF 10 layouts learned from real files (ParseAnyVersion),
  // and how many records were passed over by their skip information.
  bool learnedLayouts = false;
  uint32_t skippedRecords = 0;
};

// One t_key_value record: a pair the linker stores (the target CPU's name
// among them, as "__cpu_name").
struct KeyValue {
  std::string key, value;
};

// What ended the last parse.
struct ParseEnd {
  bool failed = false;
  std::string message;           // the reader's fixed text, "" when none
  int64_t offset = -1;           // file offset at which reading stopped, -1 unknown
  int64_t recordOffset = -1;     // offset of the failing record's tag byte, -1 unknown
  int tag = -1;                  // that record's tag code, -1 when none was read
  std::string tagName;           // "t_src_stat", "" when unknown
  unsigned rejectedVersion = 0;  // version of a file refused as too new, else 0
};

struct Module {
  std::string name;
  bool hasToolVersion = false;
  std::string toolVersion;  // text of t_aux_1
  double created = 0.0;     // 0 when the stored fields are not a date
  uint32_t scope = kNoId;   // the module's scope
  uint16_t aux = 0, aux1 = 0;
  uint8_t debug = 0;
  uint8_t header[3] = {0, 0, 0};
};

struct SegmentGroup {
  std::vector<uint32_t> macros, symbols;
};

enum ScopeKind : unsigned { kFunction = 1, kModule = 2, kBlock = 3 };

struct Scope {
  uint32_t id = kNoId;
  unsigned kind = 0;
  std::string name;  // as GetScopeInfo gives it
  uint32_t parent = kNoId;
  uint32_t module = kNoId;  // module scopes: index into Modules()
  bool hidden = false;
  uint32_t low = 0xFFFFFFFFu, high = 0;  // code [low, high); low > high: no code
  std::vector<uint32_t> children, symbols, macros, groupRefs, fileRefs, statementRuns;
};

// Where a symbol is from one program address on.
struct LocationRange {
  uint32_t start = 0;
  uint8_t cls = 0;
  uint32_t value = 0;
  uint16_t memoryAttribute = 0;
};

struct Symbol {
  uint32_t id = kNoId;
  std::string name;
  uint8_t cls = 0;  // location class
  uint32_t value = 0;
  uint16_t memoryAttribute = 0;
  uint16_t type = 0;
  uint32_t nameIndex = kNoId;  // what GetSymbolInfo reports as its scope
  // UBROF 10: the plain name that the stored name is scoped in (a
  // t_scoped_name entry linking to another, as a function's local labels),
  // with the numbers of the blocks between ("f{11}{12}"); the linker's map
  // shows "qualifier::name". "" for none, for a translation unit's internal
  // namespace, and in files of other versions.
  std::string qualifier;
  std::vector<LocationRange> ranges;
  uint32_t scope = kNoId;         // the first scope that lists it
  uint32_t segmentGroup = kNoId;  // the first segment group that lists it
};

// GetSymbolLocation's answer.
struct Location {
  unsigned kind = 0;  // 0 none, 1 address, 2 register-relative, 3 constant, 4 other
  bool hasAddress = false;
  uint32_t address = 0;
  bool hasMemType = false;
  uint8_t memType = 0;
};

struct Label {
  uint32_t address = 0;
  std::string name;
};

struct Macro {
  std::string name, text;
};

struct SourceFile {
  std::string path;        // as the object file stores it
  std::string mappedPath;  // after the host's remapping (GetSourceFileInfo)
  double timeStamp = 0.0;
  uint8_t language = 0, temporary = 0;
  std::vector<uint32_t> statementRuns;
};

// Lines and columns are 0-based, as at the interfaces.
struct Statement {
  uint32_t address = 0;
  uint32_t length = 0;  // code bytes; 0 when no code followed
  uint32_t line = 0, lineEnd = 0, column = 0, columnEnd = 0;
  uint8_t type = 0;       // statement-type flags
  uint32_t file = kNoId;  // from its run
  uint32_t run = kNoId;
};

struct StatementRun {
  uint32_t file = kNoId;
  uint32_t first = 0, count = 0;  // statement ids [first, first + count)
  int32_t maxEndLine = 0;
};

// GetSourceFromProgMemAddress's answer.
struct SourcePosition {
  std::string path;  // mapped
  uint32_t file = kNoId;
  uint32_t statement = kNoId;
  uint32_t line = 0, column = 0, lineEnd = 0, columnEnd = 0;
  uint32_t start = 0;
};

struct Type {
  uint32_t id = kNoId;
  uint32_t kind = 0;  // the record's kind code; 0 undefined
  uint32_t words[5] = {0, 0, 0, 0, 0};
  std::string name;  // as GetTypeInfo shows it
  // GetTypeInfo's attributes (0 where the kind has none).
  uint32_t spec = 0, size = 0, elements = 0, ptrSize = 0;
  uint8_t memType = 0;
};

struct Member {
  std::string name;
  uint32_t type = 0;
  uint32_t offset = 0;
  uint32_t extra = 0;
};

struct Enumerator {
  std::string name;
  uint32_t value = 0;
};

struct MemoryAttribute {
  std::string name;
  uint32_t flags = 0;
  uint8_t pointerSize = 0;
  uint8_t memType = 0;
};

// One memory image (memory type 1 program, 2 data, 4 eeprom).
struct Image {
  uint8_t memType = 0;
  uint32_t lowest = 0, highest = 0;  // lowest > highest: nothing written
  uint8_t fill = 0;
  std::vector<std::pair<uint32_t, uint32_t>> written;  // [first, last], ascending
};

// How many entries each table holds.
struct Counts {
  uint32_t modules = 0, scopes = 0, symbols = 0, locationRanges = 0, labels = 0, macros = 0;
  uint32_t segmentGroups = 0, sourceFiles = 0, statements = 0, statementRuns = 0;
  uint32_t types = 0, definedTypes = 0, members = 0, memoryAttributes = 0, names = 0;
  uint32_t keyValues = 0;
};

class Program {
 public:
  // The object behind any interface pointer of a MirlParserUbrof; throws
  // std::invalid_argument for null or for another object.
  explicit Program(IUnknown* parser);

  bool Initialized() const;
  bool Parsed() const;  // the last parse succeeded
  ParseEnd LastParse() const;
  FileFacts File() const;
  // Counting the defined types walks the type table: ask once, not in a
  // loop's condition.
  Counts Count() const;
  std::vector<KeyValue> KeyValues() const;

  std::vector<Module> Modules() const;
  std::vector<SegmentGroup> SegmentGroups() const;

  // Scopes: false/empty for an id outside the table.
  bool GetScope(uint32_t id, Scope* out) const;
  std::vector<uint32_t> RootScopes() const;  // top level, hidden modules included
  // GetScopeFromProgMemAddress (kind 0: innermost) and GetScopeFromName.
  uint32_t ScopeAt(uint32_t address, unsigned kind = 0) const;
  uint32_t ScopeNamed(const std::string& text) const;

  // Symbols, in id order, with owners. Symbol(id) finds the owners by a
  // scan; use Symbols() for many.
  std::vector<Symbol> Symbols() const;
  bool GetSymbol(uint32_t id, Symbol* out) const;
  Location SymbolLocation(uint32_t id, uint32_t programAddress) const;
  // LookupSymbolName: from scope outward, or the whole program when global.
  uint32_t FindSymbol(const std::string& name, uint32_t scope, bool global,
                      uint32_t* pScopeFound = nullptr) const;

  std::vector<Label> Labels() const;                        // ascending addresses
  bool LabelAt(uint32_t address, std::string* name) const;  // LookupLabel
  std::vector<Macro> Macros() const;

  std::vector<SourceFile> SourceFiles() const;
  std::vector<Statement> Statements() const;
  std::vector<StatementRun> StatementRuns() const;
  // GetSourceFromProgMemAddress and GetProgMemAddressFromSource (a mapped
  // path, as a host gives it).
  bool SourceAt(uint32_t address, SourcePosition* out) const;
  bool AddressOfLine(const std::string& path, uint32_t line, uint32_t* pAddress) const;

  bool GetType(uint32_t id, Type* out) const;
  // The members a struct, union or composite answers with, after typedefs
  // and qualifiers; empty for other types.
  std::vector<Member> Members(uint32_t typeId) const;
  std::vector<Enumerator> Enumerators(uint32_t typeId) const;  // enum kinds
  std::vector<uint32_t> Parameters(uint32_t typeId) const;     // function kinds
  // GetRefferedType.
  bool ReferredType(uint32_t typeId, uint32_t* pType, uint32_t* pMemType) const;
  std::vector<MemoryAttribute> MemoryAttributes() const;

  Image Memory(uint8_t memType) const;  // types 1, 2 and 4; others are empty
  // count bytes from address on, as ReadMemory gives them (types 1, 2, 4
  // and 0x40); empty for another type.
  std::vector<uint8_t> Read(uint8_t memType, uint32_t address, uint32_t count) const;

 private:
  friend bool ParseAnyVersion(IUnknown* parser, const std::string& path);
  const CMirlParserUbrof* m_p;
};

// Parses an object file into the parser behind any interface pointer, as
// IMirlParser::ParseObjectFile does, but also reads UBROF 10 files, with
// the layouts learned from real files (docs/ubrof10.md). Files up to UBROF 8
// take exactly ParseObjectFile's path; versions 9 and 11 on are refused as
// there. The interfaces never read UBROF 10. Init must have been called and
// no parse have succeeded yet; true when the file was read through its end
// record (LastParse() tells where a failed parse stopped). Throws
// std::invalid_argument as Program's constructor does.
bool ParseAnyVersion(IUnknown* parser, const std::string& path);

// Receives the one message the component shows a user (a file newer than
// UBROF 8) instead of the platform's window or standard-error line; null
// restores the platform's behaviour. Process-wide.
void SetMessageSink(void (*sink)(const char* text, const char* caption));

// UTF-16 <-> UTF-8, the conversion the component applies to automation
// strings on Linux, for hosts that hold such strings: a lone surrogate, and
// each byte that does not begin well-formed UTF-8, becomes U+FFFD.
std::string Utf8FromUtf16(const char16_t* p, std::size_t n);
std::u16string Utf16FromUtf8(const std::string& text);

}  // namespace api
}  // namespace mirl

#endif  // MIRLPROGRAM_H
