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

#include "../component/CMirlParserUbrof.h"
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

CMirlParserUbrof* ParseFile(const std::string& path) {
  auto* c = new CMirlParserUbrof();
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
    CMirlParserUbrof* c = ParseFile(path);
    state.PauseTiming();
    c->Release();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(FileSize(path)));
}

std::vector<LONG> Dies(CMirlParserUbrof* c, LONG parent, LONG tag) {
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
void EnumerateDies(CMirlParserUbrof* c) {
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
}

// Create, parse and enumerate every table through the interfaces.
void ParseAndEnumerate(benchmark::State& state) {
  const std::string& path = PathFor(int(state.range(0)));
  if (path.empty()) return state.SkipWithError("sample folder absent");
  for (auto _ : state) {
    CMirlParserUbrof* c = ParseFile(path);
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
  CMirlParserUbrof* c = nullptr;
  std::vector<ULONG> statementAddresses;
  std::vector<std::pair<std::string, ULONG>> lines;  // stored path, line
  std::vector<std::string> symbolNames;
  std::vector<ULONG> symbolScopes;
  explicit Parsed(const std::string& path) {
    c = ParseFile(path);
    for (const auto& s : c->m_Statements) statementAddresses.push_back(s.Address);
    for (const auto& f : c->m_SourceFiles)
      for (ULONG r : f.StatementRuns)
        if (r < c->m_StatementRuns.size())
          for (ULONG k = 0; k < c->m_StatementRuns[r].Count; ++k) {
            ULONG id = c->m_StatementRuns[r].FirstStatement + k;
            if (id < c->m_Statements.size()) lines.emplace_back(f.Path, c->m_Statements[id].Line);
          }
    for (ULONG i = 0; i < c->m_SymbolTable.Count(); ++i)
      symbolNames.push_back(c->m_NameTable.GetName(c->m_SymbolTable.Symbols[i].NameIndex));
  }
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
  Latencies(state, p.c->m_TypeTable.TypeCount(), [&](ULONG i) {
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
    auto* fresh = new CMirlParserUbrof();
    size_t initial = heap::g_Live.load() - base;
    fresh->Release();
    base = heap::ResetPeak();
    CMirlParserUbrof* c = ParseFile(path);
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
