// One parsed object file: the component created and driven the way a
// debugger host does it, plus the diagnostics export for what the
// interfaces cannot list. Views read everything through this class.
#ifndef UBROFDUMP_SESSION_H
#define UBROFDUMP_SESSION_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "MirlParserUbrof.h"
#include "MirlParserUbrofDiag.h"

namespace dump {

// Automation strings <-> UTF-8 (the library's "ANSI code page" on Linux).
std::string Narrow(BSTR b);
BSTR Widen(const std::string& s);

// A status code as text: its name, or its hexadecimal value.
std::string StatusText(HRESULT hr);

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
  // Checks and parses the file. On failure *pError says what a person can
  // do about it (missing file, not UBROF, too new, damaged where).
  bool Open(const std::string& path, std::string* pError);

  const std::string& Path() const { return m_path; }
  IMirlParser* Parser() const { return m_pParser; }
  IMirlParserMem* Mem() const { return m_pMem; }
  IUnknown* Unknown() const { return m_pParser; }

  // ---- Cached facts ----------------------------------------------------
  const MirlDiagCounts& Counts() const { return m_counts; }
  const MirlDiagFile& FileInfo() const { return m_file; }
  const std::vector<MirlDiagSymbol>& DiagSymbols();
  const std::vector<MirlDiagStatement>& DiagStatements();

  // Scope facts from GetScopeInfo; module scopes are named after their
  // module. False for an id the component refuses.
  struct ScopeInfo {
    bool ok = false;
    std::string name;
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
  // Top-level scopes (hidden modules included) and the children of a scope.
  std::vector<uint32_t> RootScopes();
  std::vector<uint32_t> Children(uint32_t id, HRESULT* pStatus = nullptr);

  // Symbol name and type id from GetSymbolInfo ("" and 0 on failure).
  const std::string& SymbolName(uint32_t id);
  uint32_t SymbolType(uint32_t id);
  Location SymbolLocation(uint32_t id, uint32_t programAddress);

  // Display name of a type from GetTypeInfo ("" when it has none).
  const std::string& TypeName(uint32_t typeId);

  // Mapped path of a source file from GetSourceFileInfo.
  const std::string& SourcePath(uint32_t fileId);

  // Bounds of memory type 1, 2, 4 or 0x40; false when empty or refused.
  bool MemoryBounds(unsigned memType, uint32_t* pLow, uint32_t* pHigh, HRESULT* pStatus = nullptr);
  // Written runs [first, last] of memory type 1, 2 or 4.
  std::vector<std::pair<uint32_t, uint32_t>> WrittenRuns(unsigned memType);
  // Bytes [start, end) as ReadMemory gives them.
  bool ReadMemory(unsigned memType, uint32_t start, uint64_t end, std::vector<uint8_t>* pBytes,
                  HRESULT* pStatus = nullptr);

 private:
  std::string DescribeParseFailure();

  IMirlParser* m_pParser = nullptr;
  IMirlParserMem* m_pMem = nullptr;
  std::string m_path;
  uint64_t m_fileSize = 0;
  MirlDiagCounts m_counts = {};
  MirlDiagFile m_file = {};
  bool m_haveSymbols = false, m_haveStatements = false;
  std::vector<MirlDiagSymbol> m_symbols;
  std::vector<MirlDiagStatement> m_statements;
  std::map<uint32_t, ScopeInfo> m_scopes;
  std::map<uint32_t, std::pair<std::string, uint32_t>> m_symbolInfo;
  std::map<uint32_t, std::string> m_typeNames;
  std::map<uint32_t, std::string> m_sourcePaths;
};

}  // namespace dump

#endif
