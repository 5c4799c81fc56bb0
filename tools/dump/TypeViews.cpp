// The types view: defined types with their members, and the memory
// attributes.
#include "Format.h"
#include "ViewParts.h"

namespace dump {

Json TypesJson(Session& s) {
  Json list = Json::array();
  for (uint32_t id = 0; id < s.Counts().types; ++id) {
    // Ids that nothing defined are the undefined type; they are left out.
    mirl::api::Type type;
    if (!s.Api().GetType(id, &type) || type.kind == 0) continue;
    uint32_t kind = type.kind;
    BSTR name = nullptr;
    ULONG size = 0, spec = 0, elements = 0, ptrSize = 0;
    unsigned char memType = 0;
    HRESULT hr = s.Parser()->GetTypeInfo(id, &name, &size, &spec, &elements, &memType, &ptrSize);
    Json j;
    j["id"] = id;
    j["kind"] = kind;
    SysFreeString(name);
    PutText(j, "name", s, type.name);
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
      std::vector<mirl::api::Member> stored = s.Api().Members(id);
      for (ULONG i = 0; i < elements; ++i) {
        BSTR member = nullptr;
        ULONG type = 0, offset = 0;
        HRESULT mhr = s.Parser()->GetStructuralMember(id, &member, i, &type, &offset);
        std::string memberName = Narrow(member);
        SysFreeString(member);
        if (FAILED(mhr)) break;
        Json m;
        PutText(m, "name", s, i < stored.size() ? stored[i].name : memberName);
        m["offset"] = offset;
        m["type"] = {{"id", type}, {"name", s.TypeName(type)}};
        members.push_back(m);
      }
      j["members"] = members;
    }
    list.push_back(j);
  }
  return list;
}

Json MemoryAttributesJson(Session& s) {
  Json list = Json::array();
  uint32_t index = 0;
  for (const mirl::api::MemoryAttribute& a : s.Api().MemoryAttributes()) {
    list.push_back({{"index", index++},
                    {"name", s.Text(a.name)},
                    {"pointer_size", a.pointerSize},
                    {"flags", a.flags},
                    {"memory", MemoryName(a.memType)}});
  }
  return list;
}

std::string TypesText(const Json& types, const Json& attributes) {
  Table t({"Id", "Kind", "Class", "Size", "Elems", "Memory", "PtrSize", "Name"}, {0, 3, 4, 6});
  std::string members;
  for (const Json& ty : types) {
    if (ty.contains("status")) {
      t.Add({std::to_string(U32(ty["id"])), TypeKindName(U32(ty["kind"])), "?", "", "", "", "",
             "?" + StatusNote(ty)});
      continue;
    }
    t.Add({std::to_string(U32(ty["id"])), TypeKindName(U32(ty["kind"])), Str(ty["class"]),
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

}  // namespace dump
