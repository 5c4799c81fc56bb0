// The views of symbols by address: every name at each program address
// (labels) and the nm-style listing.
#include <algorithm>
#include <tuple>

#include "Format.h"
#include "ViewParts.h"

namespace dump {

namespace {

// nm's letters: T code, D data, E eeprom, A an absolute value, U a
// reference to a symbol another module defines; lower case for a symbol
// local to a function or block.
char KindLetter(const Session::Placed& p) {
  if (p.reference) return 'U';
  char c = p.constant ? 'A' : p.memType == 2 ? 'D' : p.memType == 4 ? 'E' : 'T';
  return p.local ? char(c - 'A' + 'a') : c;
}

}  // namespace

Json LabelsJson(Session& s) {
  // Every name that the label index could hold (location classes 1 to 4
  // outside data memory), not only the one LookupLabel answers with: the
  // first defined, often a linker constant such as a stack size.
  struct Entry {
    uint32_t address;
    bool constant;
    uint32_t id;
  };
  std::vector<Entry> entries;
  for (const mirl::api::Symbol& sym : s.Symbols()) {
    if (sym.cls < 1 || sym.cls > 4 || sym.memoryAttribute == 2) continue;
    mirl::api::Type type;
    bool typed = s.Api().GetType(sym.type, &type) && type.kind != 0;
    entries.push_back({sym.value, sym.cls == 1 && !typed, sym.id});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.address, a.constant, a.id) < std::tie(b.address, b.constant, b.id);
  });
  Json list = Json::array();
  for (const Entry& e : entries) {
    const std::string& name = s.Symbols()[e.id].name;
    Json j = {{"address", e.address}};
    PutText(j, "name", s, name);
    j["id"] = e.id;
    j["constant"] = e.constant;
    std::string label;
    j["lookup_label"] = s.Api().LabelAt(e.address, &label) && label == name;
    list.push_back(j);
  }
  return list;
}

std::string LabelsText(const Json& j) {
  Table t({"Address", "Name"});
  uint32_t addresses = 0;
  for (size_t i = 0; i < j.size(); ++i) {
    const Json& l = j[i];
    bool first = i == 0 || U32(j[i - 1]["address"]) != U32(l["address"]);
    addresses += first;
    t.Add({first ? Hex(U32(l["address"])) : "",
           Str(l["name"]) + (l["constant"].get<bool>() ? "  (absolute constant)" : "")});
  }
  return Fmt("Labels (%zu names at %u addresses):\n", j.size(), addresses) + t.Render();
}

Json NmJson(Session& s, bool byName, bool globalsOnly, bool definedOnly) {
  struct Row {
    const Session::Placed* p;
    uint32_t id;
    std::string name;
    size_t order;
  };
  std::vector<Row> rows;
  std::set<std::tuple<uint32_t, unsigned, char, std::string>> seen;
  const std::vector<Session::Placed>& all = s.Placements();
  for (size_t i = 0; i < all.size(); ++i) {
    const Session::Placed& p = all[i];
    // Each module that uses a variable of another declares it again: one
    // line for the name at that place.
    if ((!globalsOnly || !p.local) && (!definedOnly || !p.reference) &&
        seen.emplace(p.address, p.memType, KindLetter(p), s.Symbols()[p.id].name).second)
      rows.push_back({&p, p.id, s.QualifiedName(p.id), i});
  }
  // By address; at one address in the order of Placements (code first).
  auto key = [](const Row& r) { return std::make_tuple(r.p->address, r.p->memType, r.order); };
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    return byName ? std::tie(a.name, a.id) < std::tie(b.name, b.id) : key(a) < key(b);
  });
  Json list = Json::array();
  for (const Row& r : rows) {
    Json j;
    j["address"] = r.p->address;
    j["size"] = r.p->size ? Json(r.p->size) : Json(nullptr);
    j["kind"] = std::string(1, KindLetter(*r.p));
    j["memory"] = MemoryName(r.p->memType);
    PutText(j, "name", s, s.Symbols()[r.id].name);
    if (r.name != Str(j["name"])) j["qualified_name"] = r.name;
    j["id"] = r.id;
    list.push_back(j);
  }
  return list;
}

std::string NmText(const Json& j) {
  std::string out;
  for (const Json& r : j) {
    out += Fmt("%08X %s %s %-7s %s\n", U32(r["address"]),
               r["size"].is_null() ? "        " : Fmt("%08X", U32(r["size"])).c_str(),
               Str(r["kind"]).c_str(), Str(r["memory"]).c_str(),
               Str(r.contains("qualified_name") ? r["qualified_name"] : r["name"]).c_str());
  }
  return out;
}

}  // namespace dump
