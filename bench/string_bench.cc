// KaString against std::u16string doing the same work, and the number of
// general-heap allocations per operation once the block pools are warm.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "heap_counter.h"
#include "osal/ka_string.h"
#include "osal/wide_format.h"

namespace {

using KaOSAL::KaString;
using wardex::bench::HeapAllocations;

std::u16string Pattern(int64_t length) {
  std::u16string text;
  for (int64_t i = 0; i < length; ++i) text += static_cast<char16_t>(u'a' + i % 26);
  return text;
}

// Reports the heap allocations made inside the timed loop, per iteration.
class AllocationCounter {
 public:
  explicit AllocationCounter(benchmark::State& state) : state_(state), start_(HeapAllocations()) {}
  ~AllocationCounter() {
    state_.counters["heap_allocs_per_op"] = benchmark::Counter(
        static_cast<double>(HeapAllocations() - start_), benchmark::Counter::kAvgIterations);
  }

 private:
  benchmark::State& state_;
  uint64_t start_;
};

// ---- Copy: a copy is taken and dropped ----

void BM_KaStringCopy(benchmark::State& state) {
  const KaString source(Pattern(state.range(0)).c_str());
  { KaString warm(source); }
  AllocationCounter counter(state);
  for (auto _ : state) {
    KaString copy(source);
    benchmark::DoNotOptimize(copy.c_str());
  }
}

void BM_U16StringCopy(benchmark::State& state) {
  const std::u16string source = Pattern(state.range(0));
  AllocationCounter counter(state);
  for (auto _ : state) {
    std::u16string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}

// ---- Copy and write: the copy must become its own ----

void BM_KaStringCopyWrite(benchmark::State& state) {
  const KaString source(Pattern(state.range(0)).c_str());
  for (int i = 0; i < 100; ++i) KaString(source).SetAt(0, u'X');
  AllocationCounter counter(state);
  for (auto _ : state) {
    KaString copy(source);
    copy.SetAt(0, u'X');
    benchmark::DoNotOptimize(copy.c_str());
  }
}

void BM_U16StringCopyWrite(benchmark::State& state) {
  const std::u16string source = Pattern(state.range(0));
  AllocationCounter counter(state);
  for (auto _ : state) {
    std::u16string copy(source);
    copy[0] = u'X';
    benchmark::DoNotOptimize(copy.data());
  }
}

// ---- Append: a text built from 16-character pieces up to the length ----

constexpr char16_t kPiece[] = u"0123456789abcdef";

void BM_KaStringAppend(benchmark::State& state) {
  const int64_t pieces = state.range(0) / 16;
  auto build = [pieces] {
    KaString text;
    for (int64_t i = 0; i < pieces; ++i) text += kPiece;
    return text;
  };
  for (int i = 0; i < 100; ++i) build();
  AllocationCounter counter(state);
  for (auto _ : state) {
    KaString text = build();
    benchmark::DoNotOptimize(text.c_str());
  }
}

void BM_U16StringAppend(benchmark::State& state) {
  const int64_t pieces = state.range(0) / 16;
  AllocationCounter counter(state);
  for (auto _ : state) {
    std::u16string text;
    for (int64_t i = 0; i < pieces; ++i) text += kPiece;
    benchmark::DoNotOptimize(text.data());
  }
}

// ---- Format: a log-style line through the one wide formatter ----

constexpr char16_t kLineFormat[] = u"LOAD DLL DONE: %s (%dms) %08X";
// The line around the name takes at most 40 characters, so that the result is
// at most the benchmark's length.
constexpr int64_t kLineFrame = 40;

void BM_KaStringFormat(benchmark::State& state) {
  const std::u16string name = Pattern(state.range(0) - kLineFrame);
  KaString line;
  for (int i = 0; i < 100; ++i) line.Format(kLineFormat, name.c_str(), i, i);
  AllocationCounter counter(state);
  int n = 0;
  for (auto _ : state) {
    ++n;
    KaString text;
    text.Format(kLineFormat, name.c_str(), n, n);
    benchmark::DoNotOptimize(text.c_str());
  }
}

void BM_U16StringFormat(benchmark::State& state) {
  const std::u16string name = Pattern(state.range(0) - kLineFrame);
  AllocationCounter counter(state);
  int n = 0;
  for (auto _ : state) {
    ++n;
    std::u16string text;
    KaOSAL::AppendFormat(text, kLineFormat, name.c_str(), n, n);
    benchmark::DoNotOptimize(text.data());
  }
}

// ---- A mix of everyday operations on strings of 1 to 512 characters ----

void BM_KaStringMixedUpTo512(benchmark::State& state) {
  const std::u16string full = Pattern(512);
  auto work = [&full](int64_t length) {
    KaString s(full.c_str(), static_cast<int>(length));
    KaString copy = s;
    copy.MakeUpper();
    KaString part = s.Mid(static_cast<int>(length / 2));
    part += u'!';
    part.Replace(u'a', u'b');
    KaString joined = part.Left(16) + copy.Right(16);
    return joined.GetLength() + copy.Find(u'Z');
  };
  for (int64_t length = 1; length <= 512; ++length) work(length);
  AllocationCounter counter(state);
  int64_t length = 0;
  for (auto _ : state) {
    length = length % 512 + 1;
    benchmark::DoNotOptimize(work(length));
  }
}

// ---- Strings made on one thread and freed on another ----

// Each thread makes strings and hands them to the next thread through a ring,
// which frees them: every block crosses threads.
void BM_KaStringCrossThreadFree(benchmark::State& state) {
  constexpr int kSlots = 1024;
  static std::vector<KaString> ring(kSlots);
  static std::mutex ring_mutex;
  const std::u16string text = Pattern(100 + state.thread_index() * 100);
  std::optional<AllocationCounter> counter;
  if (state.thread_index() == 0) counter.emplace(state);
  uint32_t slot = static_cast<uint32_t>(state.thread_index()) * 7919u;
  for (auto _ : state) {
    KaString made(text.c_str());
    slot = (slot + 1) % kSlots;
    std::lock_guard lock(ring_mutex);
    ring[slot] = std::move(made);  // frees what another thread left there
  }
}

const std::vector<int64_t> kLengths = {16, 200, 512, 2000};
const std::vector<int64_t> kLineLengths = {64, 200, 512, 2000};

BENCHMARK(BM_KaStringCopy)->ArgsProduct({kLengths});
BENCHMARK(BM_U16StringCopy)->ArgsProduct({kLengths});
BENCHMARK(BM_KaStringCopyWrite)->ArgsProduct({kLengths});
BENCHMARK(BM_U16StringCopyWrite)->ArgsProduct({kLengths});
BENCHMARK(BM_KaStringAppend)->ArgsProduct({kLengths});
BENCHMARK(BM_U16StringAppend)->ArgsProduct({kLengths});
BENCHMARK(BM_KaStringFormat)->ArgsProduct({kLineLengths});
BENCHMARK(BM_U16StringFormat)->ArgsProduct({kLineLengths});
BENCHMARK(BM_KaStringMixedUpTo512);
BENCHMARK(BM_KaStringCrossThreadFree)->Threads(1)->Threads(2)->Threads(4);

}  // namespace

BENCHMARK_MAIN();
