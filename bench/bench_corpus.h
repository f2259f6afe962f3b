// What the benchmark programs share: finding and reading the benchmark corpus, zlib's deflate
// and inflate as the yardstick, the decoders' memory callbacks, the clocks, and the timing of
// two decoders alternately in one run.
//
// The corpus directory comes from BENCH_CORPUS (default: corpus/ beside bench/). It holds the
// parts pe, text and media, each a directory whose regular files, in name order, are its bytes.
// Without any part a program reports nothing and exits successfully.
#pragma once

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cabinet/callbacks.h"

namespace benchcorpus {

namespace fs = std::filesystem;

inline constexpr const char* PartNames[] = {"pe", "text", "media"};

inline void* allocate(int32_t bytes) { return std::malloc(static_cast<size_t>(bytes)); }
inline void release(void* block) { std::free(block); }

// Process CPU time: figures that should not depend on what else the machine runs.
struct CpuClock {
  using time_point = std::clock_t;
  static time_point now() { return std::clock(); }
  static double secondsBetween(time_point a, time_point b) {
    return static_cast<double>(b - a) / CLOCKS_PER_SEC;
  }
};

// Elapsed time.
struct WallClock {
  using time_point = std::chrono::steady_clock::time_point;
  static time_point now() { return std::chrono::steady_clock::now(); }
  static double secondsBetween(time_point a, time_point b) {
    return std::chrono::duration<double>(b - a).count();
  }
};

inline std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The regular files of a directory, in name order.
inline std::vector<fs::path> sortedFiles(const fs::path& directory) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A part's bytes: its files one after the other.
inline std::vector<uint8_t> readPart(const fs::path& directory) {
  std::vector<uint8_t> data;
  for (const auto& file : sortedFiles(directory)) {
    const std::vector<uint8_t> bytes = readFile(file);
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  return data;
}

inline fs::path corpusDirectory() {
  const char* fromEnvironment = std::getenv("BENCH_CORPUS");
  return fromEnvironment != nullptr ? fs::path(fromEnvironment)
                                    : fs::path(__FILE__).parent_path().parent_path() / "corpus";
}

// The directories of the parts the corpus has, in the order of PartNames.
inline std::vector<fs::path> partDirectories(const fs::path& corpus) {
  std::vector<fs::path> directories;
  for (const char* name : PartNames) {
    if (fs::is_directory(corpus / name)) directories.push_back(corpus / name);
  }
  return directories;
}

inline void reportNoCorpus(const fs::path& corpus) {
  std::printf("no benchmark corpus at %s (set BENCH_CORPUS); nothing to measure\n", corpus.c_str());
}

// Deflate at level 9; zlibWindowBits -15 gives raw deflate, 31 a gzip stream. memLevel sizes
// zlib's hash and literal buffer, which changes the output a little (zlib's default is 8).
inline std::vector<uint8_t> deflateLevel9(const std::vector<uint8_t>& data, int zlibWindowBits,
                                          int memLevel) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, zlibWindowBits, memLevel, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Inflates one raw deflate stream into `out`; returns the bytes produced (0 on failure).
inline uint64_t inflateRaw(const std::vector<uint8_t>& deflated, std::vector<uint8_t>& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(deflated.data());
  z.avail_in = static_cast<uInt>(deflated.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  const uint64_t total = z.total_out;
  inflateEnd(&z);
  return result == Z_STREAM_END ? total : 0;
}

// One part of the corpus packed as one folder of fixed-size data blocks, with its deflate
// forms for comparison.
struct FolderPart {
  std::string name;
  std::vector<uint8_t> data;                 // the folder's bytes
  std::vector<std::vector<uint8_t>> blocks;  // its data blocks
  std::vector<uint8_t> deflated;             // raw deflate, level 9
  uint64_t packedBytes = 0;                  // all data blocks together
  uint64_t gzipBytes = 0;                    // gzip stream, level 9
  double encodeSeconds = 0;
};

// The parts the corpus has, then "whole": all of them as one folder. Empty without a corpus.
inline std::vector<FolderPart> loadFolderParts(const fs::path& corpus, int deflateMemLevel) {
  std::vector<FolderPart> parts;
  FolderPart whole;
  whole.name = "whole";
  for (const fs::path& directory : partDirectories(corpus)) {
    FolderPart part;
    part.name = directory.filename().string();
    part.data = readPart(directory);
    whole.data.insert(whole.data.end(), part.data.begin(), part.data.end());
    parts.push_back(std::move(part));
  }
  if (parts.empty()) return parts;
  parts.push_back(std::move(whole));
  for (FolderPart& part : parts) {
    part.deflated = deflateLevel9(part.data, -15, deflateMemLevel);
    part.gzipBytes = deflateLevel9(part.data, 31, deflateMemLevel).size();
  }
  return parts;
}

// Packs the part in data blocks of `blockBytes` with a fresh compressor from `makeCompressor`,
// keeping the time taken on `Clock` in part.encodeSeconds.
template <class Clock, class MakeCompressor>
void encodePart(FolderPart& part, uint32_t blockBytes, MakeCompressor makeCompressor) {
  const auto start = Clock::now();
  auto compressor = makeCompressor();
  part.blocks.clear();
  part.packedBytes = 0;
  for (size_t at = 0; at < part.data.size(); at += blockBytes) {
    const size_t count = std::min<size_t>(blockBytes, part.data.size() - at);
    part.blocks.emplace_back();
    compressor->compressBlock({part.data.data() + at, count}, at + count == part.data.size(),
                              part.blocks.back());
    part.packedBytes += part.blocks.back().size();
  }
  part.encodeSeconds = Clock::secondsBetween(start, Clock::now());
}

using ResetFn = cab::DecoderResult (*)(void* handle);
using DecompressFn = cab::DecoderResult (*)(void* handle, const uint8_t* input, uint32_t inputBytes,
                                            uint8_t* output, uint32_t* outputBytes);

// Expands the part's data blocks as one folder into `out`; returns the bytes produced (0 on
// failure).
inline uint64_t decodePart(const FolderPart& part, uint32_t blockBytes, void* handle, ResetFn reset,
                           DecompressFn decompress, std::vector<uint8_t>& out) {
  reset(handle);
  uint64_t total = 0;
  for (const auto& block : part.blocks) {
    uint32_t produced =
        static_cast<uint32_t>(std::min<uint64_t>(blockBytes, part.data.size() - total));
    if (decompress(handle, block.data(), static_cast<uint32_t>(block.size()), out.data() + total,
                   &produced) != cab::Ok) {
      return 0;
    }
    total += produced;
  }
  return total;
}

// Encoder throughput and the packed size against gzip -9's; `packedCounter` names the packed
// size. The part's blocks stay for the decoding benchmark.
template <class Clock, class MakeCompressor>
void measureEncode(benchmark::State& state, FolderPart& part, uint32_t blockBytes,
                   MakeCompressor makeCompressor, const char* packedCounter) {
  double seconds = 0;
  for (auto _ : state) {
    encodePart<Clock>(part, blockBytes, makeCompressor);
    seconds += part.encodeSeconds;
  }
  const double megabytes = static_cast<double>(part.data.size()) * state.iterations() / 1e6;
  state.counters["encode_MBps"] = megabytes / seconds;
  state.counters[packedCounter] = static_cast<double>(part.packedBytes);
  state.counters["gzip9_bytes"] = static_cast<double>(part.gzipBytes);
  state.counters["size_vs_gzip9"] =
      static_cast<double>(part.packedBytes) / static_cast<double>(part.gzipBytes);
}

// Runs `ours` and then `inflate` in every iteration, each timed on `Clock`, and reports both
// throughputs over `rawBytes` per run (`oursCounter` and "inflate_MBps") and their ratio.
template <class Clock, class Ours, class Inflate>
void timeAgainstInflate(benchmark::State& state, uint64_t rawBytes, const char* oursCounter,
                        Ours ours, Inflate inflate) {
  double oursSeconds = 0, zlibSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(ours());
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(inflate());
    const auto t2 = Clock::now();
    oursSeconds += Clock::secondsBetween(t0, t1);
    zlibSeconds += Clock::secondsBetween(t1, t2);
  }
  const double megabytes = static_cast<double>(rawBytes) * state.iterations() / 1e6;
  state.counters[oursCounter] = megabytes / oursSeconds;
  state.counters["inflate_MBps"] = megabytes / zlibSeconds;
  state.counters["speed_ratio"] = zlibSeconds / oursSeconds;
}

using FolderPartBenchmark = void (*)(benchmark::State& state, FolderPart* part);

// The main of a program measuring one method on the corpus: for every part, "<method>Encode/
// <part>" run once and "<method>VersusInflate/<part>" run for at least 2 s.
inline int runEncodeAndDecode(int argc, char** argv, const std::string& method, int deflateMemLevel,
                              FolderPartBenchmark encode, FolderPartBenchmark versusInflate) {
  const fs::path corpus = corpusDirectory();
  benchmark::Initialize(&argc, argv);
  static std::vector<FolderPart> parts = loadFolderParts(corpus, deflateMemLevel);
  if (parts.empty()) {
    reportNoCorpus(corpus);
    return 0;
  }
  for (FolderPart& part : parts) {
    benchmark::RegisterBenchmark((method + "Encode/" + part.name).c_str(), encode, &part)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark((method + "VersusInflate/" + part.name).c_str(), versusInflate,
                                 &part)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace benchcorpus
