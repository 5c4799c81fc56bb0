// The name table: every name that scopes, symbols and types refer to, by
// index. Names given inline by older records and by type records are
// appended here too, so every other table stores indices, never text.
#ifndef MIRL_NAMETABLE_H
#define MIRL_NAMETABLE_H

#include <cstdint>
#include <string>
#include <vector>

namespace mirl {

constexpr uint32_t kNone = 0xFFFFFFFFu;
// Names handed to the host or compared are cut to this many characters.
constexpr size_t kMaxNameLength = 999;
// A function name given by reference follows at most this many links to
// the entry with its text. Real files link once; the limit keeps a chain
// built by a damaged file from making every name lookup as slow as the
// chain is long.
constexpr unsigned kMaxNameLinks = 64;

enum NameKind : uint32_t { kNamePlain = 0, kNameSymbol = 2, kNameScope = 3 };
enum NameSubKind : uint32_t { kSubNone = 0, kSubFunction = 2, kSubBlock = 3 };

struct NameEntry {
  uint32_t Kind = 0;
  uint32_t SubKind = 0;
  bool HasText = false;
  std::string Text;  // the text up to its first zero byte
  uint32_t Number = kNone;
  uint32_t Link = kNone;
};

class NameTable {
 public:
  // Appends an entry and returns its index. pszText may be null (no text).
  uint32_t AddName(uint32_t kind, uint32_t subKind, const char* pszText, uint32_t number,
                   uint32_t link);
  // The text of a name, at most kMaxNameLength characters. kNone, an index
  // outside the table, a cycle of function-name links and a chain of more
  // than kMaxNameLinks links give "".
  std::string GetName(uint32_t index) const;
  // The entry's own text without following links ("" when it has none).
  const NameEntry* Entry(uint32_t index) const {
    return index < m_Entries.size() ? &m_Entries[index] : nullptr;
  }
  uint32_t Count() const { return uint32_t(m_Entries.size()); }

 private:
  std::vector<NameEntry> m_Entries;
};

}  // namespace mirl

#endif
