// Extraction of a stored (uncompressed) cabinet from memory into memory, against a plain
// memcpy of the same bytes: the reader's own cost per byte (block headers, checksums, the
// copy into its output buffer and out again). The ratio is printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "../tests/unit/cabinet/cabinet_builder.h"
#include "bench_corpus.h"
#include "cabinet/cabinet_decoder.h"

namespace {

using cabtest::Bytes;

constexpr size_t FileBytes = 1 << 20;
constexpr int FileCount = 8;

// One cabinet in memory, read through any number of handles; output goes to one buffer.
struct Source {
  Bytes cabinet;
  std::vector<int64_t> positions;  // per handle
  Bytes output;
  size_t outputAt = 0;
};
Source* source = nullptr;

int32_t openCabinet(const char*, int32_t, int32_t) {
  source->positions.push_back(0);
  return int32_t(source->positions.size() - 1);
}
int32_t readCabinet(int32_t handle, void* buffer, uint32_t bytes) {
  int64_t& position = source->positions[handle];
  int64_t left = int64_t(source->cabinet.size()) - position;
  uint32_t count = uint32_t(std::min<int64_t>(bytes, std::max<int64_t>(left, 0)));
  std::memcpy(buffer, source->cabinet.data() + position, count);
  position += count;
  return int32_t(count);
}
int32_t writeOutput(int32_t, const void* buffer, uint32_t bytes) {
  std::memcpy(source->output.data() + source->outputAt, buffer, bytes);
  source->outputAt += bytes;
  return int32_t(bytes);
}
int32_t closeHandle(int32_t) { return 0; }
int32_t seekCabinet(int32_t handle, int32_t distance, int32_t origin) {
  int64_t& position = source->positions[handle];
  position = (origin == 0 ? 0 : position) + distance;
  return int32_t(position);
}
int32_t acceptAll(int32_t kind, cab::Notification*) {
  if (kind == cab::OpenOutput) return 1;
  return kind == cab::OutputComplete ? 1 : 0;
}

Bytes makeCabinet(bool checksums) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (int i = 0; i < FileCount; ++i) {
    files.push_back({"file" + std::to_string(i), cabtest::pattern(FileBytes, uint32_t(i))});
  }
  auto stored = cabtest::storedCabinet(files);
  for (auto& block : stored.cabinet.folders[0].blocks) block.withChecksum = checksums;
  return cabtest::build(stored.cabinet);
}

std::map<std::string, double> bytesPerSecond;

void StoredExtract(benchmark::State& state) {
  Source s;
  s.cabinet = makeCabinet(state.range(0) != 0);
  s.output.resize(FileBytes * FileCount);
  source = &s;
  cab::ErrorRecord errors{};
  cab::DecoderContext* context =
      cab::create(benchcorpus::allocate, benchcorpus::release, openCabinet, readCabinet,
                  writeOutput, closeHandle, seekCabinet, &errors);
  for (auto _ : state) {
    s.positions.clear();
    s.outputAt = 0;
    if (cab::copy(context, "a.cab", "", 0, acceptAll, nullptr, nullptr) != 1) {
      state.SkipWithError(cab::errorName(errors.code));
      break;
    }
    benchmark::DoNotOptimize(s.output.data());
  }
  cab::destroy(context);
  source = nullptr;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.cabinet.size()));
}
BENCHMARK(StoredExtract)->ArgName("checksums")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void Memcpy(benchmark::State& state) {
  Bytes from = makeCabinet(false);
  Bytes to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}
BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond);

// Keeps each run's bytes per second to compare them after the runs.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) bytesPerSecond[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double copy = bytesPerSecond["Memcpy"];
  for (const char* name : {"StoredExtract/checksums:0", "StoredExtract/checksums:1"}) {
    auto it = bytesPerSecond.find(name);
    if (it != bytesPerSecond.end() && copy > 0) {
      std::printf("%s: %.1f MB/s, %.3f of memcpy's %.1f MB/s\n", name, it->second / 1e6,
                  it->second / copy, copy / 1e6);
    }
  }
  benchmark::Shutdown();
  return 0;
}
