// The memory views: images with their written runs, a hex dump of a range,
// and the exports of the written bytes (Intel HEX, raw image).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Format.h"
#include "IntelHex.h"
#include "ViewParts.h"

namespace dump {

namespace {

// Bounds and written runs of memory type 1, 2, 4, or bounds only of 0x40.
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
  for (const auto& r : s.Api().Memory(uint8_t(memType)).written) {
    runs.push_back({{"first", r.first}, {"last", r.second}});
    bytes += uint64_t(r.second) - r.first + 1;
  }
  j["written_bytes"] = bytes;
  j["written"] = runs;
  return j;
}

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

Json MemoryImagesJson(Session& s) {
  Json j;
  j["program"] = MemoryImageJson(s, 1);
  j["data"] = MemoryImageJson(s, 2);
  j["eeprom"] = MemoryImageJson(s, 4);
  return j;
}

Json MemoryJson(Session& s) {
  Json j = MemoryImagesJson(s);
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

bool ExportIntelHex(Session& s, unsigned memType, const std::string& path, Json* pReport,
                    std::string* pError) {
  std::vector<MemoryRun> runs;
  uint64_t total = 0;
  for (const auto& r : s.Api().Memory(uint8_t(memType)).written) {
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
