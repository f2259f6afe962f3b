// Quantum figures on the benchmark corpus, each part (pe, text, media) and the whole corpus
// taken as one folder of 32768-byte data blocks, window 2^21:
//   QuantumEncode/<part>:         compressor throughput, and the packed size against gzip -9's
//                                 (zlib's deflate at level 9 in a gzip wrapper) on the same bytes;
//   QuantumVersusInflate/<part>:  decoding throughput against zlib's inflate of the same bytes'
//                                 deflate form (level 9, one stream), timed alternately in one run.
// Times are elapsed time. The corpus directory comes from BENCH_CORPUS (default: corpus/ beside
// bench/); without it the program reports nothing and exits successfully.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_corpus.h"
#include "cabinet/quantum.h"
#include "pack/compressor.h"

namespace {

using benchcorpus::FolderPart;
using Clock = benchcorpus::WallClock;

constexpr int WindowBits = 21;
constexpr uint32_t BlockBytes = 32768;
constexpr int DeflateMemLevel = 8;

auto makeCompressor() { return pack::makeQuantumCompressor(WindowBits); }

uint64_t decodeQuantum(const FolderPart& part, void* handle, std::vector<uint8_t>& out) {
  return benchcorpus::decodePart(part, BlockBytes, handle, quantum::reset, quantum::decompress,
                                 out);
}

void quantumEncode(benchmark::State& state, FolderPart* part) {
  benchcorpus::measureEncode<Clock>(state, *part, BlockBytes, makeCompressor, "quantum_bytes");
}

void quantumVersusInflate(benchmark::State& state, FolderPart* part) {
  if (part->blocks.empty()) benchcorpus::encodePart<Clock>(*part, BlockBytes, makeCompressor);
  uint32_t limit = BlockBytes, need = 0;
  void* handle = nullptr;
  if (quantum::create(&limit, WindowBits, benchcorpus::allocate, benchcorpus::release, &need,
                      &handle) != cab::Ok) {
    state.SkipWithError("no decoder");
    return;
  }
  std::vector<uint8_t> out(part->data.size());
  if (decodeQuantum(*part, handle, out) != part->data.size() || out != part->data ||
      benchcorpus::inflateRaw(part->deflated, out) != part->data.size()) {
    state.SkipWithError("decoding failed");
  }
  benchcorpus::timeAgainstInflate<Clock>(
      state, part->data.size(), "quantum_MBps", [&] { return decodeQuantum(*part, handle, out); },
      [&] { return benchcorpus::inflateRaw(part->deflated, out); });
  quantum::destroy(handle);
}

}  // namespace

int main(int argc, char** argv) {
  return benchcorpus::runEncodeAndDecode(argc, argv, "Quantum", DeflateMemLevel, quantumEncode,
                                         quantumVersusInflate);
}
