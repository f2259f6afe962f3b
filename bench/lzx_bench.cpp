// LZX figures on the benchmark corpus, each part (pe, text, media) and the whole corpus taken
// as one folder of 32768-byte data blocks, window 2^21:
//   LzxEncode/<part>:         encoder throughput, and the packed size against gzip -9's
//                             (zlib's deflate at level 9 in a gzip wrapper) on the same bytes;
//   LzxVersusInflate/<part>:  decoding throughput against zlib's inflate of the same data's
//                             deflate form (level 9, one stream), timed alternately in one run.
// The corpus directory comes from BENCH_CORPUS (default: corpus/ beside bench/); without it
// the program reports nothing and exits successfully.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cabinet/lzx.h"
#include "cabinet/lzx_constants.h"
#include "pack/compressor.h"

namespace {

namespace fs = std::filesystem;
constexpr int WindowBits = 21;
constexpr uint32_t FrameBytes = lzx::FrameBytes;

struct Part {
  std::string name;
  std::vector<uint8_t> data;                 // the folder's bytes
  std::vector<std::vector<uint8_t>> blocks;  // its LZX data blocks
  std::vector<uint8_t> deflated;             // raw deflate, level 9
  uint64_t lzxBytes = 0;
  uint64_t gzipBytes = 0;
  double encodeSeconds = 0;
};

void* allocate(int32_t bytes) { return std::malloc(static_cast<size_t>(bytes)); }
void release(void* block) { std::free(block); }

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> readPart(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  std::vector<uint8_t> data;
  for (const auto& file : files) {
    auto bytes = readFile(file);
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  return data;
}

// Deflate at level 9; windowBits -15 gives raw deflate, 31 a gzip stream.
std::vector<uint8_t> deflateAll(const std::vector<uint8_t>& data, int windowBits) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
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

void encodePart(Part& part) {
  std::clock_t start = std::clock();
  auto compressor = pack::makeLzxCompressor(WindowBits);
  part.blocks.clear();
  part.lzxBytes = 0;
  for (size_t at = 0; at < part.data.size(); at += FrameBytes) {
    size_t n = std::min<size_t>(FrameBytes, part.data.size() - at);
    part.blocks.emplace_back();
    compressor->compressBlock({part.data.data() + at, n}, at + n == part.data.size(), part.blocks.back());
    part.lzxBytes += part.blocks.back().size();
  }
  part.encodeSeconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// Expands every data block of the part into `out`; returns the bytes produced (0 on failure).
uint64_t decodeLzx(const Part& part, void* handle, std::vector<uint8_t>& out) {
  lzx::reset(handle);
  uint64_t total = 0;
  for (size_t i = 0; i < part.blocks.size(); ++i) {
    uint32_t produced = static_cast<uint32_t>(std::min<uint64_t>(FrameBytes, part.data.size() - total));
    if (lzx::decompress(handle, part.blocks[i].data(), static_cast<uint32_t>(part.blocks[i].size()),
                        out.data() + total, &produced) != cab::Ok)
      return 0;
    total += produced;
  }
  return total;
}

uint64_t inflateAll(const Part& part, std::vector<uint8_t>& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(part.deflated.data());
  z.avail_in = static_cast<uInt>(part.deflated.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int result = inflate(&z, Z_FINISH);
  uint64_t total = z.total_out;
  inflateEnd(&z);
  return result == Z_STREAM_END ? total : 0;
}

// Process CPU time: the figures should not depend on what else the machine runs.
struct Clock {
  using time_point = std::clock_t;
  static std::clock_t now() { return std::clock(); }
};
double secondsBetween(std::clock_t a, std::clock_t b) {
  return static_cast<double>(b - a) / CLOCKS_PER_SEC;
}

void lzxEncode(benchmark::State& state, Part* part) {
  double seconds = 0;
  for (auto _ : state) {
    encodePart(*part);
    seconds += part->encodeSeconds;
  }
  const double megabytes = static_cast<double>(part->data.size()) * state.iterations() / 1e6;
  state.counters["encode_MBps"] = megabytes / seconds;
  state.counters["lzx_bytes"] = static_cast<double>(part->lzxBytes);
  state.counters["gzip9_bytes"] = static_cast<double>(part->gzipBytes);
  state.counters["size_vs_gzip9"] = static_cast<double>(part->lzxBytes) / static_cast<double>(part->gzipBytes);
}

void lzxVersusInflate(benchmark::State& state, Part* part) {
  if (part->blocks.empty()) encodePart(*part);
  uint32_t limit = FrameBytes, need = 0;
  void* handle = nullptr;
  lzx::create(&limit, 1u << WindowBits, allocate, release, &need, &handle);
  std::vector<uint8_t> out(part->data.size());
  if (decodeLzx(*part, handle, out) != part->data.size() || out != part->data ||
      inflateAll(*part, out) != part->data.size()) {
    state.SkipWithError("decoding failed");
  }
  double lzxSeconds = 0, zlibSeconds = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    benchmark::DoNotOptimize(decodeLzx(*part, handle, out));
    auto t1 = Clock::now();
    benchmark::DoNotOptimize(inflateAll(*part, out));
    auto t2 = Clock::now();
    lzxSeconds += secondsBetween(t0, t1);
    zlibSeconds += secondsBetween(t1, t2);
  }
  const double megabytes = static_cast<double>(part->data.size()) * state.iterations() / 1e6;
  state.counters["lzx_MBps"] = megabytes / lzxSeconds;
  state.counters["inflate_MBps"] = megabytes / zlibSeconds;
  state.counters["speed_ratio"] = zlibSeconds / lzxSeconds;
  lzx::destroy(handle);
}

}  // namespace

int main(int argc, char** argv) {
  const char* fromEnvironment = std::getenv("BENCH_CORPUS");
  const fs::path corpus = fromEnvironment != nullptr
                              ? fs::path(fromEnvironment)
                              : fs::path(__FILE__).parent_path().parent_path() / "corpus";
  benchmark::Initialize(&argc, argv);
  static std::vector<Part> parts;
  Part whole;
  whole.name = "whole";
  for (const char* name : {"pe", "text", "media"}) {
    if (!fs::is_directory(corpus / name)) continue;
    Part part;
    part.name = name;
    part.data = readPart(corpus / name);
    whole.data.insert(whole.data.end(), part.data.begin(), part.data.end());
    parts.push_back(std::move(part));
  }
  if (parts.empty()) {
    std::printf("no benchmark corpus at %s (set BENCH_CORPUS); nothing to measure\n", corpus.c_str());
    return 0;
  }
  parts.push_back(std::move(whole));
  for (Part& part : parts) {
    part.deflated = deflateAll(part.data, -15);
    part.gzipBytes = deflateAll(part.data, 31).size();
  }
  for (Part& part : parts) {
    benchmark::RegisterBenchmark(("LzxEncode/" + part.name).c_str(), lzxEncode, &part)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("LzxVersusInflate/" + part.name).c_str(), lzxVersusInflate, &part)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
