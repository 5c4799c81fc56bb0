#include "ViewParts.h"

#include <algorithm>

#include "Format.h"

namespace dump {

Table::Table(std::vector<std::string> header, std::set<size_t> numeric)
    : m_numeric(std::move(numeric)) {
  m_rows.push_back(std::move(header));
}

std::string Table::Render(const std::string& indent) const {
  std::vector<size_t> width;
  for (const auto& row : m_rows)
    for (size_t i = 0; i < row.size(); ++i) {
      if (width.size() <= i) width.push_back(0);
      if (row[i].size() <= kWideCell) width[i] = std::max(width[i], row[i].size());
    }
  std::string out;
  for (const auto& row : m_rows) {
    std::string line = indent;
    for (size_t i = 0; i < row.size(); ++i) {
      std::string pad(width[i] > row[i].size() ? width[i] - row[i].size() : 0, ' ');
      bool last = i + 1 == row.size();
      if (m_numeric.count(i))
        line += pad + row[i];
      else
        line += row[i] + (last ? std::string() : pad);
      if (!last) line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

void PutText(Json& j, const std::string& key, Session& s, const std::string& stored) {
  j[key] = s.Text(stored);
  if (!ValidUtf8(stored)) j[key + "_hex"] = HexBytes(stored);
}

Json OrNull(const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); }
Json IdOrNull(uint32_t id) { return id == kNone ? Json(nullptr) : Json(id); }

std::string Str(const Json& j) { return j.is_string() ? j.get<std::string>() : std::string(); }
uint32_t U32(const Json& j) { return j.is_number() ? j.get<uint32_t>() : 0; }

std::string RangeText(const Json& low, const Json& high) {
  if (low.is_null()) return "no code";
  return "[" + Hex(U32(low)) + ", " + Hex(U32(high)) + ")";
}

std::string SpanText(uint32_t first, uint32_t last) { return Hex(first) + "-" + Hex(last); }

std::string Plural(uint64_t n, const char* one, const char* many) {
  return Fmt("%llu %s", (unsigned long long)n, n == 1 ? one : many);
}

std::string StatusNote(const Json& j) {
  return j.contains("status") ? " (" + Str(j["status"]) + ")" : std::string();
}

std::string TypeText(const Json& type) {
  std::string name = Str(type["name"]);
  return name.empty() ? Fmt("type %u", U32(type["id"])) : name;
}

void PutRange(Json& j, const Session::ScopeInfo& s) {
  if (s.low == kNone) {
    j["low"] = nullptr;
    j["high"] = nullptr;
  } else {
    j["low"] = s.low;
    j["high"] = uint64_t(s.low) + s.size;
  }
}

Json ScopeRef(Session& s, uint32_t id) {
  const Session::ScopeInfo& info = s.Scope(id);
  Json j;
  j["id"] = id;
  j["kind"] = ScopeKindName(info.kind);
  PutText(j, "name", s, info.storedName);
  PutRange(j, info);
  return j;
}

}  // namespace dump
