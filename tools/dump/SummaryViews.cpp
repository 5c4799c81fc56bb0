// The file-level views: the summary (version, time of build, counts,
// memory bounds) and the module list.
#include "Format.h"
#include "ViewParts.h"

namespace dump {

Json SummaryJson(Session& s) {
  const mirl::api::Counts& c = s.Counts();
  mirl::api::FileFacts f = s.Api().File();
  Json j;
  j["file"] = s.Path();
  j["ubrof_version"] = Fmt("%u.%u.%u", f.version, f.minor, f.revision);
  if (f.learnedLayouts) {
    j["read_with_learned_layouts"] = true;
    j["skipped_records"] = f.skippedRecords;
  }
  DATE built = 0;
  j["time_of_build"] =
      SUCCEEDED(s.Parser()->GetTimeOfBuild(&built)) ? OrNull(DateTimeText(built)) : nullptr;
  // The target CPU as the linker names it, once per module: each name once.
  std::string cpu;
  for (const mirl::api::KeyValue& kv : s.Api().KeyValues()) {
    std::string name = s.Text(kv.value);
    if (kv.key == "__cpu_name" && (", " + cpu + ", ").find(", " + name + ", ") == std::string::npos)
      cpu += (cpu.empty() ? "" : ", ") + name;
  }
  j["target_cpu"] = OrNull(cpu);
  uint32_t hidden = 0;
  for (uint32_t id : s.Api().RootScopes())
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
  j["memory"] = MemoryImagesJson(s);
  ULONG exitAddress = 0;
  j["exit_address"] =
      s.Mem() && SUCCEEDED(s.Mem()->GetProgramExit(&exitAddress)) ? Json(exitAddress) : nullptr;
  return j;
}

std::string SummaryText(const Json& j) {
  const Json& c = j["counts"];
  Table t({"File:", Str(j["file"])});
  std::string version = Str(j["ubrof_version"]);
  if (j.contains("read_with_learned_layouts"))
    version += Fmt(", read with the layouts learned from real files (%s skipped)",
                   Plural(U32(j["skipped_records"]), "record", "records").c_str());
  t.Add({"UBROF version:", version});
  if (!j["target_cpu"].is_null()) t.Add({"Target CPU:", Str(j["target_cpu"])});
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
  const char** label = labels;
  for (const Json& m : j["memory"]) {
    std::string text;
    if (m.is_null())
      text = "empty";
    else if (m.contains("available"))
      text = "unavailable" + StatusNote(m);
    else
      text = SpanText(U32(m["lowest"]), U32(m["highest"])) + ", " +
             Plural(m["written_bytes"].get<uint64_t>(), "byte", "bytes") + " written in " +
             Plural(m["written"].size(), "run", "runs");
    t.Add({*label++, text});
  }
  t.Add({"Exit address:",
         j["exit_address"].is_null() ? "none" : Hex(U32(j["exit_address"])) + " (exit)"});
  return t.Render("");
}

Json ModulesJson(Session& s) {
  Json list = Json::array();
  uint32_t index = 0;
  for (const mirl::api::Module& m : s.Modules()) {
    Json j;
    j["index"] = index++;
    PutText(j, "name", s, m.name);
    j["scope"] = IdOrNull(m.scope);
    bool hidden = false;
    if (m.scope != kNone) {
      const Session::ScopeInfo& info = s.Scope(m.scope);
      hidden = info.hidden;
      PutRange(j, info);
    } else {
      j["low"] = nullptr;
      j["high"] = nullptr;
    }
    j["hidden"] = hidden;
    j["created"] = OrNull(DateText(m.created));
    j["tool_version"] = m.hasToolVersion ? Json(s.Text(m.toolVersion)) : Json(nullptr);
    j["debug"] = m.debug;
    j["aux"] = m.aux;
    j["aux1"] = m.aux1;
    list.push_back(j);
  }
  return list;
}

namespace {
std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}
}  // namespace

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

}  // namespace dump
