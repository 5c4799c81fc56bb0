// Parse speed, query latency and memory of the parser, on a generated large
// program and on the largest real sample. Run: scripts/bench.sh
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "../component/MirlProgram.h"
#include "../platform/Platform.h"
#include "../tests/NewParser.h"
#include "LargeProgram.h"

// Every allocation of the process goes through these, so the benchmark can
// tell the live heap and its peak (the component is linked in statically and
// its tables are standard containers). Sizes come from malloc_usable_size,
// which is what the allocator really handed out.
namespace heap {
std::atomic<size_t> g_Live{0};
std::atomic<size_t> g_Peak{0};
void* Take(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) return nullptr;
  size_t live = g_Live += malloc_usable_size(p);
  size_t peak = g_Peak.load();
  while (live > peak && !g_Peak.compare_exchange_weak(peak, live)) {
  }
  return p;
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void Give(void* p) {
  if (!p) return;
  g_Live -= malloc_usable_size(p);
  std::free(p);
}
#pragma GCC diagnostic pop
// Starts a new peak measurement at the current live size.
size_t ResetPeak() {
  size_t live = g_Live.load();
  g_Peak = live;
  return live;
}
}  // namespace heap

namespace {

std::string g_LargePath;
std::string g_SamplePath;

std::string WriteLarge() {
  std::string path = "/tmp/mirl-bench-large.d90";
  bench::MakeLargeProgram().Save(path);
  return path;
}

size_t FileSize(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return f ? size_t(f.tellg()) : 0;
}

IMirlParser* Create() { return NewParser(); }

IMirlParser* ParseFile(const std::string& path) {
  IMirlParser* c = Create();
  c->Init(0);
  BSTR b = platform::AnsiToBstr(path);
  HRESULT hr = c->ParseObjectFile(&b, 0);
  SysFreeString(b);
  if (FAILED(hr)) std::fprintf(stderr, "parse of %s failed: 0x%08X\n", path.c_str(), unsigned(hr));
  return c;
}

const std::string& PathFor(int which) { return which == 0 ? g_LargePath : g_SamplePath; }

void RawRead(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  std::vector<char> buf(FileSize(path));
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    size_t n = std::fread(buf.data(), 1, buf.size(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}

// The file read a byte at a time through the standard stream, as a reader
// that relies on the stream's own buffering would read it (for comparison).
void RawReadBytewise(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "rb");
    unsigned sum = 0;
    for (int c; (c = std::getc(f)) != EOF;) sum += unsigned(c);
    std::fclose(f);
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(FileSize(path)));
}

// Create, initialise and parse (releasing the component is not timed).
void Parse(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  for (auto _ : state) {
    IMirlParser* c = ParseFile(path);
    state.PauseTiming();
    c->Release();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(FileSize(path)));
}

std::vector<LONG> Dies(IMirlParser3* c, LONG parent, LONG tag) {
  VARIANT v;
  VariantInit(&v);
  std::vector<LONG> out;
  if (SUCCEEDED(c->GetDies(parent, tag, &v)) && v.vt == (VT_ARRAY | VT_I4)) {
    void* data = nullptr;
    SafeArrayAccessData(v.parray, &data);
    out.assign(static_cast<LONG*>(data),
               static_cast<LONG*>(data) + v.parray->rgsabound[0].cElements);
    SafeArrayUnaccessData(v.parray);
  }
  VariantClear(&v);
  return out;
}

// The entry tree from the root: every entry's tag and name, and its children.
void EnumerateDies(IMirlParser* p) {
  IMirlParser3* c = nullptr;
  if (FAILED(p->QueryInterface(IID_IMirlParser3, reinterpret_cast<void**>(&c)))) return;
  std::vector<LONG> work = Dies(c, 0, 0x11);
  while (!work.empty()) {
    LONG die = work.back();
    work.pop_back();
    LONG tag = 0;
    c->GetTag(die, &tag);
    VARIANT v;
    VariantInit(&v);
    c->GetAttr(die, 0x03, &v);
    VariantClear(&v);
    if (tag != 0x34 && tag != 0)
      for (LONG child : Dies(c, die, 0)) work.push_back(child);
  }
  c->Release();
}

// Create, parse and enumerate every table through the interfaces.
void ParseAndEnumerate(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  for (auto _ : state) {
    IMirlParser* c = ParseFile(path);
    ULONG n = 0;
    for (;; ++n) {
      BSTR name = nullptr, full = nullptr;
      ULONG t, s, z, f;
      HRESULT hr = c->GetScopeInfo(n, &name, &full, &t, &s, &z, &f);
      SysFreeString(name);
      SysFreeString(full);
      if (FAILED(hr)) break;
    }
    for (ULONG id = 0;; ++id) {
      BSTR name = nullptr;
      ULONG s, t;
      HRESULT hr = c->GetSymbolInfo(id, &name, &s, &t);
      SysFreeString(name);
      if (FAILED(hr)) break;
    }
    for (ULONG id = 0;; ++id) {
      ULONG a;
      unsigned char t;
      if (FAILED(c->EnumHLStatements(id, &a, &t))) break;
    }
    for (ULONG id = 0;; ++id) {
      BSTR name = nullptr;
      ULONG a, b, d, e;
      unsigned char m;
      HRESULT hr = c->GetTypeInfo(id, &name, &a, &b, &d, &m, &e);
      SysFreeString(name);
      if (FAILED(hr)) break;
    }
    for (ULONG id = 0;; ++id) {
      BSTR name = nullptr;
      DATE d;
      unsigned char l, t;
      HRESULT hr = c->GetSourceFileInfo(id, &name, &d, &l, &t);
      SysFreeString(name);
      if (FAILED(hr)) break;
    }
    EnumerateDies(c);
    c->Release();
  }
}

// Per-call latency of one kind of query over every id of its table,
// reported as median and 99th percentile in nanoseconds.
template <class F>
void Latencies(benchmark::State& state, ULONG count, F&& call) {
  std::vector<double> ns;
  ns.reserve(count);
  for (auto _ : state) {
    ns.clear();
    for (ULONG i = 0; i < count; ++i) {
      auto t0 = std::chrono::steady_clock::now();
      call(i);
      auto t1 = std::chrono::steady_clock::now();
      ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
  }
  if (ns.empty()) return;
  std::sort(ns.begin(), ns.end());
  state.counters["calls"] = double(ns.size());
  state.counters["median_ns"] = ns[ns.size() / 2];
  state.counters["p99_ns"] = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)];
}

struct Parsed {
  IMirlParser* c = nullptr;
  std::vector<ULONG> statementAddresses;
  std::vector<std::pair<std::string, ULONG>> lines;  // stored path, line
  std::vector<std::string> symbolNames;
  std::vector<ULONG> symbolScopes;
  explicit Parsed(const std::string& path) {
    c = ParseFile(path);
    const mirl::api::Program prog(c);
    const std::vector<mirl::api::Statement> stats = prog.Statements();
    const std::vector<mirl::api::StatementRun> runs = prog.StatementRuns();
    for (const auto& s : stats) statementAddresses.push_back(s.address);
    for (const auto& f : prog.SourceFiles())
      for (ULONG r : f.statementRuns)
        if (r < runs.size())
          for (ULONG k = 0; k < runs[r].count; ++k) {
            ULONG id = runs[r].first + k;
            if (id < stats.size()) lines.emplace_back(f.path, stats[id].line);
          }
    for (const auto& sym : prog.Symbols()) symbolNames.push_back(sym.name);
    types = prog.Count().types;
  }
  ULONG types = 0;
  ~Parsed() { c->Release(); }
};

void AddressToSource(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  Parsed p(path);
  Latencies(state, ULONG(p.statementAddresses.size()), [&](ULONG i) {
    BSTR file = nullptr;
    ULONG l, c0, le, ce, st;
    p.c->GetSourceFromProgMemAddress(p.statementAddresses[i], &file, &l, &c0, &le, &ce, &st);
    SysFreeString(file);
  });
}

void SourceToAddress(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  Parsed p(path);
  Latencies(state, ULONG(p.lines.size()), [&](ULONG i) {
    // The method consumes the caller's string, so each call gets a new one.
    BSTR b = platform::AnsiToBstr(p.lines[i].first);
    ULONG a;
    p.c->GetProgMemAddressFromSource(&b, p.lines[i].second, 0, &a);
    SysFreeString(b);
  });
}

void LookupSymbol(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  Parsed p(path);
  Latencies(state, ULONG(p.symbolNames.size()), [&](ULONG i) {
    BSTR b = platform::AnsiToBstr(p.symbolNames[i]);
    ULONG sym, scope;
    p.c->LookupSymbolName(&b, 0, 1, &sym, &scope);
    SysFreeString(b);
  });
}

void TypeInfo(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  Parsed p(path);
  Latencies(state, p.types, [&](ULONG i) {
    BSTR name = nullptr;
    ULONG a, b, d, e;
    unsigned char m;
    p.c->GetTypeInfo(i, &name, &a, &b, &d, &m, &e);
    SysFreeString(name);
  });
}

// Peak heap of creating a component and parsing one file, against the file
// size; the initial images are what a fresh component holds before a parse.
void PeakMemory(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  for (auto _ : state) {
    size_t base = heap::ResetPeak();
    IMirlParser* fresh = Create();
    size_t initial = heap::g_Live.load() - base;
    fresh->Release();
    base = heap::ResetPeak();
    IMirlParser* c = ParseFile(path);
    size_t retained = heap::g_Live.load() - base;
    size_t peak = heap::g_Peak.load() - base;
    c->Release();
    double file = double(FileSize(path));
    state.counters["file_MB"] = file / (1 << 20);
    state.counters["initial_MB"] = double(initial) / (1 << 20);
    state.counters["peak_MB"] = double(peak) / (1 << 20);
    state.counters["retained_MB"] = double(retained) / (1 << 20);
    state.counters["peak_less_initial_per_file"] = double(peak - initial) / file;
  }
}

// Parse speed per byte through the read API's entry that also reads UBROF
// 10, on a UBROF 8 sample and on the UBROF 10 samples of three families
// (the newer layouts should cost at most twice as much per byte).
const char* const kAnyVersionFiles[] = {
    "mvsn21-4a7f62886e/Mvsn21.d90", "ubrof10/cc2530-sampleapp/SampleApp.d51",
    "ubrof10/mega128-debug/atmega128.d90", "ubrof10/msp430-project/Project.d43"};

void ParseAnyVersion(benchmark::State& state) {
  const std::string path = std::string(MIRL_SAMPLES_DIR) + "/" + kAnyVersionFiles[state.range(0)];
  if (FileSize(path) == 0) return state.SkipWithError("sample folder absent");
  state.SetLabel(kAnyVersionFiles[state.range(0)]);
  for (auto _ : state) {
    IMirlParser* c = Create();
    c->Init(0);
    if (!mirl::api::ParseAnyVersion(c, path)) state.SkipWithError("parse failed");
    state.PauseTiming();
    c->Release();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(FileSize(path)));
}
BENCHMARK(ParseAnyVersion)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

#define MIRL_BENCH(fn) BENCHMARK(fn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)
MIRL_BENCH(RawRead);
MIRL_BENCH(RawReadBytewise);
MIRL_BENCH(Parse);
MIRL_BENCH(ParseAndEnumerate);
MIRL_BENCH(AddressToSource)->Iterations(3);
MIRL_BENCH(SourceToAddress)->Iterations(3);
MIRL_BENCH(LookupSymbol)->Iterations(3);
MIRL_BENCH(TypeInfo)->Iterations(3);
MIRL_BENCH(PeakMemory)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  g_LargePath = WriteLarge();
  std::string sample = std::string(MIRL_SAMPLES_DIR) + "/mvsn21-4a7f62886e/Mvsn21.d90";
  if (FileSize(sample) > 0) g_SamplePath = sample;
  {
    // The generated program's shape, as parsed.
    IMirlParser* c = ParseFile(g_LargePath);
    const mirl::api::Program prog(c);
    const mirl::api::Counts n = prog.Count();
    unsigned kinds[4] = {0, 0, 0, 0};
    mirl::api::Scope s;
    for (uint32_t id = 0; id < n.scopes; ++id)
      if (prog.GetScope(id, &s)) ++kinds[s.kind & 3];
    ULONG lo = 0, hi = 0, blocks = 0;
    c->GetMemoryInfo(1, &lo, &hi, &blocks);
    std::printf(
        "large program: %u modules, %u functions, %u blocks, %u statements, %u symbols, %u "
        "types, %lu bytes of code\n",
        kinds[2], kinds[1], kinds[3], n.statements, n.symbols, n.types,
        (unsigned long)(hi - lo + 1));
    c->Release();
  }
  std::printf("large program: %s (%zu bytes)\nreal sample: %s\n", g_LargePath.c_str(),
              FileSize(g_LargePath), g_SamplePath.empty() ? "(absent)" : g_SamplePath.c_str());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

void* operator new(size_t n) {
  if (void* p = heap::Take(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) {
  if (void* p = heap::Take(n)) return p;
  throw std::bad_alloc();
}
void* operator new(size_t n, const std::nothrow_t&) noexcept { return heap::Take(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return heap::Take(n); }
void operator delete(void* p) noexcept { heap::Give(p); }
void operator delete[](void* p) noexcept { heap::Give(p); }
void operator delete(void* p, size_t) noexcept { heap::Give(p); }
void operator delete[](void* p, size_t) noexcept { heap::Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { heap::Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { heap::Give(p); }
