// LZX figures on the benchmark corpus, each part (pe, text, media) and the whole corpus taken
// as one folder of 32768-byte data blocks, window 2^21:
//   LzxEncode/<part>:         encoder throughput, and the packed size against gzip -9's
//                             (zlib's deflate at level 9 in a gzip wrapper) on the same bytes;
//   LzxVersusInflate/<part>:  decoding throughput against zlib's inflate of the same data's
//                             deflate form (level 9, one stream), timed alternately in one run.
// Times are process CPU time. The corpus directory comes from BENCH_CORPUS (default: corpus/
// beside bench/); without it the program reports nothing and exits successfully.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_corpus.h"
#include "cabinet/lzx.h"
#include "cabinet/lzx_constants.h"
#include "pack/compressor.h"

namespace {

using benchcorpus::FolderPart;
using Clock = benchcorpus::CpuClock;

constexpr int WindowBits = 21;
constexpr uint32_t FrameBytes = lzx::FrameBytes;
constexpr int DeflateMemLevel = 9;

auto makeCompressor() { return pack::makeLzxCompressor(WindowBits); }

uint64_t decodeLzx(const FolderPart& part, void* handle, std::vector<uint8_t>& out) {
  return benchcorpus::decodePart(part, FrameBytes, handle, lzx::reset, lzx::decompress, out);
}

void lzxEncode(benchmark::State& state, FolderPart* part) {
  benchcorpus::measureEncode<Clock>(state, *part, FrameBytes, makeCompressor, "lzx_bytes");
}

void lzxVersusInflate(benchmark::State& state, FolderPart* part) {
  if (part->blocks.empty()) benchcorpus::encodePart<Clock>(*part, FrameBytes, makeCompressor);
  uint32_t limit = FrameBytes, need = 0;
  void* handle = nullptr;
  if (lzx::create(&limit, 1u << WindowBits, benchcorpus::allocate, benchcorpus::release, &need,
                  &handle) != cab::Ok) {
    state.SkipWithError("no decoder");
    return;
  }
  std::vector<uint8_t> out(part->data.size());
  if (decodeLzx(*part, handle, out) != part->data.size() || out != part->data ||
      benchcorpus::inflateRaw(part->deflated, out) != part->data.size()) {
    state.SkipWithError("decoding failed");
  }
  benchcorpus::timeAgainstInflate<Clock>(
      state, part->data.size(), "lzx_MBps", [&] { return decodeLzx(*part, handle, out); },
      [&] { return benchcorpus::inflateRaw(part->deflated, out); });
  lzx::destroy(handle);
}

}  // namespace

int main(int argc, char** argv) {
  return benchcorpus::runEncodeAndDecode(argc, argv, "Lzx", DeflateMemLevel, lzxEncode,
                                         lzxVersusInflate);
}
