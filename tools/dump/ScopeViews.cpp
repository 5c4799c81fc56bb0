// The views of the scope tree and what it holds: scopes, symbols with their
// locations and location ranges, labels, and the symbol lookup.
#include "Format.h"
#include "ViewParts.h"

namespace dump {

namespace {

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

Json SymbolJson(Session& s, const mirl::api::Symbol& d) {
  uint32_t id = d.id;
  Json j;
  j["id"] = id;
  PutText(j, "name", s, d.name);
  std::string qualified = s.QualifiedName(id);
  if (qualified != Str(j["name"])) j["qualified_name"] = qualified;
  j["scope"] = IdOrNull(d.scope);
  j["scope_path"] = d.scope == kNone ? Json(nullptr) : Json(s.ScopePath(d.scope));
  j["segment_group"] = IdOrNull(d.segmentGroup);
  j["class"] = d.cls;
  j["memory_attribute"] = d.memoryAttribute;
  j["value"] = d.value;
  uint32_t type = s.SymbolType(id);
  j["type"] = {{"id", type}, {"name", s.TypeName(type)}};
  // The symbol's own location: program address 0xFFFFFFFF ignores ranges.
  j["location"] = LocationJson(s.SymbolLocation(id, kNone));
  Json ranges = Json::array();
  for (const mirl::api::LocationRange& r : d.ranges)
    ranges.push_back({{"start", r.start},
                      {"class", r.cls},
                      {"memory_attribute", r.memoryAttribute},
                      {"value", r.value},
                      {"location", LocationJson(s.SymbolLocation(id, r.start))}});
  j["ranges"] = ranges;
  return j;
}

std::string SymbolScopeText(const Json& sym) {
  if (!sym["scope_path"].is_null()) return Str(sym["scope_path"]);
  if (!sym["segment_group"].is_null()) return Fmt("group %u", U32(sym["segment_group"]));
  return "-";
}

// The symbol table and its location ranges, for the symbols view and the
// symbol lookup.
std::string SymbolTableText(const Json& symbols) {
  Table t({"Id", "Location", "Class", "Type", "Scope", "Name"}, {0});
  std::string ranges;
  for (const Json& sym : symbols) {
    t.Add({std::to_string(U32(sym["id"])), LocationText(sym["location"]),
           SymbolClassName(U32(sym["class"])), TypeText(sym["type"]), SymbolScopeText(sym),
           Str(sym.contains("qualified_name") ? sym["qualified_name"] : sym["name"])});
    if (sym["ranges"].empty()) continue;
    ranges += Fmt("  [%u] %s:\n", U32(sym["id"]), Str(sym["name"]).c_str());
    for (const Json& r : sym["ranges"])
      ranges += "      from " + Hex(U32(r["start"])) + ": " + LocationText(r["location"]) + "\n";
  }
  std::string out = t.Render();
  if (!ranges.empty()) out += "\nLocation ranges:\n" + ranges;
  return out;
}

}  // namespace

Json ScopesJson(Session& s) {
  Json list = Json::array();
  std::set<uint32_t> seen;
  // Depth-first from the top-level scopes, children in creation order.
  std::vector<std::pair<uint32_t, uint32_t>> stack;  // id, depth
  std::vector<uint32_t> roots = s.Api().RootScopes();
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
    PutText(j, "name", s, info.storedName);
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

Json SymbolsJson(Session& s) {
  Json list = Json::array();
  for (const mirl::api::Symbol& symbol : s.Symbols()) list.push_back(SymbolJson(s, symbol));
  return list;
}

std::string SymbolsText(const Json& j) {
  return "Symbols (" + std::to_string(j.size()) + "):\n" + SymbolTableText(j);
}

Json SymbolLookupJson(Session& s, const std::string& name) {
  Json j;
  j["name"] = name;
  Json matches = Json::array();
  // Also as the linker's map prints it: qualified, with the parameters.
  std::string bare = name;
  if (!bare.empty() && bare.back() == ')') {
    size_t depth = 0, k = bare.size();
    while (k-- > 0 && !(bare[k] == '(' && --depth == 0))
      if (bare[k] == ')') ++depth;
    if (k != size_t(-1)) bare.erase(k);
    while (!bare.empty() && bare.back() == ' ') bare.pop_back();
  }
  for (const mirl::api::Symbol& symbol : s.Symbols())
    if (s.SymbolName(symbol.id) == bare || s.QualifiedName(symbol.id) == bare)
      matches.push_back(SymbolJson(s, symbol));
  // A member function whose class the file does not tell: by its own name.
  size_t colons = bare.rfind("::");
  if (matches.empty() && colons != std::string::npos) {
    for (const mirl::api::Symbol& symbol : s.Symbols())
      if (s.SymbolName(symbol.id) == bare.substr(colons + 2))
        matches.push_back(SymbolJson(s, symbol));
    if (!matches.empty()) j["unqualified"] = bare.substr(colons + 2);
  }
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
  if (j.contains("unqualified"))
    out += " (the file does not name its class; by the name " + Str(j["unqualified"]) + ")";
  if (!j["global"].is_null()) out += Fmt(" (the global lookup finds %u)", U32(j["global"]));
  return out + ":\n" + SymbolTableText(j["matches"]) + "\n";
}

}  // namespace dump
