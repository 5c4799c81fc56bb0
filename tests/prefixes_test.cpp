// Real object files cut short: a file copied only in part, or still being
// written by the linker, must fail cleanly. Every prefix fails with
// PARSER_E_INVALID_FILE while the whole file parses; the component keeps
// answering; nothing leaks (the sanitizer build checks that at exit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>

#include "../component/MirlProgram.h"
#include "QueryDriver.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace mirl;

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Record {
  uint64_t Offset;
  int Tag;
};

// The records of a file in order, read with the handlers the parse uses,
// up to the end record or the record that fails.
std::vector<Record> Records(const std::string& path) {
  testsupport::OwnTables t;
  CParser parser(t.Get());
  parser.m_bAcceptUbrof10 = true;  // its t_version switches the handlers
  std::vector<Record> records;
  if (!parser.Open(path.c_str())) return records;
  parser.m_pszObjectFile = path.c_str();  // embedded sources go beside the file
  try {
    for (;;) {
      Record r = {parser.Tell(), parser.ReadByte()};
      const TagEntry* entry = parser.m_TagHandlers[r.Tag];
      // A UBROF 10 record is a kind of its own for the cuts below.
      records.push_back({r.Offset, r.Tag | (parser.m_bUbrof10 ? 0x100 : 0)});
      if (entry ? (parser.*(entry->Handler))() != 0 : !parser.SkipUnknownTag(uint8_t(r.Tag))) break;
      if (r.Tag == 0xFF) break;
    }
  } catch (const char*) {
  }
  return records;
}

// Which prefixes to parse. All of them would be too many: a 180 KB file has
// 180,000, each parsed from its start, some hours under the sanitizers. A
// prefix fails where its last record is cut, so the lengths are chosen by
// record: for every kind of record, its first record cut after every one of
// its first 16 bytes (the fixed fields of every handler end within them, so
// each field ends the file once; done in the first file that has the kind,
// as the fields do not depend on the file); in every file, the first three
// records of each kind cut after their tag and before their last byte (with
// the tables as that file leaves them), every record boundary in the first
// 1 KiB (the framing and the start of the first module, cheap to reach),
// and a stride of 32 lengths across the whole file with the record boundary
// before each (deep cuts, with large tables). Small files are cut at every
// length, and so is every file up to 400 KB when MIRL_EVERY_PREFIX is set
// (the long run that README describes); larger ones then at every record
// boundary, two bytes either side, and 4000 random lengths.
constexpr size_t kLargeFile = 400 * 1024;

bool EveryPrefix() {
  const char* v = std::getenv("MIRL_EVERY_PREFIX");
  return v && *v && std::string(v) != "0";
}

// MIRL_PREFIX_SHARD=k/n keeps every n-th length from the k-th on, so that
// the long run can use several processes.
std::pair<size_t, size_t> Shard() {
  const char* v = std::getenv("MIRL_PREFIX_SHARD");
  unsigned k = 0, n = 1;
  if (!v || std::sscanf(v, "%u/%u", &k, &n) != 2 || n == 0 || k >= n) return {0, 1};
  return {k, n};
}

void KeepShard(std::vector<size_t>& lengths) {
  auto [k, n] = Shard();
  std::vector<size_t> kept;
  for (size_t i = k; i < lengths.size(); i += n) kept.push_back(lengths[i]);
  lengths.swap(kept);
}

std::vector<size_t> PrefixLengths(const std::vector<Record>& records, size_t size,
                                  std::set<int>& fieldsCut) {
  std::set<size_t> lengths = {0, 1, size - 1};
  if (EveryPrefix() && size > kLargeFile) {
    for (const Record& r : records)
      for (size_t n = r.Offset > 2 ? size_t(r.Offset) - 2 : 0; n <= r.Offset + 2; ++n)
        lengths.insert(n);
    std::mt19937_64 random(size);
    for (int i = 0; i < 4000; ++i) lengths.insert(size_t(random() % size));
  } else if (size <= 2048 || EveryPrefix()) {
    for (size_t n = 0; n < size; ++n) lengths.insert(n);
  } else {
    std::map<int, int> seen;
    for (size_t i = 0; i < records.size(); ++i) {
      size_t start = size_t(records[i].Offset);
      size_t end = i + 1 < records.size() ? size_t(records[i + 1].Offset) : size;
      if (start < 1024) lengths.insert(start);
      if (seen[records[i].Tag]++ >= 3) continue;
      if (fieldsCut.insert(records[i].Tag).second) {
        for (size_t n = start; n < end && n <= start + 16; ++n) lengths.insert(n);
      }
      lengths.insert(start + 1);
      lengths.insert(end - 1);
    }
    for (size_t k = 1; k <= 32; ++k) {
      size_t n = size * k / 33;
      lengths.insert(n);
      auto next = std::upper_bound(records.begin(), records.end(), uint64_t(n),
                                   [](uint64_t v, const Record& r) { return v < r.Offset; });
      if (next != records.begin()) lengths.insert(size_t((next - 1)->Offset));
    }
  }
  std::vector<size_t> out;
  for (size_t n : lengths)
    if (n < size) out.push_back(n);
  return out;
}

// UBROF 10 files through the read API's entry (the interfaces refuse them).
HRESULT ParseBytes(Component& c, const std::vector<uint8_t>& bytes, size_t n,
                   const std::string& path) {
  std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
  if (!testsupport::WriteFile(path, prefix)) return E_FAIL;
  if (bytes.size() > 8 && bytes[8] == 10) {
    c.Itf()->Init(0);
    return mirl::api::ParseAnyVersion(c.Itf(), path) ? S_OK : PARSER_E_INVALID_FILE;
  }
  return c.ParsePath(path);
}

// Runs the prefixes of one file; returns how many were parsed.
size_t CheckPrefixes(const std::string& file, bool wholeFileParses, std::set<int>& fieldsCut) {
  std::vector<uint8_t> bytes = ReadBytes(file);
  EXPECT_FALSE(bytes.empty()) << file;
  if (bytes.empty()) return 0;
  // In memory where there is a tmpfs: the test measures the parser, not the disk.
  std::string path = (fs::path(testsupport::TempDir()) / "prefix.d90").string();
  testsupport::MessageCapture quiet;  // files of later versions show their message

  // The whole file, and every query over what it holds.
  Component whole;
  EXPECT_EQ(ParseBytes(whole, bytes, bytes.size(), path),
            wholeFileParses ? S_OK : PARSER_E_INVALID_FILE)
      << file;
  querydriver::DriveAll(whole.Itf());

  std::vector<size_t> lengths = PrefixLengths(Records(path), bytes.size(), fieldsCut);
  KeepShard(lengths);
  for (size_t i = 0; i < lengths.size(); ++i) {
    size_t n = lengths[i];
    Component c;
    HRESULT hr = ParseBytes(c, bytes, n, path);
    if (hr != PARSER_E_INVALID_FILE) {
      ADD_FAILURE() << file << " cut to " << n << " bytes: " << std::hex << hr;
      return i;
    }
    // The component still answers: the gated methods as "not parsed", the
    // entry view from whatever the cut parse left in the tables.
    DATE d = 0;
    EXPECT_EQ(c->GetTimeOfBuild(&d), PARSER_E_NOT_PARSED);
    // Every query over a cut parse now and then (each run costs about as much
    // as a parse of the whole file).
    const size_t every = EveryPrefix() ? 1024 : 32;
    if (i % every == 0) querydriver::DriveAll(c.Itf());
    if (i % (4 * every) == 0 && wholeFileParses) {
      // A later parse of the whole file is still accepted.
      EXPECT_EQ(ParseBytes(c, bytes, bytes.size(), path), S_OK) << file << " after " << n;
    }
  }
  return lengths.size();
}

}  // namespace

TEST(Prefixes, ExampleFileCutAtEveryLength) {
  std::string file = std::string(MIRL_EXAMPLES_DIR) + "/example.d90";
  std::set<int> fieldsCut;
  auto [k, n] = Shard();
  EXPECT_EQ(CheckPrefixes(file, true, fieldsCut), (ReadBytes(file).size() - k + n - 1) / n);
}

TEST(Prefixes, RealSamplesCutShortFailCleanly) {
  std::string dir = MIRL_SAMPLES_DIR;
  if (!fs::is_directory(dir)) GTEST_SKIP() << "no real samples at " << dir;
  size_t files = 0, prefixes = 0;
  std::set<int> fieldsCut;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    std::string ext = entry.path().extension().string();
    if (ext != ".d90" && ext != ".d43" && ext != ".d51") continue;
    // The file that is not UBROF at all fails as a whole, and so does every
    // prefix of it.
    std::string name = entry.path().parent_path().filename().string();
    size_t n = CheckPrefixes(entry.path().string(), name != "not-ubrof", fieldsCut);
    RecordProperty(name + "/" + entry.path().filename().string(), int(n));
    prefixes += n;
    ++files;
  }
  EXPECT_GE(files, 16u);
  RecordProperty("prefixes", int(prefixes));
}
