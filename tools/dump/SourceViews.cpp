// The source views: source files, the statement table, and the lookups
// between program addresses and source lines.
#include <unistd.h>

#include "Format.h"
#include "ViewParts.h"

namespace dump {

Json SourcesJson(Session& s) {
  Json list = Json::array();
  const std::vector<mirl::api::SourceFile>& files = s.SourceFiles();
  for (uint32_t id = 0; id < files.size(); ++id) {
    BSTR path = nullptr;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    HRESULT hr = s.Parser()->GetSourceFileInfo(id, &path, &stamp, &language, &temporary);
    Json j;
    j["id"] = id;
    SysFreeString(path);
    PutText(j, "path", s, files[id].mappedPath);
    PutText(j, "stored_path", s, files[id].path);
    if (FAILED(hr)) {
      j["status"] = StatusText(hr);
    } else {
      j["time_stamp"] = OrNull(DateTimeText(stamp));
      j["embedded"] = temporary != 0;
      // The component extracts embedded sources next to the object file; in
      // a folder it cannot write to, the path names nothing.
      if (temporary) j["written"] = ::access(Str(j["path"]).c_str(), F_OK) == 0;
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
    if (f.contains("written") && !f["written"].get<bool>())
      path += "  (embedded, but could not be written there: no such file)";
    t.Add({std::to_string(U32(f["id"])), f["time_stamp"].is_null() ? "-" : Str(f["time_stamp"]),
           f["embedded"].get<bool>() ? "yes" : "no", path});
  }
  return "Source files (" + std::to_string(j.size()) + "):\n" + t.Render();
}

Json LinesJson(Session& s) {
  Json list = Json::array();
  std::vector<mirl::api::Statement> st = s.Api().Statements();
  for (uint32_t id = 0; id < st.size(); ++id) {
    const mirl::api::Statement& d = st[id];
    Json j;
    j["id"] = id;
    j["address"] = d.address;
    j["length"] = d.length;
    j["type"] = d.type;
    j["file_id"] = IdOrNull(d.file);
    j["file"] = d.file == kNone ? Json(nullptr) : Json(s.SourcePath(d.file));
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

// The scopes around a program address, innermost first.
Json ScopesAt(Session& s, uint32_t address) {
  Json scopes = Json::array();
  ULONG scope = kNone;
  if (SUCCEEDED(s.Parser()->GetScopeFromProgMemAddress(address, 0, &scope)))
    for (uint32_t id : s.ScopeChain(scope)) scopes.push_back(ScopeRef(s, id));
  return scopes;
}
}  // namespace

std::string LinesText(const Json& j) {
  Table t({"Address", "Length", "Type", "Position"}, {1});
  for (const Json& st : j)
    t.Add({Hex(U32(st["address"])), std::to_string(U32(st["length"])),
           StatementTypeName(U32(st["type"])),
           PositionText(Str(st["file"]), U32(st["line"]), U32(st["column"]), U32(st["line_end"]),
                        U32(st["column_end"]))});
  return "Statements (" + std::to_string(j.size()) + "):\n" + t.Render();
}

Json AddressLookupJson(Session& s, uint32_t address, unsigned memType) {
  Json j;
  j["address"] = address;
  j["found"] = false;
  if (memType != 1) {
    // Data addresses have no statements: the variable that covers it.
    j["memory"] = MemoryName(memType);
    const Session::Placed* v = memType == 2 ? s.VariableAt(address) : nullptr;
    j["found"] = v != nullptr;
    j["variable"] = nullptr;
    if (v)
      j["variable"] = {{"id", v->id},
                       {"name", s.SymbolName(v->id)},
                       {"address", v->address},
                       {"size", v->size},
                       {"offset", address - v->address}};
    return j;
  }
  BSTR path = nullptr;
  ULONG line = 0, col = 0, lineEnd = 0, colEnd = 0, start = 0;
  HRESULT hr = s.Parser()->GetSourceFromProgMemAddress(address, &path, &line, &col, &lineEnd,
                                                       &colEnd, &start);
  bool found = SUCCEEDED(hr);
  mirl::api::SourcePosition position;
  if (found) {
    j["file"] = s.Api().SourceAt(address, &position) ? s.SourcePath(position.file) : Narrow(path);
    j["line"] = line + 1;
    j["column"] = col + 1;
    j["line_end"] = lineEnd + 1;
    j["column_end"] = colEnd + 1;
    j["statement"] = start;
  } else {
    j["status"] = StatusText(hr);
  }
  SysFreeString(path);
  j["scopes"] = ScopesAt(s, address);
  // The function as addr2line -f names it: the function scope around the
  // address, else the nearest code symbol at or below it (function scopes
  // begin after the prologue and leave out the closing brace).
  j["function"] = nullptr;
  const Json scopes = j["scopes"];  // a copy: j grows below
  for (size_t i = 0; i < scopes.size(); ++i)
    if (Str(scopes[i]["kind"]) == "function") {
      std::string cls = i + 1 < scopes.size() ? s.ClassOf(U32(scopes[i + 1]["id"]),
                                                          s.Scope(U32(scopes[i]["id"])).storedName)
                                              : "";
      j["function"] = {{"name", (cls.empty() ? "" : cls + "::") + Str(scopes[i]["name"])},
                       {"from", "scope"}};
      break;
    }
  const Session::Placed* p = j["function"].is_null() ? s.CodeSymbolAt(address) : nullptr;
  if (p)
    j["function"] = {{"name", s.QualifiedName(p->id)},
                     {"from", "symbol table"},
                     {"id", p->id},
                     {"address", p->address},
                     {"offset", address - p->address}};
  j["found"] = found || !j["function"].is_null();
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
  if (j.contains("memory")) {
    if (j["variable"].is_null()) return out + "??:0  (no variable covers this address)\n";
    const Json& v = j["variable"];
    return out + Str(v["name"]) + Fmt("+0x%X", U32(v["offset"])) + "  (" + Str(j["memory"]) + " " +
           Hex(U32(v["address"])) + ", " +
           (U32(v["size"]) ? Plural(U32(v["size"]), "byte", "bytes") : "size unknown") + ")\n";
  }
  if (j.contains("file"))
    out += PositionText(Str(j["file"]), U32(j["line"]), U32(j["column"]), U32(j["line_end"]),
                        U32(j["column_end"])) +
           "  (statement at " + Hex(U32(j["statement"])) + ")\n";
  else
    out += "??:0  (no statement covers this address)\n";
  const Json& f = j["function"];
  if (f.is_object() && Str(f["from"]) == "symbol table")
    out += "    function " + Str(f["name"]) + Fmt("+0x%X", U32(f["offset"])) +
           "  (from the symbol table: no function scope holds the address)\n";
  return out + ScopeChainText(j["scopes"]);
}

Json LineLookupJson(Session& s, const std::string& file, uint32_t line) {
  Json j;
  j["file"] = file;
  j["line"] = line;
  j["found"] = false;
  // The path as given first (the parser also knows remapped host paths);
  // then the one source file whose path ends with it, so that main.c finds
  // C:\proj\src\main.c.
  std::string wanted = FoldedPath(file);
  std::vector<uint32_t> matches;
  for (uint32_t id = 0; id < s.SourceFiles().size(); ++id) {
    std::string folded = FoldedPath(s.SourcePath(id));
    if (folded == wanted ||
        (folded.size() > wanted.size() &&
         folded.compare(folded.size() - wanted.size(), wanted.size(), wanted) == 0 &&
         folded[folded.size() - wanted.size() - 1] == '/'))
      matches.push_back(id);
  }
  if (matches.size() > 1) {
    j["ambiguous"] = Json::array();
    for (uint32_t id : matches) j["ambiguous"].push_back(s.SourcePath(id));
  }
  HRESULT hr = E_FAIL;
  auto found = [&](const std::string& resolved, uint32_t address) {
    j["found"] = true;
    j["resolved_file"] = resolved;
    j["address"] = address;
    j["scopes"] = ScopesAt(s, address);
    return j;
  };
  if (line > 0) {
    BSTR path = Widen(file);
    ULONG address = 0;
    hr = s.Parser()->GetProgMemAddressFromSource(&path, line - 1, 0, &address);
    SysFreeString(path);  // the method released the caller's string already
    if (SUCCEEDED(hr)) return found(file, address);
    // The stored bytes of the one file whose path ends with the text: the
    // interface would see them only after a lossy round trip through UTF-8.
    uint32_t address32 = 0;
    if (matches.size() == 1 &&
        s.Api().AddressOfLine(s.SourceFiles()[matches[0]].mappedPath, line - 1, &address32))
      return found(s.SourcePath(matches[0]), address32);
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

}  // namespace dump
