// Quantum figures on the benchmark corpus, each part (pe, text, media) and the whole corpus
// taken as one folder of 32768-byte data blocks, window 2^21:
//   QuantumEncode/<part>:         compressor throughput, and the packed size against gzip -9's
//                                 (zlib's deflate at level 9 in a gzip wrapper) on the same bytes;
//   QuantumVersusInflate/<part>:  decoding throughput against zlib's inflate of the same bytes'
//                                 deflate form (level 9, one stream), timed alternately in one run.
// The corpus directory comes from BENCH_CORPUS (default: corpus/ beside bench/); without it the
// program reports nothing and exits successfully.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cabinet/quantum.h"
#include "pack/compressor.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int WindowBits = 21;
constexpr uint32_t BlockBytes = 32768;

struct Part {
  std::string name;
  std::vector<uint8_t> data;                 // the folder's bytes
  std::vector<std::vector<uint8_t>> blocks;  // its Quantum data blocks
  std::vector<uint8_t> deflated;             // raw deflate, level 9
  uint64_t quantumBytes = 0;
  uint64_t gzipBytes = 0;
  double encodeSeconds = 0;
};

void* allocate(int32_t bytes) { return std::malloc(static_cast<size_t>(bytes)); }
void release(void* block) { std::free(block); }

std::vector<uint8_t> readPart(const fs::path& directory) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<uint8_t> data;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    data.insert(data.end(), std::istreambuf_iterator<char>(in), {});
  }
  return data;
}

// Deflate at level 9; zlibWindowBits -15 gives raw deflate, 31 a gzip stream.
std::vector<uint8_t> deflateAll(const std::vector<uint8_t>& data, int zlibWindowBits) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, zlibWindowBits, 8, Z_DEFAULT_STRATEGY);
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

uint64_t inflateAll(const Part& part, std::vector<uint8_t>& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(part.deflated.data());
  z.avail_in = static_cast<uInt>(part.deflated.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = inflate(&z, Z_FINISH);
  const uint64_t total = z.total_out;
  inflateEnd(&z);
  return result == Z_STREAM_END ? total : 0;
}

void encodePart(Part& part) {
  const auto start = Clock::now();
  auto compressor = pack::makeQuantumCompressor(WindowBits);
  part.blocks.clear();
  part.quantumBytes = 0;
  for (size_t at = 0; at < part.data.size(); at += BlockBytes) {
    const size_t count = std::min<size_t>(BlockBytes, part.data.size() - at);
    part.blocks.emplace_back();
    compressor->compressBlock({part.data.data() + at, count}, at + count == part.data.size(),
                              part.blocks.back());
    part.quantumBytes += part.blocks.back().size();
  }
  part.encodeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
}

// Expands the part's blocks as one folder into `out`; returns the bytes produced (0 on failure).
uint64_t decodeQuantum(const Part& part, void* handle, std::vector<uint8_t>& out) {
  quantum::reset(handle);
  uint64_t total = 0;
  for (const auto& block : part.blocks) {
    uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(BlockBytes, part.data.size() - total));
    if (quantum::decompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                            out.data() + total, &wanted) != cab::Ok) {
      return 0;
    }
    total += wanted;
  }
  return total;
}

void quantumEncode(benchmark::State& state, Part* part) {
  double seconds = 0;
  for (auto _ : state) {
    encodePart(*part);
    seconds += part->encodeSeconds;
  }
  const double megabytes = static_cast<double>(part->data.size()) * state.iterations() / 1e6;
  state.counters["encode_MBps"] = megabytes / seconds;
  state.counters["quantum_bytes"] = static_cast<double>(part->quantumBytes);
  state.counters["gzip9_bytes"] = static_cast<double>(part->gzipBytes);
  state.counters["size_vs_gzip9"] =
      static_cast<double>(part->quantumBytes) / static_cast<double>(part->gzipBytes);
}

void quantumVersusInflate(benchmark::State& state, Part* part) {
  if (part->blocks.empty()) encodePart(*part);
  uint32_t limit = BlockBytes, need = 0;
  void* handle = nullptr;
  if (quantum::create(&limit, WindowBits, allocate, release, &need, &handle) != cab::Ok) {
    state.SkipWithError("no decoder");
    return;
  }
  std::vector<uint8_t> out(part->data.size());
  if (decodeQuantum(*part, handle, out) != part->data.size() || out != part->data ||
      inflateAll(*part, out) != part->data.size()) {
    state.SkipWithError("decoding failed");
  }
  double quantumSeconds = 0, zlibSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(decodeQuantum(*part, handle, out));
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(inflateAll(*part, out));
    const auto t2 = Clock::now();
    quantumSeconds += std::chrono::duration<double>(t1 - t0).count();
    zlibSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double megabytes = static_cast<double>(part->data.size()) * state.iterations() / 1e6;
  state.counters["quantum_MBps"] = megabytes / quantumSeconds;
  state.counters["inflate_MBps"] = megabytes / zlibSeconds;
  state.counters["speed_ratio"] = zlibSeconds / quantumSeconds;
  quantum::destroy(handle);
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
    benchmark::RegisterBenchmark(("QuantumEncode/" + part.name).c_str(), quantumEncode, &part)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("QuantumVersusInflate/" + part.name).c_str(), quantumVersusInflate, &part)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
