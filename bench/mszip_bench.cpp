// MSZIP decoding speed against zlib's inflate of the very same deflate data.
//
// Every file of each part of the benchmark corpus (pe, text, media) is compressed as one
// folder by the MSZIP compressor at level 9. Both decoders then expand all its blocks:
// ours into one 32768-byte buffer that is its history, zlib block by block with the
// previous block's output as its preset dictionary, as a zlib-based reader has to.
// The corpus directory comes from BENCH_CORPUS (default: corpus/ beside bench/); without
// it the program reports nothing and exits successfully.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "cabinet/mszip.h"
#include "pack/compressor.h"

namespace {

namespace fs = benchcorpus::fs;
using Clock = benchcorpus::WallClock;

constexpr uint32_t BlockBytes = 32768;

struct Folder {
  std::vector<std::vector<uint8_t>> blocks;  // "CK" + deflate data each
  std::vector<uint32_t> blockSizes;          // uncompressed
};

struct Part {
  std::string name;
  std::vector<Folder> folders;
  uint64_t rawBytes = 0;
  uint64_t packedBytes = 0;
};

Part loadPart(const fs::path& dir) {
  Part part;
  part.name = dir.filename().string();
  for (const auto& file : benchcorpus::sortedFiles(dir)) {
    const std::vector<uint8_t> data = benchcorpus::readFile(file);
    if (data.empty()) continue;
    auto compressor = pack::makeMszipCompressor(9);
    Folder folder;
    for (size_t at = 0; at < data.size(); at += BlockBytes) {
      const size_t count = std::min<size_t>(BlockBytes, data.size() - at);
      std::vector<uint8_t> block;
      compressor->compressBlock({data.data() + at, count}, at + count == data.size(), block);
      part.packedBytes += block.size();
      folder.blocks.push_back(std::move(block));
      folder.blockSizes.push_back(static_cast<uint32_t>(count));
    }
    part.rawBytes += data.size();
    part.folders.push_back(std::move(folder));
  }
  return part;
}

// Expands every block of the part; returns the bytes produced (0 on a failure).
uint64_t decodeMszip(const Part& part, void* handle, std::vector<uint8_t>& buffer) {
  uint64_t total = 0;
  for (const Folder& folder : part.folders) {
    mszip::reset(handle);
    for (const auto& block : folder.blocks) {
      uint32_t produced = BlockBytes;
      if (mszip::decompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                            buffer.data(), &produced) != cab::Ok) {
        return 0;
      }
      total += produced;
    }
  }
  return total;
}

uint64_t decodeZlib(const Part& part, z_stream& z, std::vector<uint8_t> (&buffers)[2]) {
  uint64_t total = 0;
  for (const Folder& folder : part.folders) {
    for (size_t i = 0; i < folder.blocks.size(); ++i) {
      std::vector<uint8_t>& out = buffers[i & 1];
      inflateReset(&z);
      if (i > 0) inflateSetDictionary(&z, buffers[(i - 1) & 1].data(), BlockBytes);
      const auto& block = folder.blocks[i];
      z.next_in = const_cast<Bytef*>(block.data() + 2);
      z.avail_in = static_cast<uInt>(block.size() - 2);
      z.next_out = out.data();
      z.avail_out = BlockBytes;
      if (inflate(&z, Z_FINISH) != Z_STREAM_END) return 0;
      total += BlockBytes - z.avail_out;
    }
  }
  return total;
}

// One run times both decoders over the same blocks, alternating, and reports their ratio.
void mszipVersusInflate(benchmark::State& state, const Part* part) {
  uint32_t limit = 0, need = 0;
  void* handle = nullptr;
  mszip::create(&limit, benchcorpus::allocate, benchcorpus::release, &need, &handle);
  std::vector<uint8_t> buffer(BlockBytes);
  z_stream z{};
  inflateInit2(&z, -15);
  std::vector<uint8_t> zlibBuffers[2] = {std::vector<uint8_t>(BlockBytes), std::vector<uint8_t>(BlockBytes)};

  if (decodeMszip(*part, handle, buffer) != part->rawBytes || decodeZlib(*part, z, zlibBuffers) != part->rawBytes) {
    state.SkipWithError("decoding failed");
  }
  benchcorpus::timeAgainstInflate<Clock>(
      state, part->rawBytes, "mszip_MBps", [&] { return decodeMszip(*part, handle, buffer); },
      [&] { return decodeZlib(*part, z, zlibBuffers); });
  state.counters["packed_pct"] = 100.0 * static_cast<double>(part->packedBytes) / static_cast<double>(part->rawBytes);
  inflateEnd(&z);
  mszip::destroy(handle);
}

// MSZIP alone, for profiling and a plain throughput figure.
void mszipOnly(benchmark::State& state, const Part* part) {
  uint32_t limit = 0, need = 0;
  void* handle = nullptr;
  mszip::create(&limit, benchcorpus::allocate, benchcorpus::release, &need, &handle);
  std::vector<uint8_t> buffer(BlockBytes);
  for (auto _ : state) benchmark::DoNotOptimize(decodeMszip(*part, handle, buffer));
  state.SetBytesProcessed(static_cast<int64_t>(part->rawBytes) * state.iterations());
  mszip::destroy(handle);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path corpus = benchcorpus::corpusDirectory();
  benchmark::Initialize(&argc, argv);
  static std::vector<Part> parts;
  for (const fs::path& directory : benchcorpus::partDirectories(corpus)) {
    parts.push_back(loadPart(directory));
  }
  if (parts.empty()) {
    benchcorpus::reportNoCorpus(corpus);
    return 0;
  }
  for (const Part& part : parts) {
    benchmark::RegisterBenchmark(("MszipVersusInflate/" + part.name).c_str(), mszipVersusInflate, &part)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    benchmark::RegisterBenchmark(("MszipDecode/" + part.name).c_str(), mszipOnly, &part)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
