// What several views share: a text table, reading fields back from the
// views' JSON, and the JSON forms of a scope reference, a code range and a
// memory image.
#ifndef UBROFDUMP_VIEWPARTS_H
#define UBROFDUMP_VIEWPARTS_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Views.h"

namespace dump {

const uint32_t kNone = 0xFFFFFFFFu;

// A text table: columns as wide as their widest cell, the last one unpadded;
// number columns are aligned to the right, as readelf prints them. A cell
// longer than kWideCell (a long function type, a deep scope path) does not
// widen its column: it pushes the rest of its own row to the right instead.
class Table {
 public:
  static const size_t kWideCell = 40;
  explicit Table(std::vector<std::string> header, std::set<size_t> numeric = {});
  void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
  std::string Render(const std::string& indent = "  ") const;

 private:
  std::vector<std::vector<std::string>> m_rows;
  std::set<size_t> m_numeric;
};

// j[key] = the stored bytes decoded; where they are not UTF-8, j[key_hex]
// holds them as hexadecimal too, so that nothing of them is lost.
void PutText(Json& j, const std::string& key, Session& s, const std::string& stored);

Json OrNull(const std::string& s);  // null for ""
Json IdOrNull(uint32_t id);         // null for kNone
std::string Str(const Json& j);     // "" when not a string
uint32_t U32(const Json& j);        // 0 when not a number

// "[0x0040, 0x0080)", or "no code" when low is null.
std::string RangeText(const Json& low, const Json& high);
// "0x0000-0x01FF": an inclusive span of addresses.
std::string SpanText(uint32_t first, uint32_t last);
// "1 byte", "2 bytes".
std::string Plural(uint64_t n, const char* one, const char* many);
// " (STATUS)" when the value carries a status, else "".
std::string StatusNote(const Json& j);
// A type reference's name, or "type N" when it has none.
std::string TypeText(const Json& type);

// Scope code range as [low, high) for JSON; low null without code.
void PutRange(Json& j, const Session::ScopeInfo& s);
// Id, kind, name and code range of a scope.
Json ScopeRef(Session& s, uint32_t id);

// Bounds and written runs of the program, data and eeprom images, by those
// names; an image never written is null.
Json MemoryImagesJson(Session& s);

}  // namespace dump

#endif
