// Decoding time of multipart bodies against a floor measured in the same run: a bare
// scan of the same body for every occurrence of its delimiter.
#include <benchmark/benchmark.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "bench/decode_bodies.h"
#include "gate/web_module1.h"

namespace orvane::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::size_t CountWithMemmem(std::string_view body, std::string_view delimiter) {
  std::size_t count = 0;
  const char* at = body.data();
  const char* const end = body.data() + body.size();
  while (const void* hit =
             memmem(at, static_cast<std::size_t>(end - at), delimiter.data(), delimiter.size())) {
    ++count;
    at = static_cast<const char*>(hit) + delimiter.size();
  }
  return count;
}

std::size_t CountWithSkipSearch(std::string_view body, std::string_view delimiter) {
  const std::boyer_moore_horspool_searcher searcher(delimiter.begin(), delimiter.end());
  std::size_t count = 0;
  for (auto at = std::search(body.begin(), body.end(), searcher); at != body.end();
       at = std::search(at + static_cast<std::ptrdiff_t>(delimiter.size()), body.end(), searcher)) {
    ++count;
  }
  return count;
}

const std::string& OneImage50MiB() {
  static const std::string body = OneImageBody(50u << 20);
  return body;
}

const std::string& TinyParts100k() {
  static const std::string body = TinyPartsBody(100000);
  return body;
}

// Each iteration times both floors and the decoding; the reported time is the decoding.
void DecodeAgainstFloors(benchmark::State& state, const std::string& (*make_body)()) {
  const std::string& body = make_body();
  const std::string_view delimiter = FirstLine(body);
  double decode = 0, memmem_floor = 0, search_floor = 0;
  for (auto _ : state) {
    TWebModule1 module;
    const Clock::time_point start = Clock::now();
    benchmark::DoNotOptimize(CountWithMemmem(body, delimiter));
    const Clock::time_point after_memmem = Clock::now();
    benchmark::DoNotOptimize(CountWithSkipSearch(body, delimiter));
    const Clock::time_point after_search = Clock::now();
    module.ParseMultipartBody(body);
    benchmark::DoNotOptimize(module.FormText.data());
    benchmark::DoNotOptimize(module.UploadData.data());
    const Clock::time_point end = Clock::now();

    memmem_floor += Seconds(after_memmem - start);
    search_floor += Seconds(after_search - after_memmem);
    const double seconds = Seconds(end - after_search);
    decode += seconds;
    state.SetIterationTime(seconds);
  }
  const double iterations = static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
  state.counters["body_MiB"] = static_cast<double>(body.size()) / (1 << 20);
  state.counters["floor_memmem_ms"] = memmem_floor / iterations * 1e3;
  state.counters["floor_search_ms"] = search_floor / iterations * 1e3;
  state.counters["ratio_memmem"] = decode / memmem_floor;
  state.counters["ratio_search"] = decode / search_floor;
}

BENCHMARK_CAPTURE(DecodeAgainstFloors, one_image_50MiB, &OneImage50MiB)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeAgainstFloors, tiny_parts_100k, &TinyParts100k)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvane::bench

BENCHMARK_MAIN();
