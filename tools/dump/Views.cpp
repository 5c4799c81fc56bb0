#include "Views.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "Format.h"
#include "IntelHex.h"

namespace dump {

namespace {

const uint32_t kNone = 0xFFFFFFFFu;

// A text table: columns as wide as their widest cell, the last one unpadded;
// number columns are aligned to the right, as readelf prints them. A cell
// longer than kWideCell (a long function type, a deep scope path) does not
// widen its column: it pushes the rest of its own row to the right instead.
class Table {
 public:
  static const size_t kWideCell = 40;
  explicit Table(std::vector<std::string> header, std::set<size_t> numeric = {})
      : m_numeric(std::move(numeric)) {
    m_rows.push_back(std::move(header));
  }
  void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
  std::string Render(const std::string& indent = "  ") const {
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

 private:
  std::vector<std::vector<std::string>> m_rows;
  std::set<size_t> m_numeric;
};

Json OrNull(const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); }
Json IdOrNull(uint32_t id) { return id == kNone ? Json(nullptr) : Json(id); }

std::string Str(const Json& j) { return j.is_string() ? j.get<std::string>() : std::string(); }
uint32_t U32(const Json& j) { return j.is_number() ? j.get<uint32_t>() : 0; }

// "[0x0040, 0x0080)", or "no code".
std::string RangeText(const Json& low, const Json& high) {
  if (low.is_null()) return "no code";
  return "[" + Hex(U32(low)) + ", " + Hex(U32(high)) + ")";
}

// "0x0000-0x01FF": an inclusive span of addresses.
std::string SpanText(uint32_t first, uint32_t last) { return Hex(first) + "-" + Hex(last); }

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return Fmt("%llu %s", (unsigned long long)n, n == 1 ? one : many);
}

// Scope code range as [low, high) for JSON; low null without code.
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
  j["name"] = info.name;
  PutRange(j, info);
  return j;
}

Json LocationJson(const Location& loc) {
  Json j;
  if (!loc.ok) {
    j["kind"] = "unavailable";
    j["status"] = StatusText(loc.status);
    return j;
  }
  switch (loc.kind) {
    case 1:
      j["kind"] = "address";
      j["memory"] = MemoryName(loc.memType);
      j["address"] = loc.address;
      break;
    case 2:
      j["kind"] = "relative";
      j["value"] = loc.address;
      break;
    case 3:
      j["kind"] = "constant";
      j["value"] = loc.address;
      break;
    case 4:
      j["kind"] = "other";
      break;
    default:
      j["kind"] = "none";
      break;
  }
  return j;
}

std::string LocationText(const Json& j) {
  std::string kind = Str(j["kind"]);
  if (kind == "address") return Str(j["memory"]) + " " + Hex(U32(j["address"]));
  if (kind == "relative" || kind == "constant") return kind + " " + Hex(U32(j["value"]));
  if (kind == "unavailable") return "? (" + Str(j["status"]) + ")";
  return kind;
}

Json SymbolJson(Session& s, uint32_t id, const MirlDiagSymbol& d) {
  Json j;
  j["id"] = id;
  j["name"] = s.SymbolName(id);
  j["scope"] = IdOrNull(d.scopeId);
  j["scope_path"] = d.scopeId == kNone ? Json(nullptr) : Json(s.ScopePath(d.scopeId));
  j["segment_group"] = IdOrNull(d.segmentGroup);
  j["class"] = d.cls;
  j["memory_attribute"] = d.memoryAttribute;
  j["value"] = d.value;
  uint32_t type = s.SymbolType(id);
  j["type"] = {{"id", type}, {"name", s.TypeName(type)}};
  // The symbol's own location: program address 0xFFFFFFFF ignores ranges.
  j["location"] = LocationJson(s.SymbolLocation(id, kNone));
  Json ranges = Json::array();
  for (uint32_t i = 0; i < d.rangeCount; ++i) {
    MirlDiagRange r = {};
    if (FAILED(MirlDiagGetSymbolRange(s.Unknown(), id, i, &r))) break;
    ranges.push_back({{"start", r.start},
                      {"class", r.cls},
                      {"memory_attribute", r.memoryAttribute},
                      {"value", r.value},
                      {"location", LocationJson(s.SymbolLocation(id, r.start))}});
  }
  j["ranges"] = ranges;
  return j;
}

std::string SymbolScopeText(const Json& sym) {
  if (!sym["scope_path"].is_null()) return Str(sym["scope_path"]);
  if (!sym["segment_group"].is_null()) return Fmt("group %u", U32(sym["segment_group"]));
  return "-";
}

std::string TypeText(const Json& type) {
  std::string name = Str(type["name"]);
  return name.empty() ? Fmt("type %u", U32(type["id"])) : name;
}

// The symbol table and its location ranges, for the symbols view and the
// symbol lookup.
std::string SymbolTableText(const Json& symbols) {
  Table t({"Id", "Location", "Class", "Type", "Scope", "Name"}, {0, 2});
  std::string ranges;
  for (const Json& sym : symbols) {
    t.Add({std::to_string(U32(sym["id"])), LocationText(sym["location"]),
           std::to_string(U32(sym["class"])), TypeText(sym["type"]), SymbolScopeText(sym),
           Str(sym["name"])});
    if (sym["ranges"].empty()) continue;
    ranges += Fmt("  [%u] %s:\n", U32(sym["id"]), Str(sym["name"]).c_str());
    for (const Json& r : sym["ranges"])
      ranges += "      from " + Hex(U32(r["start"])) + ": " + LocationText(r["location"]) + "\n";
  }
  std::string out = t.Render();
  if (!ranges.empty()) out += "\nLocation ranges:\n" + ranges;
  return out;
}

std::string StatusNote(const Json& j) {
  return j.contains("status") ? " (" + Str(j["status"]) + ")" : std::string();
}

Json MemoryImageJson(Session& s, unsigned memType) {
  uint32_t low = 0, high = 0;
  HRESULT hr = S_OK;
  if (!s.MemoryBounds(memType, &low, &high, &hr)) {
    if (FAILED(hr)) return Json{{"available", false}, {"status", StatusText(hr)}};
    return nullptr;  // never written
  }
  Json j;
  j["lowest"] = low;
  j["highest"] = high;
  if (memType == 0x40) return j;
  Json runs = Json::array();
  uint64_t bytes = 0;
  for (const auto& r : s.WrittenRuns(memType)) {
    runs.push_back({{"first", r.first}, {"last", r.second}});
    bytes += uint64_t(r.second) - r.first + 1;
  }
  j["written_bytes"] = bytes;
  j["written"] = runs;
  return j;
}

const char* kImageNames[] = {"program", "data", "eeprom"};
const unsigned kImageTypes[] = {1, 2, 4};

}  // namespace

// ---------------------------------------------------------------------------
// Summary
// ---------------------------------------------------------------------------
Json SummaryJson(Session& s) {
  const MirlDiagCounts& c = s.Counts();
  const MirlDiagFile& f = s.FileInfo();
  Json j;
  j["file"] = s.Path();
  j["ubrof_version"] =
      Fmt("%u.%u.%u", unsigned(f.ubrofVersion), unsigned(f.ubrofMinor), unsigned(f.ubrofRevision));
  DATE built = 0;
  j["time_of_build"] =
      SUCCEEDED(s.Parser()->GetTimeOfBuild(&built)) ? OrNull(DateTimeText(built)) : nullptr;
  uint32_t hidden = 0;
  for (uint32_t id : s.RootScopes())
    if (s.Scope(id).hidden) ++hidden;
  j["counts"] = {{"modules", c.modules},
                 {"hidden_modules", hidden},
                 {"scopes", c.scopes},
                 {"symbols", c.symbols},
                 {"labels", c.labels},
                 {"macros", c.macros},
                 {"statements", c.statements},
                 {"types", c.types},
                 {"defined_types", c.definedTypes},
                 {"memory_attributes", c.memoryAttributes},
                 {"source_files", c.sourceFiles}};
  Json memory;
  for (int i = 0; i < 3; ++i) memory[kImageNames[i]] = MemoryImageJson(s, kImageTypes[i]);
  j["memory"] = memory;
  ULONG exitAddress = 0;
  j["exit_address"] =
      s.Mem() && SUCCEEDED(s.Mem()->GetProgramExit(&exitAddress)) ? Json(exitAddress) : nullptr;
  return j;
}

std::string SummaryText(const Json& j) {
  const Json& c = j["counts"];
  Table t({"File:", Str(j["file"])});
  t.Add({"UBROF version:", Str(j["ubrof_version"])});
  t.Add({"Time of build:", j["time_of_build"].is_null() ? "unknown" : Str(j["time_of_build"])});
  std::string modules = std::to_string(U32(c["modules"]));
  if (U32(c["hidden_modules"])) modules += Fmt(" (%u hidden)", U32(c["hidden_modules"]));
  t.Add({"Modules:", modules});
  t.Add({"Scopes:", std::to_string(U32(c["scopes"]))});
  t.Add({"Symbols:",
         Fmt("%u (%s)", U32(c["symbols"]), Plural(U32(c["labels"]), "label", "labels").c_str())});
  t.Add({"Statements:", std::to_string(U32(c["statements"]))});
  t.Add({"Types:", Fmt("%u defined (of %u type ids)", U32(c["defined_types"]), U32(c["types"]))});
  t.Add({"Source files:", std::to_string(U32(c["source_files"]))});
  const char* labels[] = {"Program memory:", "Data memory:", "EEPROM:"};
  for (int i = 0; i < 3; ++i) {
    const Json& m = j["memory"][kImageNames[i]];
    std::string text;
    if (m.is_null())
      text = "empty";
    else if (m.contains("available"))
      text = "unavailable" + StatusNote(m);
    else
      text = SpanText(U32(m["lowest"]), U32(m["highest"])) + ", " +
             Plural(m["written_bytes"].get<uint64_t>(), "byte", "bytes") + " written in " +
             Plural(m["written"].size(), "run", "runs");
    t.Add({labels[i], text});
  }
  t.Add({"Exit address:",
         j["exit_address"].is_null() ? "none" : Hex(U32(j["exit_address"])) + " (exit)"});
  return t.Render("");
}

// ---------------------------------------------------------------------------
// Modules
// ---------------------------------------------------------------------------
Json ModulesJson(Session& s) {
  Json list = Json::array();
  for (uint32_t i = 0; i < s.Counts().modules; ++i) {
    MirlDiagModule m = {};
    if (FAILED(MirlDiagGetModule(s.Unknown(), i, &m))) break;
    Json j;
    j["index"] = i;
    j["name"] = m.name ? m.name : "";
    j["scope"] = IdOrNull(m.scopeId);
    bool hidden = false;
    if (m.scopeId != kNone) {
      const Session::ScopeInfo& info = s.Scope(m.scopeId);
      hidden = info.hidden;
      PutRange(j, info);
    } else {
      j["low"] = nullptr;
      j["high"] = nullptr;
    }
    j["hidden"] = hidden;
    j["created"] = OrNull(DateText(m.created));
    j["tool_version"] = m.toolVersion ? Json(m.toolVersion) : Json(nullptr);
    j["debug"] = m.debug;
    j["aux"] = m.aux;
    j["aux1"] = m.aux1;
    list.push_back(j);
  }
  return list;
}

std::string ModulesText(const Json& j) {
  Table t({"Idx", "Scope", "Code", "Created", "Tool", "Debug", "Name"}, {0, 1, 5});
  for (const Json& m : j) {
    std::string name = Str(m["name"]);
    if (m["hidden"].get<bool>()) name += " (hidden)";
    t.Add({std::to_string(U32(m["index"])),
           m["scope"].is_null() ? "-" : std::to_string(U32(m["scope"])),
           RangeText(m["low"], m["high"]), m["created"].is_null() ? "-" : Str(m["created"]),
           m["tool_version"].is_null() ? "-" : Trimmed(Str(m["tool_version"])),
           std::to_string(U32(m["debug"])), name});
  }
  return "Modules (" + std::to_string(j.size()) + "):\n" + t.Render();
}

// ---------------------------------------------------------------------------
// Scopes
// ---------------------------------------------------------------------------
Json ScopesJson(Session& s) {
  Json list = Json::array();
  std::set<uint32_t> seen;
  // Depth-first from the top-level scopes, children in creation order.
  std::vector<std::pair<uint32_t, uint32_t>> stack;  // id, depth
  std::vector<uint32_t> roots = s.RootScopes();
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, 0);
  while (!stack.empty()) {
    auto [id, depth] = stack.back();
    stack.pop_back();
    if (!seen.insert(id).second) continue;
    const Session::ScopeInfo& info = s.Scope(id);
    Json j;
    j["id"] = id;
    j["parent"] = IdOrNull(info.parent);
    j["depth"] = depth;
    j["kind"] = info.ok ? Json(ScopeKindName(info.kind)) : Json(nullptr);
    j["name"] = info.name;
    j["hidden"] = info.hidden;
    PutRange(j, info);
    HRESULT hr = S_OK;
    std::vector<uint32_t> children = s.Children(id, &hr);
    j["children"] = children;
    if (!info.ok || FAILED(hr)) j["status"] = StatusText(FAILED(hr) ? hr : E_FAIL);
    list.push_back(j);
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      stack.emplace_back(*it, depth + 1);
  }
  return list;
}

std::string ScopesText(const Json& j) {
  std::string out = "Scopes (" + std::to_string(j.size()) + "):\n";
  for (const Json& sc : j) {
    std::string line = std::string(2 + 2 * U32(sc["depth"]), ' ');
    line += Fmt("[%u] ", U32(sc["id"]));
    line += sc["kind"].is_null() ? "?" : Str(sc["kind"]);
    if (!Str(sc["name"]).empty()) line += " " + Str(sc["name"]);
    if (sc["hidden"].get<bool>()) line += " (hidden)";
    line += "  " + RangeText(sc["low"], sc["high"]);
    if (sc.contains("status")) line += "  (children unavailable: " + Str(sc["status"]) + ")";
    out += line + "\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// Symbols and labels
// ---------------------------------------------------------------------------
Json SymbolsJson(Session& s) {
  Json list = Json::array();
  const std::vector<MirlDiagSymbol>& symbols = s.DiagSymbols();
  for (uint32_t id = 0; id < symbols.size(); ++id) list.push_back(SymbolJson(s, id, symbols[id]));
  return list;
}

std::string SymbolsText(const Json& j) {
  return "Symbols (" + std::to_string(j.size()) + "):\n" + SymbolTableText(j);
}

Json LabelsJson(Session& s) {
  Json list = Json::array();
  ULONG n = 0;
  if (FAILED(MirlDiagGetLabels(s.Unknown(), nullptr, 0, &n)) || !n) return list;
  std::vector<ULONG> addresses(n);
  MirlDiagGetLabels(s.Unknown(), addresses.data(), n, &n);
  for (ULONG i = 0; i < n; ++i) {
    BSTR label = nullptr;
    HRESULT hr = s.Parser()->LookupLabel(addresses[i], &label);
    Json j = {{"address", addresses[i]}, {"name", Narrow(label)}};
    if (FAILED(hr)) j["status"] = StatusText(hr);
    SysFreeString(label);
    list.push_back(j);
  }
  return list;
}

std::string LabelsText(const Json& j) {
  Table t({"Address", "Name"});
  for (const Json& l : j)
    t.Add({Hex(U32(l["address"])), l.contains("status") ? "?" + StatusNote(l) : Str(l["name"])});
  return "Labels (" + std::to_string(j.size()) + "):\n" + t.Render();
}

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------
Json TypesJson(Session& s) {
  Json list = Json::array();
  for (uint32_t id = 0; id < s.Counts().types; ++id) {
    ULONG kind = 0;
    // Ids that nothing defined are the undefined type; they are left out.
    if (FAILED(MirlDiagGetTypeKind(s.Unknown(), id, &kind)) || kind == 0) continue;
    BSTR name = nullptr;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0;
    unsigned char memType = 0;
    HRESULT hr = s.Parser()->GetTypeInfo(id, &name, &size, &spec, &elements, &memType, &ptrSize);
    Json j;
    j["id"] = id;
    j["kind"] = kind;
    j["name"] = Narrow(name);
    SysFreeString(name);
    if (FAILED(hr)) {
      j["status"] = StatusText(hr);
      list.push_back(j);
      continue;
    }
    j["class"] = SpecName(spec);
    j["spec"] = spec;
    j["size"] = size;
    j["elements"] = elements;
    j["memory"] = MemoryName(memType);
    j["pointer_size"] = ptrSize;
    // Structures, unions and classes list their members by index.
    if (kind == 17 || kind == 18 || kind == 52) {
      Json members = Json::array();
      for (ULONG i = 0; i < elements; ++i) {
        BSTR member = nullptr;
        ULONG type = 0, offset = 0;
        HRESULT mhr = s.Parser()->GetStructuralMember(id, &member, i, &type, &offset);
        std::string memberName = Narrow(member);
        SysFreeString(member);
        if (FAILED(mhr)) break;
        members.push_back({{"name", memberName},
                           {"offset", offset},
                           {"type", {{"id", type}, {"name", s.TypeName(type)}}}});
      }
      j["members"] = members;
    }
    list.push_back(j);
  }
  return list;
}

Json MemoryAttributesJson(Session& s) {
  Json list = Json::array();
  for (uint32_t i = 0; i < s.Counts().memoryAttributes; ++i) {
    MirlDiagMemoryAttribute a = {};
    if (FAILED(MirlDiagGetMemoryAttribute(s.Unknown(), i, &a))) break;
    list.push_back({{"index", i},
                    {"name", a.name ? a.name : ""},
                    {"pointer_size", a.pointerSize},
                    {"flags", a.flags},
                    {"memory", MemoryName(a.memType)}});
  }
  return list;
}

std::string TypesText(const Json& types, const Json& attributes) {
  Table t({"Id", "Kind", "Class", "Size", "Elems", "Memory", "PtrSize", "Name"}, {0, 1, 3, 4, 6});
  std::string members;
  for (const Json& ty : types) {
    if (ty.contains("status")) {
      t.Add({std::to_string(U32(ty["id"])), std::to_string(U32(ty["kind"])), "?", "", "", "", "",
             "?" + StatusNote(ty)});
      continue;
    }
    t.Add({std::to_string(U32(ty["id"])), std::to_string(U32(ty["kind"])), Str(ty["class"]),
           std::to_string(U32(ty["size"])), std::to_string(U32(ty["elements"])), Str(ty["memory"]),
           std::to_string(U32(ty["pointer_size"])), Str(ty["name"])});
    if (!ty.contains("members")) continue;
    members +=
        Fmt("  [%u] %s (%u bytes):\n", U32(ty["id"]), Str(ty["name"]).c_str(), U32(ty["size"]));
    for (const Json& m : ty["members"])
      members += "      +" + Hex(U32(m["offset"])) + "  " + Str(m["name"]) + ": " +
                 TypeText(m["type"]) + "\n";
  }
  std::string out = "Types (" + std::to_string(types.size()) + " defined):\n" + t.Render();
  if (!members.empty()) out += "\nMembers:\n" + members;
  Table a({"Idx", "PtrSize", "Flags", "Memory", "Name"}, {0, 1});
  for (const Json& m : attributes)
    a.Add({std::to_string(U32(m["index"])), std::to_string(U32(m["pointer_size"])),
           Fmt("0x%08X", U32(m["flags"])), Str(m["memory"]), Str(m["name"])});
  out += "\nMemory attributes (" + std::to_string(attributes.size()) + "):\n" + a.Render();
  return out;
}

// ---------------------------------------------------------------------------
// Source files and statements
// ---------------------------------------------------------------------------
Json SourcesJson(Session& s) {
  Json list = Json::array();
  for (uint32_t id = 0; id < s.Counts().sourceFiles; ++id) {
    BSTR path = nullptr;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    HRESULT hr = s.Parser()->GetSourceFileInfo(id, &path, &stamp, &language, &temporary);
    Json j;
    j["id"] = id;
    j["path"] = Narrow(path);
    SysFreeString(path);
    const char* stored = nullptr;
    MirlDiagGetStoredSourcePath(s.Unknown(), id, &stored);
    j["stored_path"] = stored ? stored : "";
    if (FAILED(hr)) {
      j["status"] = StatusText(hr);
    } else {
      j["time_stamp"] = OrNull(DateTimeText(stamp));
      j["embedded"] = temporary != 0;
      j["language"] = language;
    }
    list.push_back(j);
  }
  return list;
}

std::string SourcesText(const Json& j) {
  Table t({"Id", "Time stamp", "Embedded", "Path"}, {0});
  for (const Json& f : j) {
    if (f.contains("status")) {
      t.Add({std::to_string(U32(f["id"])), "?", "?",
             Str(f["stored_path"]) + " (unavailable: " + Str(f["status"]) + ")"});
      continue;
    }
    std::string path = Str(f["path"]);
    if (path != Str(f["stored_path"])) path += "  (stored as " + Str(f["stored_path"]) + ")";
    t.Add({std::to_string(U32(f["id"])), f["time_stamp"].is_null() ? "-" : Str(f["time_stamp"]),
           f["embedded"].get<bool>() ? "yes" : "no", path});
  }
  return "Source files (" + std::to_string(j.size()) + "):\n" + t.Render();
}

Json LinesJson(Session& s) {
  Json list = Json::array();
  const std::vector<MirlDiagStatement>& st = s.DiagStatements();
  for (uint32_t id = 0; id < st.size(); ++id) {
    const MirlDiagStatement& d = st[id];
    Json j;
    j["id"] = id;
    j["address"] = d.address;
    j["length"] = d.length;
    j["type"] = d.type;
    j["file_id"] = IdOrNull(d.fileId);
    j["file"] = d.fileId == kNone ? Json(nullptr) : Json(s.SourcePath(d.fileId));
    // People count lines and columns from 1, as compilers print them.
    j["line"] = d.line + 1;
    j["column"] = d.column + 1;
    j["line_end"] = d.lineEnd + 1;
    j["column_end"] = d.columnEnd + 1;
    list.push_back(j);
  }
  return list;
}

namespace {
// "file:12:5-20" or "file:12:5-14:20".
std::string PositionText(const std::string& file, uint32_t line, uint32_t col, uint32_t lineEnd,
                         uint32_t colEnd) {
  std::string text = Fmt("%s:%u:%u-", file.empty() ? "??" : file.c_str(), line, col);
  if (lineEnd != line) text += Fmt("%u:", lineEnd);
  return text + std::to_string(colEnd);
}
}  // namespace

std::string LinesText(const Json& j) {
  Table t({"Address", "Length", "Type", "Position"}, {1});
  for (const Json& st : j)
    t.Add({Hex(U32(st["address"])), std::to_string(U32(st["length"])),
           Fmt("0x%02X", U32(st["type"])),
           PositionText(Str(st["file"]), U32(st["line"]), U32(st["column"]), U32(st["line_end"]),
                        U32(st["column_end"]))});
  return "Statements (" + std::to_string(j.size()) + "):\n" + t.Render();
}

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------
Json MemoryJson(Session& s) {
  Json j;
  for (int i = 0; i < 3; ++i) j[kImageNames[i]] = MemoryImageJson(s, kImageTypes[i]);
  j["program_words"] = MemoryImageJson(s, 0x40);
  return j;
}

std::string MemoryText(const Json& j) {
  std::string out = "Memory images:\n";
  for (const char* name : {"program", "data", "eeprom", "program_words"}) {
    const Json& m = j[name];
    std::string label = std::string(name) == "program_words" ? "program (16-bit words)" : name;
    std::string line = "  " + label + ": ";
    if (m.is_null()) {
      out += line + "empty\n";
      continue;
    }
    if (m.contains("available")) {
      out += line + "unavailable" + StatusNote(m) + "\n";
      continue;
    }
    line += SpanText(U32(m["lowest"]), U32(m["highest"]));
    if (!m.contains("written")) {
      out += line + "\n";
      continue;
    }
    out += line + ", " + Plural(m["written_bytes"].get<uint64_t>(), "byte", "bytes") +
           " written in " + Plural(m["written"].size(), "run", "runs") + "\n";
    for (const Json& r : m["written"]) {
      uint64_t n = uint64_t(U32(r["last"])) - U32(r["first"]) + 1;
      out += "      " + SpanText(U32(r["first"]), U32(r["last"])) + "  " +
             Plural(n, "byte", "bytes") + "\n";
    }
  }
  return out;
}

Json HexDumpJson(Session& s, unsigned memType, uint32_t start, uint64_t end) {
  Json j;
  j["memory"] = MemoryName(memType);
  j["start"] = start;
  j["end"] = end;
  std::vector<uint8_t> bytes;
  HRESULT hr = S_OK;
  if (!s.ReadMemory(memType, start, end, &bytes, &hr)) {
    j["status"] = StatusText(hr);
    return j;
  }
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) hex += Fmt("%02x", unsigned(b));
  j["bytes"] = hex;
  return j;
}

std::string HexDumpText(const Json& j) {
  uint32_t start = U32(j["start"]);
  uint64_t end = j["end"].get<uint64_t>();
  std::string out = "Hex dump of " + Str(j["memory"]) + " memory [" + Hex(start) + ", " +
                    Fmt("0x%04llX", (unsigned long long)end) + "):\n";
  if (j.contains("status")) return out + "  unavailable (" + Str(j["status"]) + ")\n";
  const std::string hex = Str(j["bytes"]);
  // Rows of 16 bytes at addresses that are multiples of 16, as hexdump -C
  // prints them; bytes outside the range stay blank.
  for (uint64_t row = start & ~uint64_t(15); row < end; row += 16) {
    std::string line = Fmt("%08llX  ", (unsigned long long)row);
    std::string ascii;
    for (uint64_t a = row; a < row + 16; ++a) {
      if (a >= start && a < end) {
        size_t k = size_t(a - start) * 2;
        unsigned v = unsigned(std::stoul(hex.substr(k, 2), nullptr, 16));
        line += hex.substr(k, 2) + " ";
        ascii += v >= 0x20 && v < 0x7F ? char(v) : '.';
      } else {
        line += "   ";
        ascii += ' ';
      }
      if (a == row + 7) line += " ";
    }
    out += line + " |" + ascii + "|\n";
  }
  return out;
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------
Json AddressLookupJson(Session& s, uint32_t address) {
  Json j;
  j["address"] = address;
  BSTR path = nullptr;
  ULONG line = 0, col = 0, lineEnd = 0, colEnd = 0, start = 0;
  HRESULT hr = s.Parser()->GetSourceFromProgMemAddress(address, &path, &line, &col, &lineEnd,
                                                       &colEnd, &start);
  j["found"] = SUCCEEDED(hr);
  if (SUCCEEDED(hr)) {
    j["file"] = Narrow(path);
    j["line"] = line + 1;
    j["column"] = col + 1;
    j["line_end"] = lineEnd + 1;
    j["column_end"] = colEnd + 1;
    j["statement"] = start;
  } else {
    j["status"] = StatusText(hr);
  }
  SysFreeString(path);
  Json scopes = Json::array();
  ULONG scope = kNone;
  if (SUCCEEDED(s.Parser()->GetScopeFromProgMemAddress(address, 0, &scope)))
    for (uint32_t id : s.ScopeChain(scope)) scopes.push_back(ScopeRef(s, id));
  j["scopes"] = scopes;
  return j;
}

namespace {
std::string ScopeChainText(const Json& scopes) {
  std::string out;
  for (const Json& sc : scopes)
    out += "    in " + Str(sc["kind"]) + " " + Str(sc["name"]) + "  " +
           RangeText(sc["low"], sc["high"]) + "\n";
  return out;
}
}  // namespace

std::string AddressLookupText(const Json& j) {
  std::string out = Hex(U32(j["address"]), 8) + ": ";
  if (j["found"].get<bool>())
    out += PositionText(Str(j["file"]), U32(j["line"]), U32(j["column"]), U32(j["line_end"]),
                        U32(j["column_end"])) +
           "  (statement at " + Hex(U32(j["statement"])) + ")\n";
  else
    out += "??:0  (no statement covers this address)\n";
  return out + ScopeChainText(j["scopes"]);
}

namespace {
// Path text compared as people write it: either separator, any case.
std::string Folded(std::string p) {
  for (char& c : p) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return p;
}
}  // namespace

Json LineLookupJson(Session& s, const std::string& file, uint32_t line) {
  Json j;
  j["file"] = file;
  j["line"] = line;
  j["found"] = false;
  // The path as given first (the parser also knows remapped host paths);
  // then the one source file whose path ends with it, so that main.c finds
  // C:\proj\src\main.c.
  std::vector<std::string> candidates{file};
  std::string wanted = Folded(file);
  std::vector<std::string> matches;
  for (uint32_t id = 0; id < s.Counts().sourceFiles; ++id) {
    const std::string& path = s.SourcePath(id);
    std::string folded = Folded(path);
    if (folded == wanted ||
        (folded.size() > wanted.size() &&
         folded.compare(folded.size() - wanted.size(), wanted.size(), wanted) == 0 &&
         folded[folded.size() - wanted.size() - 1] == '/'))
      matches.push_back(path);
  }
  if (matches.size() == 1 && matches[0] != file) candidates.push_back(matches[0]);
  if (matches.size() > 1) j["ambiguous"] = matches;
  HRESULT hr = E_FAIL;
  for (const std::string& candidate : candidates) {
    if (line == 0) break;
    BSTR path = Widen(candidate);
    ULONG address = 0;
    hr = s.Parser()->GetProgMemAddressFromSource(&path, line - 1, 0, &address);
    SysFreeString(path);  // the method released the caller's string already
    if (SUCCEEDED(hr)) {
      j["found"] = true;
      j["resolved_file"] = candidate;
      j["address"] = address;
      Json scopes = Json::array();
      ULONG scope = kNone;
      if (SUCCEEDED(s.Parser()->GetScopeFromProgMemAddress(address, 0, &scope)))
        for (uint32_t id : s.ScopeChain(scope)) scopes.push_back(ScopeRef(s, id));
      j["scopes"] = scopes;
      return j;
    }
  }
  j["known_file"] = !matches.empty();
  j["status"] = StatusText(hr);
  return j;
}

std::string LineLookupText(const Json& j) {
  std::string where = Str(j["file"]) + ":" + std::to_string(U32(j["line"]));
  if (j["found"].get<bool>()) {
    std::string out = where + ": " + Hex(U32(j["address"]));
    if (Str(j["resolved_file"]) != Str(j["file"])) out += "  (" + Str(j["resolved_file"]) + ")";
    return out + "\n" + ScopeChainText(j["scopes"]);
  }
  if (j.contains("ambiguous")) {
    std::string out = where + ": the name matches several source files:\n";
    for (const Json& p : j["ambiguous"]) out += "    " + Str(p) + "\n";
    return out;
  }
  if (!j["known_file"].get<bool>()) return where + ": no source file of this name\n";
  return where + ": no code for this line\n";
}

Json SymbolLookupJson(Session& s, const std::string& name) {
  Json j;
  j["name"] = name;
  Json matches = Json::array();
  const std::vector<MirlDiagSymbol>& symbols = s.DiagSymbols();
  for (uint32_t id = 0; id < symbols.size(); ++id)
    if (s.SymbolName(id) == name) matches.push_back(SymbolJson(s, id, symbols[id]));
  j["found"] = !matches.empty();
  // What a debugger's global lookup picks among them.
  BSTR bname = Widen(name);
  ULONG symbol = kNone, scope = kNone;
  HRESULT hr = s.Parser()->LookupSymbolName(&bname, 0, 1, &symbol, &scope);
  SysFreeString(bname);  // null after the call: the method released it
  j["global"] = SUCCEEDED(hr) ? Json(symbol) : Json(nullptr);
  j["matches"] = matches;
  return j;
}

std::string SymbolLookupText(const Json& j) {
  std::string name = Str(j["name"]);
  if (!j["found"].get<bool>()) return "Symbol " + name + ": not found\n\n";
  std::string out = "Symbol " + name;
  if (!j["global"].is_null()) out += Fmt(" (the global lookup finds %u)", U32(j["global"]));
  return out + ":\n" + SymbolTableText(j["matches"]) + "\n";
}

// ---------------------------------------------------------------------------
// Exports
// ---------------------------------------------------------------------------
namespace {
bool WriteWhole(const std::string& path, const void* data, size_t n, std::string* pError) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *pError = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool ok = n == 0 || std::fwrite(data, 1, n, f) == n;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) *pError = "cannot write " + path + ": " + std::strerror(errno);
  return ok;
}
}  // namespace

bool ExportIntelHex(Session& s, unsigned memType, const std::string& path, Json* pReport,
                    std::string* pError) {
  std::vector<MemoryRun> runs;
  uint64_t total = 0;
  for (const auto& r : s.WrittenRuns(memType)) {
    MemoryRun run;
    run.address = r.first;
    HRESULT hr = S_OK;
    if (!s.ReadMemory(memType, r.first, uint64_t(r.second) + 1, &run.bytes, &hr)) {
      *pError =
          std::string("cannot read ") + MemoryName(memType) + " memory (" + StatusText(hr) + ")";
      return false;
    }
    total += run.bytes.size();
    runs.push_back(std::move(run));
  }
  std::string text = WriteIntelHex(runs);
  if (!WriteWhole(path, text.data(), text.size(), pError)) return false;
  *pReport = {{"format", "ihex"},
              {"memory", MemoryName(memType)},
              {"path", path},
              {"bytes", total},
              {"runs", runs.size()}};
  return true;
}

bool ExportBinary(Session& s, const std::string& path, Json* pReport, std::string* pError) {
  uint32_t low = 0, high = 0;
  HRESULT hr = S_OK;
  std::vector<uint8_t> bytes;
  bool written = s.MemoryBounds(1, &low, &high, &hr);
  if (FAILED(hr)) {
    *pError = "cannot read program memory (" + StatusText(hr) + ")";
    return false;
  }
  if (written) {
    // Far-apart addresses would make a huge file of fill bytes.
    const uint64_t kMaxBinary = 64ull << 20;
    if (uint64_t(high) - low + 1 > kMaxBinary) {
      *pError =
          "program memory spans " + SpanText(low, high) + ", too far for a raw image; use --ihex";
      return false;
    }
    if (!s.ReadMemory(1, low, uint64_t(high) + 1, &bytes, &hr)) {
      *pError = "cannot read program memory (" + StatusText(hr) + ")";
      return false;
    }
  }
  if (!WriteWhole(path, bytes.data(), bytes.size(), pError)) return false;
  *pReport = {{"format", "binary"},
              {"memory", "program"},
              {"path", path},
              {"bytes", bytes.size()},
              {"start", written ? Json(low) : Json(nullptr)}};
  return true;
}

}  // namespace dump
