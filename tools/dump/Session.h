// One parsed object file: the component created and driven the way a
// debugger host does it. Views ask the automation interfaces what they
// answer, and the read API (Api()) what they cannot list. The few answers
// that views ask for again and again (scope, symbol, type and file names)
// are kept.
#ifndef UBROFDUMP_SESSION_H
#define UBROFDUMP_SESSION_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Charset.h"
#include "Failure.h"
#include "MirlParserUbrof.h"
#include "MirlProgram.h"

namespace dump {

// Automation strings <-> UTF-8, as the component converts them.
std::string Narrow(BSTR b);
BSTR Widen(const std::string& s);

// Where a symbol is, as GetSymbolLocation reports it.
struct Location {
  bool ok = false;  // false when GetSymbolLocation failed
  HRESULT status = S_OK;
  unsigned kind = 0;  // 0 none, 1 address, 2 relative, 3 constant, 4 other
  uint32_t address = 0;
  unsigned memType = 0;
};

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Creates the component through the class factory. False with a message.
  bool Create(std::string* pError);
  // Host path remapping, before or after the parse: the base directory
  // first (it forgets every pair), then the pairs.
  bool SetBaseDirectory(const std::string& dir, std::string* pError);
  bool AddRemap(const std::string& storedPath, const std::string& hostPath, std::string* pError);
  // After the parse: maps every stored path that begins with the directory
  // prefix oldPrefix (letter case and either separator ignored, as Windows
  // compares paths) to newPrefix and the rest. Returns how many matched.
  size_t RemapPrefix(const std::string& oldPrefix, const std::string& newPrefix);
  // Checks and parses the file. On failure *pError says what a person can
  // do about it (missing file, not UBROF, too new, damaged where).
  bool Open(const std::string& path, std::string* pError);

  const std::string& Path() const { return m_path; }
  IMirlParser* Parser() const { return m_pParser; }
  IMirlParserMem* Mem() const { return m_pMem; }
  // The read API over the same object; valid after Create.
  const mirl::api::Program& Api() const { return *m_api; }
  // Table sizes and modules, read once the file is parsed.
  const mirl::api::Counts& Counts() const { return m_counts; }
  const std::vector<mirl::api::Module>& Modules() const { return m_modules; }
  const std::vector<mirl::api::Symbol>& Symbols() const { return m_symbols; }
  const std::vector<mirl::api::SourceFile>& SourceFiles() const { return m_sources; }

  // Names and paths are shown decoded from the stored bytes (the automation
  // strings have lost the bytes that are not UTF-8 already).
  Charset& Names() { return m_charset; }
  std::string Text(const std::string& stored) { return m_charset.Decode(stored); }

  // Scope facts from GetScopeInfo, the tree's links from the read API;
  // module scopes are named after their module. ok is false for an id the
  // component refuses.
  struct ScopeInfo {
    bool ok = false;
    std::string name, storedName;
    unsigned kind = 0;
    uint32_t low = 0xFFFFFFFFu;  // 0xFFFFFFFF: no code
    uint32_t size = 0;
    uint32_t parent = 0xFFFFFFFFu;
    bool hidden = false;
  };
  const ScopeInfo& Scope(uint32_t id);
  // "module/function/block" names from the top level down.
  std::string ScopePath(uint32_t id);
  // The scope and its enclosing scopes, innermost first.
  std::vector<uint32_t> ScopeChain(uint32_t id);
  // The children of a scope, from EnumSubScopes.
  std::vector<uint32_t> Children(uint32_t id, HRESULT* pStatus = nullptr);

  // Symbol name from the read API, type id from GetSymbolInfo ("" and 0 on
  // failure).
  const std::string& SymbolName(uint32_t id);
  uint32_t SymbolType(uint32_t id);
  // "CTimer::Tick" for a member function whose function scope holds its
  // "this" (a pointer to the class); else the symbol's name.
  std::string QualifiedName(uint32_t id);
  // The class of the function scope named function in scope parent, "" when
  // the file does not tell.
  std::string ClassOf(uint32_t parent, const std::string& function);
  Location SymbolLocation(uint32_t id, uint32_t programAddress);

  // A symbol at an address of program, data or eeprom memory. Absolute
  // values (location class 1 in program memory: the linker's constants such
  // as stack sizes) are kept apart from code: they share addresses with it.
  struct Placed {
    uint32_t id = 0, address = 0;
    uint32_t size = 0;  // a function's code, a variable's type; 0 unknown
    unsigned memType = 1;
    bool constant = false;
    bool reference = false;  // class 4: a module's reference to another's symbol
    bool local = false;      // in a function or block rather than file level
  };
  // By memory, address, code before constants, file level before local, id.
  const std::vector<Placed>& Placements();
  // The nearest code symbol at or below address (constants left out);
  // null when there is none or the address lies beyond the program.
  const Placed* CodeSymbolAt(uint32_t address);
  // The variable whose bytes cover a data address: the smallest of those
  // whose size is known, else one of unknown size at that address.
  const Placed* VariableAt(uint32_t address);

  // Display name of a type as GetTypeInfo shows it ("" when it has none).
  const std::string& TypeName(uint32_t typeId);

  // Mapped path of a source file, as GetSourceFileInfo gives it.
  const std::string& SourcePath(uint32_t fileId);

  // Bounds of memory type 1, 2, 4 or 0x40; false when empty or refused.
  bool MemoryBounds(unsigned memType, uint32_t* pLow, uint32_t* pHigh, HRESULT* pStatus = nullptr);
  // Bytes [start, end) as ReadMemory gives them.
  bool ReadMemory(unsigned memType, uint32_t start, uint64_t end, std::vector<uint8_t>* pBytes,
                  HRESULT* pStatus = nullptr);

 private:
  IMirlParser* m_pParser = nullptr;
  IMirlParserMem* m_pMem = nullptr;
  std::optional<mirl::api::Program> m_api;
  std::string m_path;
  mirl::api::Counts m_counts;
  std::vector<mirl::api::Module> m_modules;
  std::vector<mirl::api::Symbol> m_symbols;
  std::vector<mirl::api::SourceFile> m_sources;
  Charset m_charset;
  // What Placements and ClassOf need of every scope.
  struct ScopeFacts {
    unsigned kind = 0;
    uint32_t parent = 0xFFFFFFFFu, low = 0xFFFFFFFFu, high = 0;
    std::string name;  // as stored
  };
  const std::vector<ScopeFacts>& Scopes();
  std::optional<std::vector<ScopeFacts>> m_scopeFacts;
  std::optional<std::vector<Placed>> m_placed;
  std::vector<const Placed*> m_code;
  uint64_t m_programEnd = 0;
  std::optional<std::map<std::pair<uint32_t, std::string>, std::string>> m_classes;
  std::map<uint32_t, ScopeInfo> m_scopes;
  std::map<uint32_t, std::pair<std::string, uint32_t>> m_symbolInfo;
  std::map<uint32_t, std::string> m_typeNames;
  std::map<uint32_t, std::string> m_sourcePaths;
};

}  // namespace dump

#endif
