// Acceptance on real object files: linked debug outputs of a UBROF toolchain
// from the shared samples folder, checked against independent oracles of the
// same link (the linker's Intel HEX image and its map listing). The samples
// are read where they lie; every test skips when the folder is absent.
#include <gtest/gtest.h>

#include <algorithm>
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
// Data records (00) at the current base, end of file (01), extended segment
// (02, base = value * 16) and extended linear (04, base = value << 16)
// addresses. Any other record type, a bad checksum or a malformed line is a
// failure of the oracle itself and is reported.
bool ReadIntelHex(const std::string& path, std::map<uint32_t, uint8_t>* pBytes,
                  std::string* pError) {
  std::ifstream in(path);
  if (!in) return *pError = "cannot open " + path, false;
  std::string line;
  uint32_t base = 0;
  unsigned lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    std::string where = path + ":" + std::to_string(lineNo);
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0)
      return *pError = "malformed record at " + where, false;
    std::vector<uint8_t> rec;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
      unsigned v = 0;
      if (std::sscanf(line.c_str() + i, "%2x", &v) != 1)
        return *pError = "bad hex digits at " + where, false;
      rec.push_back(uint8_t(v));
    }
    uint8_t sum = 0;
    for (uint8_t b : rec) sum = uint8_t(sum + b);
    if (sum != 0) return *pError = "checksum error at " + where, false;
    size_t n = rec[0];
    if (rec.size() != n + 5) return *pError = "length mismatch at " + where, false;
    uint32_t offset = uint32_t(rec[1]) << 8 | rec[2];
    const uint8_t* data = &rec[4];
    switch (rec[3]) {
      case 0x00:
        for (size_t i = 0; i < n; ++i) {
          uint32_t a = base + ((offset + uint32_t(i)) & 0xFFFF);
          if (pBytes->count(a) && (*pBytes)[a] != data[i])
            return *pError = "address given twice with different bytes at " + where, false;
          (*pBytes)[a] = data[i];
        }
        break;
      case 0x01:
        return true;
      case 0x02:
        if (n != 2) return *pError = "bad segment record at " + where, false;
        base = (uint32_t(data[0]) << 8 | data[1]) << 4;
        break;
      case 0x04:
        if (n != 2) return *pError = "bad linear record at " + where, false;
        base = (uint32_t(data[0]) << 8 | data[1]) << 16;
        break;
      default:
        return *pError = "unexpected record type at " + where, false;
    }
  }
  return *pError = "no end record in " + path, false;
}

// ---- Linker map ----------------------------------------------------------------
// One row of an ENTRY table of the module map: the public name as the linker
// prints it (C++ names qualified and with their parameter lists), its address
// and the address space of the segment part it belongs to ("CODE", "DATA",
// or "ABS" for the absolute entries of the linker's command line).
struct MapEntry {
  std::string module;
  std::string space;
  std::string name;
  uint32_t address;
};

struct LinkerMap {
  std::vector<MapEntry> entries;
  int linkTime[6] = {0, 0, 0, 0, 0, 0};  // day, month, year, hour, minute, second
};

bool IsHexAddress(const std::string& s) {
  return s.size() == 8 && std::all_of(s.begin(), s.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
         });
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The listing is column-aligned: an entry's name starts in column 11 and its
// address in column 35; a name too long for its column is printed alone and
// the address follows on the next line. Rows of "REF BY" continue in column
// 51 and below the name column; LOCAL tables are not entry tables.
bool ReadLinkerMap(const std::string& path, LinkerMap* pMap, std::string* pError) {
  std::ifstream in(path);
  if (!in) return *pError = "cannot open " + path, false;
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string line, module, space, pending;
  bool inEntries = false;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    size_t at;
    if ((at = line.find("Link time     =")) != std::string::npos) {
      char mon[4] = {0};
      int* lt = pMap->linkTime;
      if (std::sscanf(line.c_str() + at + 15, " %d/%3s/%d %d:%d:%d", &lt[0], mon, &lt[2], &lt[3],
                      &lt[4], &lt[5]) != 6)
        return *pError = "unreadable link time in " + path, false;
      for (int m = 0; m < 12; ++m)
        if (std::string(mon) == kMonths[m]) lt[1] = m + 1;
      continue;
    }
    if ((at = line.find("MODULE, NAME : ")) != std::string::npos) {
      module = Trim(line.substr(at + 15));
      inEntries = false;
      continue;
    }
    if ((at = line.find("segment, address: ")) != std::string::npos) {
      space = line.substr(at + 18, line.find(' ', at + 18) - at - 18);
      inEntries = false;
      continue;
    }
    if (t == "Absolute parts") {
      space = "ABS";
      continue;
    }
    if (t.rfind("ENTRY", 0) == 0 && t.find("ADDRESS") != std::string::npos) {
      inEntries = true;
      pending.clear();
      continue;
    }
    if (t.empty() || t.rfind("LOCAL", 0) == 0 || t.rfind("---", 0) == 0 || t.rfind("***", 0) == 0) {
      inEntries = false;
      pending.clear();
      continue;
    }
    if (!inEntries || t.rfind("=====", 0) == 0) continue;
    if (line.size() > 11 && line.compare(0, 11, std::string(11, ' ')) == 0 && line[11] != ' ') {
      // A name in the name column: with its address in the address column,
      // or alone when it is too long.
      std::string addr = line.size() >= 43 ? line.substr(35, 8) : std::string();
      if (IsHexAddress(addr) && line[34] == ' ') {
        pMap->entries.push_back(
            {module, space, Trim(line.substr(11, 24)), uint32_t(std::stoul(addr, nullptr, 16))});
        pending.clear();
      } else {
        pending = Trim(line.substr(11));
      }
      continue;
    }
    if (!pending.empty() && line.size() >= 43 && Trim(line.substr(0, 35)).empty() &&
        IsHexAddress(line.substr(35, 8))) {
      pMap->entries.push_back(
          {module, space, pending, uint32_t(std::stoul(line.substr(35, 8), nullptr, 16))});
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

// Days since 30 December 1899 of a Gregorian date.
double AutomationDate(int day, int month, int year, int hour, int minute, int second) {
  int y = year - (month <= 2);
  int era = (y >= 0 ? y : y - 399) / 400;
  int yoe = y - era * 400;
  int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days1970 = long(era) * 146097 + doe - 719468;
  return double(days1970 + 25569) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

// ---- The fixture: one parsed sample ----------------------------------------------
class RealFile : public ::testing::TestWithParam<Sample> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_SAMPLES();
    path_ = SamplePath(GetParam(), ".d90");
    ASSERT_TRUE(fs::exists(path_)) << path_ << " is listed among the samples but missing";
    ASSERT_EQ(c_.ParsePath(path_), S_OK) << path_;
  }

  // Program-memory bounds as the host sees them.
  void CodeBounds(ULONG* pLow, ULONG* pHigh) {
    ULONG blocks = 0;
    ASSERT_EQ(c_->GetMemoryInfo(1, pLow, pHigh, &blocks), S_OK);
    ASSERT_LE(*pLow, *pHigh) << "a linked program has code";
  }

  // Location of a symbol at no particular code address.
  struct Location {
    HRESULT hr;
    unsigned char kind;
    ULONG address;
    unsigned char mem;
  };
  Location SymbolLocation(ULONG id) {
    Location l = {E_FAIL, 0xEE, 0xEEEEEEEE, 0xEE};
    l.hr = c_->GetSymbolLocation(id, 0xFFFFFFFF, &l.kind, &l.address, &l.mem);
    return l;
  }
  std::string SymbolName(ULONG id) {
    Bstr name;
    ULONG scope = 0, type = 0;
    EXPECT_EQ(c_->GetSymbolInfo(id, &name, &scope, &type), S_OK);
    return name.str();
  }

  std::string path_;
  Component c_;
};

std::string SampleName(const ::testing::TestParamInfo<Sample>& info) {
  std::string s = info.param.folder;
  for (char& ch : s)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return s;
}

std::vector<Sample> SamplesWith(bool Sample::*oracle) {
  std::vector<Sample> out;
  for (const Sample& s : kSamples)
    if (s.*oracle) out.push_back(s);
  return out;
}

// The oracle comparisons run only where the sample folder holds the oracle.
class HexOracle : public RealFile {};
class MapOracle : public RealFile {};

INSTANTIATE_TEST_SUITE_P(Samples, RealFile, ::testing::ValuesIn(kSamples), SampleName);
INSTANTIATE_TEST_SUITE_P(Samples, HexOracle, ::testing::ValuesIn(SamplesWith(&Sample::hex)),
                         SampleName);
INSTANTIATE_TEST_SUITE_P(Samples, MapOracle, ::testing::ValuesIn(SamplesWith(&Sample::map)),
                         SampleName);

std::vector<LONG> Dies(CMirlParserUbrof* c, LONG parent, LONG tag) {
  VARIANT v;
  VariantInit(&v);
  std::vector<LONG> out;
  EXPECT_EQ(c->GetDies(parent, tag, &v), S_OK);
  if (v.vt != (VT_ARRAY | VT_I4)) return ADD_FAILURE() << "not an array of handles", out;
  LONG lb = 0, ub = -1;
  SafeArrayGetLBound(v.parray, 1, &lb);
  SafeArrayGetUBound(v.parray, 1, &ub);
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  for (LONG i = lb; i <= ub; ++i) out.push_back(static_cast<LONG*>(data)[i - lb]);
  SafeArrayUnaccessData(v.parray);
  VariantClear(&v);
  return out;
}

// ---- Every table answers ---------------------------------------------------------

TEST_P(RealFile, EveryEnumerationAnswersUpToItsCount) {
  CMirlParserUbrof* c = c_.get();
  ULONG low = 0, high = 0;
  CodeBounds(&low, &high);

  // Scopes: every id answers; the tree reached from the root lists every
  // scope exactly once, apart from the hidden (library) modules that only the
  // root listing leaves out; a closed scope's code lies inside its parent's.
  const ULONG scopes = c->m_ScopeTable.Count();
  ASSERT_GT(scopes, 0u);
  std::vector<ULONG> start(scopes), size(scopes), kind(scopes);
  for (ULONG id = 0; id < scopes; ++id) {
    Bstr name, full;
    ULONG first = 0;
    ASSERT_EQ(c->GetScopeInfo(id, &name, &full, &kind[id], &start[id], &size[id], &first), S_OK)
        << id;
    EXPECT_TRUE(kind[id] >= 1 && kind[id] <= 3) << id;
    if (start[id] != 0xFFFFFFFF) {
      EXPECT_LE(low, start[id]) << "scope " << id;
      EXPECT_LE(start[id] + size[id] - 1, high) << "scope " << id;
    }
  }
  {
    Bstr name, full;
    ULONG a, b, d, e;
    EXPECT_EQ(c->GetScopeInfo(scopes, &name, &full, &a, &b, &d, &e), PARSER_E_BAD_ID);
  }
  std::vector<unsigned> seen(scopes, 0);
  std::vector<ULONG> work = {0xFFFFFFFF};
  for (ULONG root : c->m_ScopeTable.RootScopes)
    if (c->m_ScopeTable.Scopes[root].Hidden) {
      ++seen[root];
      work.push_back(root);
    }
  while (!work.empty()) {
    ULONG parent = work.back();
    work.pop_back();
    ULONG count = 0, *ids = nullptr;
    ASSERT_EQ(c->EnumSubScopes(parent, &count, &ids), S_OK);
    for (ULONG i = 0; i < count; ++i) {
      ULONG child = ids[i];
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
  const ULONG symbols = c->m_SymbolTable.Count();
  ASSERT_GT(symbols, 0u);
  for (ULONG id = 0; id < symbols; ++id) {
    Bstr name;
    ULONG nameIndex = 0, type = 0;
    ASSERT_EQ(c->GetSymbolInfo(id, &name, &nameIndex, &type), S_OK) << id;
    unsigned char kindOut = 0, mem = 0;
    ULONG address = 0;
    ASSERT_EQ(c->GetSymbolLocation(id, 0xFFFFFFFF, &kindOut, &address, &mem), S_OK) << id;
    ASSERT_EQ(c->GetSymbolLocation(id, low, &kindOut, &address, &mem), S_OK) << id;
    EXPECT_LE(kindOut, 4) << id;
  }
  {
    Bstr name;
    ULONG a, b;
    EXPECT_EQ(c->GetSymbolInfo(symbols, &name, &a, &b), PARSER_E_BAD_ID);
  }

  // Statements: type bytes carry bit 0 and nothing above bit 2.
  const ULONG statements = ULONG(c->m_Statements.size());
  ASSERT_GT(statements, 0u);
  for (ULONG id = 0; id < statements; ++id) {
    ULONG address = 0;
    unsigned char type = 0;
    ASSERT_EQ(c->EnumHLStatements(id, &address, &type), S_OK) << id;
    EXPECT_EQ(type & 0x01, 0x01) << id;
    EXPECT_EQ(type & ~0x07, 0) << id;
  }
  {
    ULONG address = 0;
    unsigned char type = 0;
    EXPECT_EQ(c->EnumHLStatements(statements, &address, &type), PARSER_E_BAD_ID);
  }

  // Types: every id has a name and attributes; structures list their members.
  const ULONG types = c->m_TypeTable.TypeCount();
  for (ULONG id = 0; id < types; ++id) {
    Bstr name;
    ULONG sz = 0, spec = 0, elements = 0, ptr = 0;
    unsigned char mem = 0;
    ASSERT_EQ(c->GetTypeInfo(id, &name, &sz, &spec, &elements, &mem, &ptr), S_OK) << id;
    ULONG ref = 0, refMem = 0;
    HRESULT hr = c->GetRefferedType(id, &ref, &refMem);
    EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << id;
    if (hr == S_OK) {
      EXPECT_LT(ref, types) << id;
    }
    const uint32_t typeKind = c->m_TypeTable.Types[id].Kind;
    if (typeKind == 17 || typeKind == 18 || typeKind == 52) {  // structure, union, class
      for (ULONG m = 0; m < elements; ++m) {
        Bstr member;
        ULONG memberType = 0, offset = 0;
        EXPECT_EQ(c->GetStructuralMember(id, &member, m, &memberType, &offset), S_OK)
            << id << " member " << m;
      }
    }
  }
  {
    Bstr name;
    ULONG a, b, d, e;
    unsigned char m;
    EXPECT_EQ(c->GetTypeInfo(types, &name, &a, &b, &d, &m, &e), PARSER_E_BAD_ID);
  }

  // Source files.
  const ULONG files = ULONG(c->m_SourceFiles.size());
  ASSERT_GT(files, 0u);
  for (ULONG id = 0; id <= files; ++id) {
    Bstr path;
    DATE stamp = 0;
    unsigned char language = 0, temporary = 0;
    EXPECT_EQ(c->GetSourceFileInfo(id, &path, &stamp, &language, &temporary),
              id < files ? S_OK : PARSER_E_BAD_ID)
        << id;
    if (id < files) {
      EXPECT_FALSE(path.str().empty()) << id;
    }
  }

  // Dies: the walk from the root's modules, and from the hidden (library)
  // modules it leaves out, reaches every scope once.
  std::vector<unsigned> dieSeen(scopes + symbols + 1, 0);
  std::vector<LONG> dieWork = Dies(c, 0, 0x11);
  for (ULONG root : c->m_ScopeTable.RootScopes) {
    bool listed = std::find(dieWork.begin(), dieWork.end(), LONG(root + 1)) != dieWork.end();
    EXPECT_NE(listed, bool(c->m_ScopeTable.Scopes[root].Hidden)) << "module " << root;
    if (!listed) dieWork.push_back(LONG(root + 1));
  }
  while (!dieWork.empty()) {
    LONG die = dieWork.back();
    dieWork.pop_back();
    ASSERT_GT(die, 0);
    ASSERT_LE(ULONG(die), scopes + symbols);
    ++dieSeen[die];
    LONG tag = -1;
    EXPECT_EQ(c->GetTag(die, &tag), S_OK);
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(c->GetAttr(die, 0x03, &v), S_OK) << die;
    EXPECT_EQ(v.vt, VT_BSTR) << die;
    VariantClear(&v);
    if (ULONG(die) <= scopes) {
      EXPECT_EQ(c->GetAttr(die, 0x4000, &v), S_OK);
      EXPECT_EQ(v.lVal, die - 1);
      for (LONG child : Dies(c, die, 0)) dieWork.push_back(child);
    }
  }
  for (ULONG id = 0; id < scopes; ++id) EXPECT_EQ(dieSeen[id + 1], 1u) << "scope die " << id + 1;
  std::vector<LONG> rootSymbols = Dies(c, 0, 0x34);
  std::set<LONG> distinct(rootSymbols.begin(), rootSymbols.end());
  EXPECT_EQ(distinct.size(), rootSymbols.size());
  for (LONG die : rootSymbols) EXPECT_GT(ULONG(die), scopes);
}

// ---- Program memory against the linker's Intel HEX output ---------------------

TEST_P(HexOracle, ProgramMemoryEqualsTheHexImage) {
  std::map<uint32_t, uint8_t> hex;
  std::string error;
  ASSERT_TRUE(ReadIntelHex(SamplePath(GetParam(), ".hex"), &hex, &error)) << error;
  ASSERT_FALSE(hex.empty());

  ULONG low = 0, high = 0;
  CodeBounds(&low, &high);
  const uint32_t hexLow = hex.begin()->first, hexHigh = hex.rbegin()->first;
  // The image was written exactly where the HEX output has bytes: its lowest
  // and highest written addresses are the HEX file's.
  EXPECT_EQ(low, hexLow);
  EXPECT_EQ(high, hexHigh);

  const uint32_t first = std::min<uint32_t>(low, hexLow), last = std::max<uint32_t>(high, hexHigh);
  std::vector<uint8_t> image(last - first + 1, 0);
  ASSERT_EQ(c_->ReadMemory(1, first, ULONG(image.size()), image.data()), S_OK);
  size_t mismatches = 0, gaps = 0;
  for (uint32_t a = first; a <= last; ++a) {
    auto it = hex.find(a);
    uint8_t got = image[a - first];
    if (it != hex.end()) {
      if (got != it->second && ++mismatches <= 10)
        ADD_FAILURE() << "address 0x" << std::hex << a << ": image 0x" << unsigned(got)
                      << ", HEX 0x" << unsigned(it->second);
    } else {
      // Never written: the image still holds its fill value there.
      ++gaps;
      EXPECT_EQ(got, 0xFF) << "address 0x" << std::hex << a << " is not in the HEX file";
    }
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
  EXPECT_EQ(c_->MemoryWritten().Code.Runs(), hexRuns);
  RecordProperty("hex_bytes", int(hex.size()));
  RecordProperty("gap_bytes", int(gaps));
}

// ---- Public symbols against the linker's map listing ------------------------------

TEST_P(MapOracle, EntriesAgreeWithLabelsAndSymbolLocations) {
  LinkerMap map;
  std::string error;
  ASSERT_TRUE(ReadLinkerMap(SamplePath(GetParam(), ".map"), &map, &error)) << error;
  ASSERT_GT(map.entries.size(), 100u) << "the listing's entry tables were not recognised";

  // The listing's link time is the object file's time of build.
  DATE built = 0;
  ASSERT_EQ(c_->GetTimeOfBuild(&built), S_OK);
  const int* lt = map.linkTime;
  EXPECT_NEAR(built, AutomationDate(lt[0], lt[1], lt[2], lt[3], lt[4], lt[5]), 0.5 / 86400);

  // Every symbol by name, with its location, through the interface.
  const ULONG symbols = c_->m_SymbolTable.Count();
  std::multimap<std::string, ULONG> byName;
  std::vector<Location> where(symbols);
  for (ULONG id = 0; id < symbols; ++id) {
    byName.emplace(SymbolName(id), id);
    where[id] = SymbolLocation(id);
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
    EXPECT_EQ(where[id].kind, 1);
    EXPECT_EQ(where[id].address, e.address);
    if (e.space == "CODE") {
      EXPECT_EQ(where[id].mem, 1);
    }
    if (e.space == "DATA") {
      EXPECT_EQ(where[id].mem, 2);
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
      ULONG labelled = symbolAt(label.str(), e.address);
      ASSERT_NE(labelled, 0xFFFFFFFF) << "label '" << label.str() << "' is no symbol there";
      EXPECT_NE(where[labelled].mem, 2) << "label '" << label.str() << "' is a data symbol";
      if (e.space != "DATA") {
        EXPECT_LE(labelled, id) << "a later symbol took the label";
      }
    }
  }
  // Most public symbols sit in the top-level modules and are found by name.
  EXPECT_GT(byGlobalLookup, map.entries.size() / 2);
  RecordProperty("map_entries", int(map.entries.size()));
  RecordProperty("found_by_global_lookup", int(byGlobalLookup));
}

// ---- Statements and the address/line lookups ---------------------------------------

TEST_P(RealFile, StatementsLieInProgramMemoryAndMapBackToThemselves) {
  CMirlParserUbrof* c = c_.get();
  ULONG low = 0, high = 0;
  CodeBounds(&low, &high);
  const auto& stats = c->m_Statements;
  const auto& runs = c->m_StatementRuns;
  std::vector<uint32_t> runOf(stats.size(), mirl::kNone);
  for (uint32_t r = 0; r < runs.size(); ++r)
    for (uint32_t k = 0; k < runs[r].Count; ++k) runOf[runs[r].FirstStatement + k] = r;
  auto end = [&](uint32_t id) { return stats[id].Address + stats[id].Length; };
  auto runEnd = [&](uint32_t r) { return end(runs[r].FirstStatement + runs[r].Count - 1); };

  unsigned self = 0, outOfOrder = 0, shared = 0;
  for (uint32_t id = 0; id < stats.size(); ++id) {
    const mirl::StatementRecord& s = stats[id];
    SCOPED_TRACE("statement " + std::to_string(id));
    ASSERT_NE(runOf[id], mirl::kNone);
    EXPECT_LE(low, s.Address);
    EXPECT_LE(s.Address, high);
    if (s.Length) {
      EXPECT_LE(end(id) - 1, high);
    }

    BSTR path = nullptr;
    ULONG line = 0, col = 0, lineEnd = 0, colEnd = 0, startOut = 0;
    HRESULT hr =
        c->GetSourceFromProgMemAddress(s.Address, &path, &line, &col, &lineEnd, &colEnd, &startOut);
    std::string file = platform::BstrToAnsi(path);
    SysFreeString(path);
    if (s.Length == 0) {
      // A statement without code covers no address; whatever answers there
      // is another statement that does.
      if (hr == S_OK) {
        bool other = false;
        for (uint32_t k = 0; k < stats.size(); ++k)
          other |= k != id && stats[k].Address == startOut && stats[k].Line == line &&
                   startOut <= s.Address && s.Address < end(k);
        EXPECT_TRUE(other);
      }
      continue;
    }

    // The innermost scope at the address is the scope whose run holds the
    // statement: only that scope's runs are searched.
    ULONG scope = 0;
    ASSERT_EQ(c->GetScopeFromProgMemAddress(s.Address, 0, &scope), S_OK);
    const auto& scopeRuns = c->m_ScopeTable.Scopes[scope].StatementRuns;
    ASSERT_NE(std::find(scopeRuns.begin(), scopeRuns.end(), runOf[id]), scopeRuns.end())
        << "run " << runOf[id] << " is not a run of scope " << scope;

    // Which statement answers. A run is passed over when its last statement
    // ends below the address (the cheap test assumes ascending addresses), so
    // a statement followed in its run by code placed lower (an interrupt
    // vector, say) is not found through its run. Among the statements of the
    // scope's other runs, the first run and lowest id covering the address
    // wins; runs of one scope are begun in id order, so that is the lowest
    // covering id.
    uint32_t expected = mirl::kNone;
    for (uint32_t r : scopeRuns) {
      if (runs[r].Count == 0 || runEnd(r) < s.Address) continue;
      for (uint32_t k = runs[r].FirstStatement; k < runs[r].FirstStatement + runs[r].Count; ++k)
        if (stats[k].Address <= s.Address && s.Address < end(k)) expected = std::min(expected, k);
    }
    if (runEnd(runOf[id]) < s.Address) ++outOfOrder;
    if (expected == mirl::kNone) {
      EXPECT_EQ(hr, E_FAIL);
      EXPECT_LT(runEnd(runOf[id]), s.Address) << "only a passed-over run explains a miss";
      continue;
    }
    ASSERT_EQ(hr, S_OK);
    const mirl::StatementRecord& t = stats[expected];
    EXPECT_EQ(startOut, t.Address);
    EXPECT_EQ(line, t.Line);
    EXPECT_EQ(col, t.Column);
    EXPECT_EQ(lineEnd, ULONG(t.Line) + t.LineSpan);
    EXPECT_EQ(colEnd, t.ColumnEnd);
    ASSERT_GE(runs[runOf[expected]].File, 0);
    EXPECT_EQ(file, c->m_SourceFiles[runs[runOf[expected]].File].Path);
    if (expected == id)
      ++self;
    else
      ++shared;

    // Back from the source line: some statement of that file covering the
    // line answers, at its own address.
    Bstr stored(file);
    ULONG address = 0;
    ASSERT_EQ(c->GetProgMemAddressFromSource(&stored, s.Line, 0, &address), S_OK);
    bool covered = false;
    for (uint32_t r : c->m_SourceFiles[runs[runOf[id]].File].StatementRuns)
      for (uint32_t k = runs[r].FirstStatement; k < runs[r].FirstStatement + runs[r].Count; ++k)
        covered |= stats[k].Address == address && stats[k].Line <= s.Line &&
                   s.Line <= uint32_t(stats[k].Line) + stats[k].LineSpan;
    EXPECT_TRUE(covered) << "line " << s.Line << " answered 0x" << std::hex << address;
  }
  // The exceptions are few: almost every statement maps back to itself.
  EXPECT_GE(self, stats.size() * 3 / 4);
  RecordProperty("statements", int(stats.size()));
  RecordProperty("map_back_to_themselves", int(self));
  RecordProperty("in_passed_over_runs", int(outOfOrder));
  RecordProperty("answered_by_another", int(shared));
}

// ---- Files the component must refuse ---------------------------------------------

TEST(RealFileRefused, NewerVersionsFailAfterTheVersionMessage) {
  SKIP_WITHOUT_SAMPLES();
  for (const char* name : {"ThermoRelay_iar.d90", "flowing_lights.d43"}) {
    SCOPED_TRACE(name);
    const std::string path = kSamplesDir + "/newer-versions/" + name;
    ASSERT_TRUE(fs::exists(path));
    MessageCapture capture;
    Component c;
    // The file starts like any UBROF file; the version record refuses it.
    Bstr b(path);
    EXPECT_EQ(c->ValidateObjectFile(&b), S_OK);
    EXPECT_EQ(c.ParsePath(path), PARSER_E_INVALID_FILE);
    EXPECT_EQ(MessageCapture::count, 1);
    EXPECT_NE(MessageCapture::lastText.find("UBROF8 or earlier"), std::string::npos);
    EXPECT_EQ(c->m_ScopeTable.Count(), 0u);
    EXPECT_EQ(c->m_SymbolTable.Count(), 0u);
    ULONG lo = 0, hi = 0, blocks = 0;
    EXPECT_EQ(c->GetMemoryInfo(1, &lo, &hi, &blocks), PARSER_E_NOT_PARSED);
  }
}

TEST(RealFileRefused, TextImageIsNotUbrof) {
  SKIP_WITHOUT_SAMPLES();
  const std::string path = kSamplesDir + "/not-ubrof/text_image.d43";
  ASSERT_TRUE(fs::exists(path));
  MessageCapture capture;
  Component c;
  ASSERT_EQ(c->Init(0), S_OK);
  Bstr b(path);
  EXPECT_EQ(c->ValidateObjectFile(&b), PARSER_E_INVALID_FILE);
  EXPECT_EQ(c.ParsePath(path), PARSER_E_INVALID_FILE);
  EXPECT_EQ(MessageCapture::count, 0) << "no version message for a file that is not UBROF";
  EXPECT_FALSE(c->IsParsed());
}

}  // namespace
