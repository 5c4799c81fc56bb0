// Acceptance on real object files: linked debug outputs of a UBROF toolchain
// from the shared samples folder, checked against independent oracles of the
// same link (the linker's Intel HEX image and its map listing). The samples
// are read where they lie; every test skips when the folder is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

#ifndef MIRL_SAMPLES_DIR
#define MIRL_SAMPLES_DIR ""
#endif

namespace fs = std::filesystem;
using testsupport::Bstr;
using testsupport::Component;
using testsupport::MessageCapture;

namespace {

const std::string kSamplesDir = MIRL_SAMPLES_DIR;

#define SKIP_WITHOUT_SAMPLES()                                               \
  if (kSamplesDir.empty() || !fs::is_directory(kSamplesDir))                 \
  GTEST_SKIP() << "real sample files not available: folder '" << kSamplesDir \
               << "' is absent (tests on real object files need the shared samples)"

// The UBROF 8.0.2 samples and which oracles their folder holds.
struct Sample {
  const char* folder;
  const char* stem;  // file name without extension
  bool hex;
  bool map;
};

const Sample kSamples[] = {
    {"rx_osv1", "rx_OSv1", true, false},          {"emi198810", "EMI198810", false, false},
    {"mvsn21-4a7f62886e", "Mvsn21", false, true}, {"mvsn21-31eb661d07", "Mvsn21", true, true},
    {"mvsn21-e1570e485b", "Mvsn21", true, true},  {"mvsn21-07c93383d6", "Mvsn21", true, true},
    {"mvsn21-fbae9227a7", "Mvsn21", true, true},  {"mvds9-7adcb93765", "Mvds9", true, false},
};

// Names the sample in failure messages instead of dumping its bytes.
void PrintTo(const Sample& s, std::ostream* os) { *os << s.folder << "/" << s.stem; }

std::string SamplePath(const Sample& s, const char* ext) {
  return kSamplesDir + "/" + s.folder + "/" + s.stem + ext;
}

// ---- Intel HEX ---------------------------------------------------------------
// Data (00), end of file (01), extended segment (02, base = value * 16) and
// extended linear (04, base = value << 16) records. Any other record type, a
// bad checksum, a malformed line or one address given two different bytes is
// a failure of the oracle itself and is reported.
bool ReadIntelHex(const std::string& path, std::map<uint32_t, uint8_t>* pBytes,
                  std::string* pError) {
  std::ifstream in(path);
  std::string line;
  uint32_t base = 0;
  for (unsigned lineNo = 1; std::getline(in, line); ++lineNo) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    *pError = "bad record at " + path + ":" + std::to_string(lineNo);
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0) return false;
    std::vector<uint8_t> rec;
    uint8_t sum = 0;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
      unsigned v = 0;
      if (std::sscanf(line.c_str() + i, "%2x", &v) != 1) return false;
      rec.push_back(uint8_t(v));
      sum = uint8_t(sum + v);
    }
    const size_t n = rec[0];
    if (sum != 0 || rec.size() != n + 5) return false;
    const uint32_t offset = uint32_t(rec[1]) << 8 | rec[2];
    const uint32_t value = n == 2 ? uint32_t(rec[4]) << 8 | rec[5] : 0;
    if (rec[3] == 0x01) return true;
    if ((rec[3] == 0x02 || rec[3] == 0x04) && n != 2) return false;
    if (rec[3] == 0x02) {
      base = value << 4;
    } else if (rec[3] == 0x04) {
      base = value << 16;
    } else if (rec[3] != 0x00) {
      return false;
    }
    for (size_t i = 0; rec[3] == 0x00 && i < n; ++i) {
      const uint32_t a = base + ((offset + uint32_t(i)) & 0xFFFF);
      if (pBytes->count(a) && (*pBytes)[a] != rec[4 + i]) return false;
      (*pBytes)[a] = rec[4 + i];
    }
  }
  *pError = "no end record in " + path + " (or it cannot be read)";
  return false;
}

// ---- Linker map ----------------------------------------------------------------
// One row of an ENTRY table of the module map: the public name as the linker
// prints it (C++ names qualified and with their parameter lists), its address
// and the address space of the segment part it belongs to ("CODE", "DATA",
// or "ABS" for the absolute entries of the linker's command line).
struct MapEntry {
  std::string module, space, name;
  uint32_t address;
};

struct LinkerMap {
  std::vector<MapEntry> entries;
  unsigned linkTime[6] = {0, 0, 0, 0, 0, 0};  // day, month, year, hour, minute, second
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The address column of a row, or -1 when it holds no 8-digit address.
long long AddressAt35(const std::string& line) {
  if (line.size() < 43) return -1;
  const std::string s = line.substr(35, 8);
  bool hex = std::all_of(s.begin(), s.end(),
                         [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
  return hex ? std::stoll(s, nullptr, 16) : -1;
}

// The listing is column-aligned: an entry's name starts in column 11 and its
// address in column 35; a name too long for its column is printed alone and
// the address follows on the next line. Rows of "REF BY" continue in column
// 51 and below the name column; LOCAL tables are not entry tables.
bool ReadLinkerMap(const std::string& path, LinkerMap* pMap, std::string* pError) {
  std::ifstream in(path);
  const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  std::string line, module, space, pending;
  bool inEntries = false;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = Trim(line);
    size_t at;
    if ((at = line.find("Link time     =")) != std::string::npos) {
      char mon[4] = {0};
      unsigned* lt = pMap->linkTime;
      const bool read = std::sscanf(line.c_str() + at + 15, " %u/%3s/%u %u:%u:%u", &lt[0], mon,
                                    &lt[2], &lt[3], &lt[4], &lt[5]) == 6;
      const size_t m = months.find(mon);
      if (!read || m == std::string::npos || m % 3 != 0)
        return *pError = "unreadable link time in " + path, false;
      lt[1] = unsigned(m / 3 + 1);
    } else if ((at = line.find("MODULE, NAME : ")) != std::string::npos) {
      module = Trim(line.substr(at + 15));
      inEntries = false;
    } else if ((at = line.find("segment, address: ")) != std::string::npos) {
      space = line.substr(at + 18, line.find(' ', at + 18) - at - 18);
      inEntries = false;
    } else if (t == "Absolute parts") {
      space = "ABS";
    } else if (t.rfind("ENTRY", 0) == 0 && t.find("ADDRESS") != std::string::npos) {
      inEntries = true;
      pending.clear();
    } else if (t.empty() || t.rfind("LOCAL", 0) == 0 || t.rfind("---", 0) == 0 ||
               t.rfind("***", 0) == 0) {
      inEntries = false;
      pending.clear();
    } else if (!inEntries || t.rfind("=====", 0) == 0) {
    } else if (line.size() > 11 && line.compare(0, 11, std::string(11, ' ')) == 0 &&
               line[11] != ' ') {
      // A name in the name column: with its address, or alone when too long.
      const long long a = line.size() >= 43 && line[34] == ' ' ? AddressAt35(line) : -1;
      if (a >= 0) pMap->entries.push_back({module, space, Trim(line.substr(11, 24)), uint32_t(a)});
      pending = a >= 0 ? std::string() : Trim(line.substr(11));
    } else if (!pending.empty() && Trim(line.substr(0, 35)).empty() && AddressAt35(line) >= 0) {
      pMap->entries.push_back({module, space, pending, uint32_t(AddressAt35(line))});
      pending.clear();
    }
  }
  if (pMap->linkTime[1] == 0) return *pError = "no link time in " + path, false;
  return true;
}

// The object file names a symbol by its last name component, without the
// class qualification and the parameter list that the listing adds.
std::string ObjectName(std::string name) {
  if (!name.empty() && name.back() == ')') {
    int depth = 0;
    for (size_t i = name.size(); i-- > 0;) {
      if (name[i] == ')') ++depth;
      if (name[i] == '(' && --depth == 0) {
        name.resize(i);
        break;
      }
    }
  }
  size_t colons = name.rfind("::");
  return colons == std::string::npos ? name : name.substr(colons + 2);
}

// Days from 30 Dec 1899 (day 0 of an automation DATE) to a civil date.
double DaysSince1899(int day, int month, int year) {
  int y = year - (month <= 2);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yoe = y - era * 400;
  int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long days1970 = long(era) * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  return double(days1970 + 25569);
}

// ---- The fixture: one parsed sample ----------------------------------------------
class RealFile : public ::testing::TestWithParam<Sample> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SAMPLES();
    const std::string path = SamplePath(GetParam(), ".d90");
    ASSERT_TRUE(fs::exists(path)) << path << " is listed among the samples but missing";
    ASSERT_EQ(c_.ParsePath(path), S_OK) << path;
    ULONG blocks = 0;
    ASSERT_EQ(c_->GetMemoryInfo(1, &low_, &high_, &blocks), S_OK);
    ASSERT_LE(low_, high_) << "a linked program has code";
  }

  Component c_;
  ULONG low_ = 0, high_ = 0;  // program-memory bounds as the host sees them
};

std::string SampleName(const ::testing::TestParamInfo<Sample>& info) {
  std::string s = info.param.folder;
  for (char& ch : s)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(Samples, RealFile, ::testing::ValuesIn(kSamples), SampleName);

std::vector<LONG> Dies(IMirlParser3* c, LONG parent, LONG tag) {
  VARIANT v;
  VariantInit(&v);
  std::vector<LONG> out;
  EXPECT_EQ(c->GetDies(parent, tag, &v), S_OK);
  if (v.vt != (VT_ARRAY | VT_I4)) return ADD_FAILURE() << "not an array of handles", out;
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  out.assign(static_cast<LONG*>(data), static_cast<LONG*>(data) + v.parray->rgsabound[0].cElements);
  SafeArrayUnaccessData(v.parray);
  VariantClear(&v);
  return out;
}

// ---- Every table answers ---------------------------------------------------------

TEST_P(RealFile, EveryEnumerationAnswersUpToItsCount) {
  IMirlParser* c = c_.Itf();
  IMirlParser3* p3 = c_.P3();
  const mirl::api::Program prog = c_.Program();
  const mirl::api::Counts n = prog.Count();
  auto hidden = [&](ULONG id) {
    mirl::api::Scope s;
    return prog.GetScope(id, &s) && s.hidden;
  };
  // Scopes: every id answers, one beyond fails; a scope with code lies in
  // program memory.
  const ULONG scopes = n.scopes;
  ASSERT_GT(scopes, 0u);
  std::vector<ULONG> start(scopes + 1), size(scopes + 1);
  for (ULONG id = 0; id <= scopes; ++id) {
    Bstr name, full;
    ULONG kind = 0, first = 0;
    ASSERT_EQ(c->GetScopeInfo(id, &name, &full, &kind, &start[id], &size[id], &first),
              id < scopes ? S_OK : PARSER_E_BAD_ID)
        << id;
    if (id < scopes) {
      EXPECT_TRUE(kind >= 1 && kind <= 3) << id;
    }
    if (id < scopes && start[id] != 0xFFFFFFFF) {
      EXPECT_LE(low_, start[id]) << "scope " << id;
      EXPECT_LE(start[id] + size[id] - 1, high_) << "scope " << id;
    }
  }
  // The tree reached from the root lists every scope exactly once, apart
  // from the hidden (library) modules that only the root listing leaves
  // out; a closed scope's code lies inside its parent's.
  std::vector<unsigned> seen(scopes, 0);
  std::vector<ULONG> work = {0xFFFFFFFF};
  for (ULONG root : prog.RootScopes())
    if (hidden(root)) {
      ++seen[root];
      work.push_back(root);
    }
  while (!work.empty()) {
    const ULONG parent = work.back();
    work.pop_back();
    ULONG count = 0, *ids = nullptr;
    ASSERT_EQ(c->EnumSubScopes(parent, &count, &ids), S_OK);
    for (ULONG i = 0; i < count; ++i) {
      const ULONG child = ids[i];
      ASSERT_LT(child, scopes);
      ++seen[child];
      work.push_back(child);
      if (parent != 0xFFFFFFFF && start[child] != 0xFFFFFFFF) {
        EXPECT_LE(start[parent], start[child]) << "scope " << child << " in " << parent;
        EXPECT_LE(start[child] + size[child], start[parent] + size[parent])
            << "scope " << child << " in " << parent;
      }
    }
    CoTaskMemFree(ids);
  }
  for (ULONG id = 0; id < scopes; ++id) EXPECT_EQ(seen[id], 1u) << "scope " << id;

  // Symbols: name, type and location for every id.
  const ULONG symbols = n.symbols;
  ASSERT_GT(symbols, 0u);
  for (ULONG id = 0; id <= symbols; ++id) {
    Bstr name;
    ULONG nameIndex = 0, type = 0, address = 0;
    unsigned char kind = 0, mem = 0;
    ASSERT_EQ(c->GetSymbolInfo(id, &name, &nameIndex, &type), id < symbols ? S_OK : PARSER_E_BAD_ID)
        << id;
    if (id == symbols) break;
    ASSERT_EQ(c->GetSymbolLocation(id, 0xFFFFFFFF, &kind, &address, &mem), S_OK) << id;
    ASSERT_EQ(c->GetSymbolLocation(id, low_, &kind, &address, &mem), S_OK) << id;
    EXPECT_LE(kind, 4) << id;
  }

  // Statements: type bytes carry bit 0 and nothing above bit 2.
  const ULONG statements = n.statements;
  ASSERT_GT(statements, 0u);
  for (ULONG id = 0; id <= statements; ++id) {
    ULONG address = 0;
    unsigned char type = 0;
    ASSERT_EQ(c->EnumHLStatements(id, &address, &type), id < statements ? S_OK : PARSER_E_BAD_ID)
        << id;
    EXPECT_EQ(type & ~0x06, id < statements ? 0x01 : 0) << id;
  }

  // Types: every id has a name and attributes; structures list their members.
  const ULONG types = n.types;
  for (ULONG id = 0; id <= types; ++id) {
    Bstr name;
    ULONG sz = 0, spec = 0, elements = 0, ptr = 0, ref = 0, refMem = 0;
    unsigned char mem = 0;
    ASSERT_EQ(c->GetTypeInfo(id, &name, &sz, &spec, &elements, &mem, &ptr),
              id < types ? S_OK : PARSER_E_BAD_ID)
        << id;
    if (id == types) break;
    HRESULT hr = c->GetRefferedType(id, &ref, &refMem);
    EXPECT_TRUE(hr == E_FAIL || (hr == S_OK && ref < types)) << id;
    mirl::api::Type t;
    ASSERT_TRUE(prog.GetType(id, &t));
    const uint32_t typeKind = t.kind;
    for (ULONG m = 0; (typeKind == 17 || typeKind == 18 || typeKind == 52) && m < elements; ++m) {
      Bstr member;  // a structure, union or class
      ULONG memberType = 0, offset = 0;
      EXPECT_EQ(c->GetStructuralMember(id, &member, m, &memberType, &offset), S_OK)
          << id << "." << m;
    }
  }

  // Source files.
  const ULONG files = n.sourceFiles;
  ASSERT_GT(files, 0u);
  for (ULONG id = 0; id <= files; ++id) {
    Bstr path;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    EXPECT_EQ(c->GetSourceFileInfo(id, &path, &stamp, &language, &temporary),
              id < files ? S_OK : PARSER_E_BAD_ID)
        << id;
    EXPECT_EQ(path.str().empty(), id == files) << id;
  }

  // Dies: the walk from the root's modules, and from the hidden (library)
  // modules it leaves out, reaches every scope once.
  std::vector<unsigned> dieSeen(scopes + symbols + 1, 0);
  std::vector<LONG> dieWork = Dies(p3, 0, 0x11);
  for (ULONG root : prog.RootScopes()) {
    bool listed = std::find(dieWork.begin(), dieWork.end(), LONG(root + 1)) != dieWork.end();
    EXPECT_NE(listed, hidden(root)) << "module " << root;
    if (!listed) dieWork.push_back(LONG(root + 1));
  }
  while (!dieWork.empty()) {
    const LONG die = dieWork.back();
    dieWork.pop_back();
    ASSERT_GT(die, 0);
    ASSERT_LE(ULONG(die), scopes + symbols);
    ++dieSeen[die];
    LONG tag = -1;
    EXPECT_EQ(p3->GetTag(die, &tag), S_OK);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(p3->GetAttr(die, 0x03, &v), S_OK) << die;
    EXPECT_EQ(v.vt, VT_BSTR) << die;
    VariantClear(&v);
    if (ULONG(die) <= scopes) {
      EXPECT_EQ(p3->GetAttr(die, 0x4000, &v), S_OK);
      EXPECT_EQ(v.lVal, die - 1);
      for (LONG child : Dies(p3, die, 0)) dieWork.push_back(child);
    }
  }
  for (ULONG id = 0; id < scopes; ++id) EXPECT_EQ(dieSeen[id + 1], 1u) << "scope die " << id + 1;
  std::vector<LONG> rootSymbols = Dies(p3, 0, 0x34);
  EXPECT_EQ(std::set<LONG>(rootSymbols.begin(), rootSymbols.end()).size(), rootSymbols.size());
  for (LONG die : rootSymbols) EXPECT_GT(ULONG(die), scopes);
}

// ---- Program memory against the linker's Intel HEX output ---------------------

TEST_P(RealFile, ProgramMemoryEqualsTheHexImage) {
  if (!GetParam().hex) GTEST_SKIP() << "no Intel HEX output of this link";
  std::map<uint32_t, uint8_t> hex;
  std::string error;
  ASSERT_TRUE(ReadIntelHex(SamplePath(GetParam(), ".hex"), &hex, &error)) << error;
  ASSERT_FALSE(hex.empty());
  // The image was written exactly where the HEX output has bytes: its lowest
  // and highest written addresses are the HEX file's.
  const uint32_t first = hex.begin()->first, last = hex.rbegin()->first;
  EXPECT_EQ(low_, first);
  EXPECT_EQ(high_, last);
  std::vector<uint8_t> image(last - first + 1, 0);
  ASSERT_EQ(c_->ReadMemory(1, first, ULONG(image.size()), image.data()), S_OK);
  // Where the HEX file has no byte the image still holds its fill value.
  size_t mismatches = 0;
  for (uint32_t a = first; a <= last; ++a) {
    auto it = hex.find(a);
    const unsigned want = it != hex.end() ? it->second : 0xFF, got = image[a - first];
    if (got != want && ++mismatches <= 10)
      ADD_FAILURE() << "address 0x" << std::hex << a << ": image 0x" << got << ", expected 0x"
                    << want << (it == hex.end() ? " (not in the HEX file)" : "");
  }
  EXPECT_EQ(mismatches, 0u);

  // The parse's record of written addresses: exactly the HEX file's runs
  // (a written 0xFF would look like fill above; here it cannot hide).
  std::vector<std::pair<uint32_t, uint32_t>> hexRuns;
  for (const auto& b : hex)
    if (!hexRuns.empty() && hexRuns.back().second + 1 == b.first)
      hexRuns.back().second = b.first;
    else
      hexRuns.emplace_back(b.first, b.first);
  EXPECT_EQ(c_.Program().Memory(1).written, hexRuns);
}

// ---- Public symbols against the linker's map listing ------------------------------

TEST_P(RealFile, MapEntriesAgreeWithLabelsAndSymbolLocations) {
  if (!GetParam().map) GTEST_SKIP() << "no map listing of this link";
  LinkerMap map;
  std::string error;
  ASSERT_TRUE(ReadLinkerMap(SamplePath(GetParam(), ".map"), &map, &error)) << error;
  ASSERT_GT(map.entries.size(), 100u) << "the listing's entry tables were not recognised";

  // The listing's link time is the object file's time of build.
  DATE built = 0, linked = 0;
  ASSERT_EQ(c_->GetTimeOfBuild(&built), S_OK);
  // The link time converted here by a day count of our own, so that the
  // product's date rule is checked against something it does not share.
  const unsigned* lt = map.linkTime;
  linked = DaysSince1899(lt[0], lt[1], lt[2]) + (lt[3] * 3600 + lt[4] * 60 + lt[5]) / 86400.0;
  EXPECT_NEAR(built, linked, 0.5 / 86400);

  // Every symbol by name, with its location, through the interface.
  const ULONG symbols = c_.Program().Count().symbols;
  struct Location {
    HRESULT hr;
    unsigned char kind = 0xEE, mem = 0xEE;
    ULONG address = 0xEEEEEEEE;
  };
  std::multimap<std::string, ULONG> byName;
  std::vector<Location> where(symbols);
  for (ULONG id = 0; id < symbols; ++id) {
    Bstr name;
    ULONG nameIndex = 0, type = 0;
    EXPECT_EQ(c_->GetSymbolInfo(id, &name, &nameIndex, &type), S_OK);
    byName.emplace(name.str(), id);
    Location& l = where[id];  // at no particular code address
    l.hr = c_->GetSymbolLocation(id, 0xFFFFFFFF, &l.kind, &l.address, &l.mem);
  }
  // The lowest symbol id of that name located at that address.
  auto symbolAt = [&](const std::string& name, uint32_t address) {
    ULONG best = 0xFFFFFFFF;
    auto range = byName.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
      if (where[it->second].hr == S_OK && where[it->second].kind == 1 &&
          where[it->second].address == address)
        best = std::min(best, it->second);
    return best;
  };

  unsigned byGlobalLookup = 0;
  for (const MapEntry& e : map.entries) {
    SCOPED_TRACE(e.module + ": " + e.name + " (" + e.space + ")");
    const std::string name = ObjectName(e.name);
    // The symbol: by name through the global search when that reaches it;
    // modules read after the startup module's t_end_abs nest inside it and
    // are not searched globally, so otherwise through the symbol table.
    ULONG id = 0xFFFFFFFF, scope = 0;
    Bstr b(name);
    if (c_->LookupSymbolName(&b, 0, 1, &id, &scope) == S_OK && where[id].kind == 1 &&
        where[id].address == e.address) {
      ++byGlobalLookup;
    } else {
      id = symbolAt(name, e.address);
    }
    ASSERT_NE(id, 0xFFFFFFFF) << "no symbol '" << name << "' at 0x" << std::hex << e.address;
    if (e.space == "CODE" || e.space == "DATA") {
      EXPECT_EQ(where[id].mem, e.space == "CODE" ? 1 : 2);
    }
    // The label index: code and absolute addresses are labelled by the first
    // symbol defined there (not necessarily this one); data symbols never
    // make labels, so a label at a data entry's address comes from elsewhere.
    Bstr label;
    HRESULT hr = c_->LookupLabel(e.address, &label);
    if (e.space != "DATA") {
      ASSERT_EQ(hr, S_OK) << std::hex << e.address;
    }
    if (hr == S_OK) {
      const ULONG labelled = symbolAt(label.str(), e.address);
      ASSERT_NE(labelled, 0xFFFFFFFF) << "label '" << label.str() << "' is no symbol there";
      EXPECT_NE(where[labelled].mem, 2) << "label '" << label.str() << "' is a data symbol";
      if (e.space != "DATA") {
        EXPECT_LE(labelled, id) << "a later symbol took the label";
      }
    }
  }
  // Most public symbols sit in the top-level modules and are found by name.
  EXPECT_GT(byGlobalLookup, map.entries.size() / 2);
}

// ---- Statements and the address/line lookups ---------------------------------------

TEST_P(RealFile, StatementsLieInProgramMemoryAndMapBackToThemselves) {
  IMirlParser* c = c_.Itf();
  const mirl::api::Program prog = c_.Program();
  const std::vector<mirl::api::Statement> stats = prog.Statements();
  const std::vector<mirl::api::StatementRun> runs = prog.StatementRuns();
  const std::vector<mirl::api::SourceFile> files = prog.SourceFiles();
  auto end = [&](uint32_t id) { return stats[id].address + stats[id].length; };
  auto runEnd = [&](uint32_t r) { return end(runs[r].first + runs[r].count - 1); };

  size_t self = 0;
  for (uint32_t id = 0; id < stats.size(); ++id) {
    const mirl::api::Statement& s = stats[id];
    SCOPED_TRACE("statement " + std::to_string(id));
    ASSERT_NE(s.run, mirl::api::kNoId);
    EXPECT_LE(low_, s.address);
    EXPECT_LE((s.length ? end(id) - 1 : s.address), high_);

    BSTR path = nullptr;
    ULONG line = 0, col = 0, lineEnd = 0, colEnd = 0, startOut = 0;
    HRESULT hr =
        c->GetSourceFromProgMemAddress(s.address, &path, &line, &col, &lineEnd, &colEnd, &startOut);
    std::string file = platform::BstrToAnsi(path);
    SysFreeString(path);
    if (s.length == 0) {
      // A statement without code covers no address; whatever answers there
      // is another statement that does.
      bool other = hr != S_OK;
      for (uint32_t k = 0; k < stats.size(); ++k)
        other |= k != id && stats[k].address == startOut && stats[k].line == line &&
                 startOut <= s.address && s.address < end(k);
      EXPECT_TRUE(other);
      continue;
    }

    // The innermost scope at the address is the scope whose run holds the
    // statement: only that scope's runs are searched.
    ULONG scope = 0;
    ASSERT_EQ(c->GetScopeFromProgMemAddress(s.address, 0, &scope), S_OK);
    mirl::api::Scope owner;
    ASSERT_TRUE(prog.GetScope(scope, &owner));
    const std::vector<uint32_t>& scopeRuns = owner.statementRuns;
    ASSERT_NE(std::find(scopeRuns.begin(), scopeRuns.end(), s.run), scopeRuns.end())
        << "run " << s.run << " is not a run of scope " << scope;

    // Which statement answers. A run is passed over when its last statement
    // ends below the address (the cheap test assumes ascending addresses), so
    // a statement followed in its run by code placed lower (an interrupt
    // vector, say) is not found through its run. Among the statements of the
    // scope's other runs, the first run and lowest id covering the address
    // wins; runs of one scope are begun in id order, so that is the lowest
    // covering id.
    uint32_t expected = mirl::api::kNoId;
    for (uint32_t r : scopeRuns) {
      if (runs[r].count == 0 || runEnd(r) < s.address) continue;
      for (uint32_t k = runs[r].first; k < runs[r].first + runs[r].count; ++k)
        if (stats[k].address <= s.address && s.address < end(k)) expected = std::min(expected, k);
    }
    if (expected == mirl::api::kNoId) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_LT(runEnd(s.run), s.address) << "only a passed-over run explains a miss";
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    const mirl::api::Statement& t = stats[expected];
    EXPECT_EQ(std::make_tuple(startOut, line, col, lineEnd, colEnd),
              std::make_tuple(t.address, t.line, t.column, t.lineEnd, t.columnEnd));
    ASSERT_LT(t.file, files.size());
    EXPECT_EQ(file, files[t.file].path);
    self += expected == id;

    // Back from the source line: some statement of that file covering the
    // line answers, at its own address.
    Bstr stored(file);
    ULONG address = 0;
    ASSERT_EQ(c->GetProgMemAddressFromSource(&stored, s.line, 0, &address), S_OK);
    bool covered = false;
    ASSERT_LT(s.file, files.size());
    for (uint32_t r : files[s.file].statementRuns)
      for (uint32_t k = runs[r].first; k < runs[r].first + runs[r].count; ++k)
        covered |=
            stats[k].address == address && stats[k].line <= s.line && s.line <= stats[k].lineEnd;
    EXPECT_TRUE(covered) << "line " << s.line << " answered 0x" << std::hex << address;
  }
  // The exceptions are few: almost every statement maps back to itself.
  EXPECT_GE(self, stats.size() * 3 / 4);
}

// ---- Files the component must refuse ---------------------------------------------

TEST(RealFileRefused, NewerVersionsAfterTheirTimeOfBuildAndFilesThatAreNotUbrof) {
  SKIP_WITHOUT_SAMPLES();
  const struct {
    const char* file;
    uint8_t revision;  // 0: not UBROF at all
    double date;       // 2016-05-16 19:02:43 and 2019-06-04 21:16:32, counted by hand
  } cases[] = {
      {"newer-versions/ThermoRelay_iar.d90", 2, 42506.0 + (19 * 3600 + 2 * 60 + 43) / 86400.0},
      {"newer-versions/flowing_lights.d43", 6, 43620.0 + (21 * 3600 + 16 * 60 + 32) / 86400.0},
      {"not-ubrof/text_image.d43", 0, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.file);
    const std::string path = kSamplesDir + "/" + k.file;
    ASSERT_TRUE(fs::exists(path));
    MessageCapture capture;
    Component c;
    ASSERT_EQ(c->Init(0), S_OK);
    // A newer file starts like any UBROF file; its version record refuses
    // it, after the time of build was read and with the version message.
    Bstr b(path);
    EXPECT_EQ(c->ValidateObjectFile(&b), k.revision ? S_OK : PARSER_E_INVALID_FILE);
    EXPECT_EQ(c.ParsePath(path), PARSER_E_INVALID_FILE);
    EXPECT_EQ(MessageCapture::count, k.revision ? 1 : 0);
    const mirl::api::Program prog = c.Program();
    EXPECT_FALSE(prog.Parsed());
    ULONG lo = 0, hi = 0, blocks = 0;
    EXPECT_EQ(c->GetMemoryInfo(1, &lo, &hi, &blocks), PARSER_E_NOT_PARSED);
    if (k.revision) {
      EXPECT_NE(MessageCapture::lastText.find("UBROF8 or earlier"), std::string::npos);
      EXPECT_EQ(prog.Count().scopes + prog.Count().symbols, 0u);
      EXPECT_EQ(prog.File().version, 10u);
      EXPECT_EQ(prog.File().revision, k.revision);
      EXPECT_NEAR(prog.File().timeOfBuild, k.date, 1e-9);
    }
  }
}

}  // namespace
