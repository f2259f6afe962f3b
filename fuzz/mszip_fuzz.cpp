// Feeds arbitrary blocks to the MSZIP decompressor through one persistent 32768-byte output
// buffer, the history window, as the cabinet reader does.
//
// Input: byte 0 picks the mode (value % 4):
//   0     blocks: repeated wanted size (2 bytes, little-endian; 0 means 32768), block size
//         (2 bytes), the block's bytes. Checks that nothing beyond the output limit changes.
//   1     wanted size (2 bytes), then one block: decoded with that limit and without it from
//         the same history, the limited output must be a prefix of the full one whenever
//         the full decoding succeeds (the limit moves work from the fast path to the
//         careful one).
//   2     the rest is one deflate stream: whenever zlib's inflate, given the buffer as its
//         preset dictionary, finishes it within 32768 bytes, the decoder must agree.
//   3     the rest is compressed by the MSZIP compressor and must come back unchanged.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabinet/mszip.h"
#include "pack/compressor.h"

namespace {

void* allocate(int32_t bytes) { return std::malloc(static_cast<size_t>(bytes)); }
void release(void* block) { std::free(block); }

constexpr uint32_t BufferBytes = 32768;

struct Decoder {
  Decoder() {
    uint32_t limit = 0;
    if (mszip::create(&limit, allocate, release, &need, &handle) != cab::Ok) abort();
    buffer.resize(BufferBytes);
  }
  void* handle = nullptr;
  uint32_t need = 0;
  std::vector<uint8_t> buffer;  // kept between inputs: whatever history earlier inputs left
};

Decoder& decoder() {
  static Decoder d;
  return d;
}

// Copies the block into an allocation of its own size so that over-reads are caught.
cab::DecoderResult decode(const uint8_t* data, size_t size, uint32_t& produced) {
  std::vector<uint8_t> block(data, data + size);
  return mszip::decompress(decoder().handle, block.data(), static_cast<uint32_t>(size),
                           decoder().buffer.data(), &produced);
}

void blocks(const uint8_t* data, size_t size) {
  std::vector<uint8_t> before;
  while (size >= 4) {
    uint32_t wanted = data[0] | data[1] << 8;
    if (wanted == 0 || wanted > BufferBytes) wanted = BufferBytes;
    size_t blockBytes = std::min<size_t>(data[2] | data[3] << 8, size - 4);
    blockBytes = std::min<size_t>(blockBytes, decoder().need);
    data += 4;
    size -= 4;
    before = decoder().buffer;
    uint32_t produced = wanted;
    const cab::DecoderResult result = decode(data, blockBytes, produced);
    if (result != cab::Ok && result != cab::DataError) abort();
    if (result == cab::Ok && produced > wanted) abort();
    if (result != cab::Ok && produced != wanted) abort();
    const uint32_t untouchedFrom = result == cab::Ok ? produced : wanted;
    if (!std::equal(before.begin() + untouchedFrom, before.end(),
                    decoder().buffer.begin() + untouchedFrom)) {
      abort();
    }
    data += blockBytes;
    size -= blockBytes;
  }
}

void limitedAgainstFull(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const uint32_t wanted = (data[0] | data[1] << 8) % (BufferBytes + 1);
  data += 2;
  size = std::min<size_t>(size - 2, decoder().need);
  const std::vector<uint8_t> history = decoder().buffer;
  uint32_t fullBytes = BufferBytes;
  const cab::DecoderResult full = decode(data, size, fullBytes);
  const std::vector<uint8_t> fullOutput = decoder().buffer;
  decoder().buffer = history;
  uint32_t limitedBytes = wanted;
  const cab::DecoderResult limited = decode(data, size, limitedBytes);
  if (full != cab::Ok) return;
  if (limited != cab::Ok || limitedBytes != std::min(wanted, fullBytes)) abort();
  if (!std::equal(decoder().buffer.begin(), decoder().buffer.begin() + limitedBytes, fullOutput.begin())) abort();
}

void againstInflate(const uint8_t* data, size_t size) {
  if (size + 2 > decoder().need) return;
  std::vector<uint8_t> expected(BufferBytes + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) abort();
  inflateSetDictionary(&z, decoder().buffer.data(), BufferBytes);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = expected.data();
  z.avail_out = static_cast<uInt>(expected.size());
  const int result = inflate(&z, Z_FINISH);
  const size_t expectedBytes = z.total_out;
  inflateEnd(&z);

  std::vector<uint8_t> block = {'C', 'K'};
  block.insert(block.end(), data, data + size);
  uint32_t produced = BufferBytes;
  const cab::DecoderResult ours = decode(block.data(), block.size(), produced);
  if (result != Z_STREAM_END || expectedBytes > BufferBytes) return;
  if (ours != cab::Ok || produced != expectedBytes) abort();
  if (!std::equal(expected.begin(), expected.begin() + expectedBytes, decoder().buffer.begin())) abort();
}

void roundTrip(const uint8_t* data, size_t size) {
  if (size == 0) return;
  auto compressor = pack::makeMszipCompressor(1 + data[0] % 9);
  for (size_t offset = 0; offset < size; offset += BufferBytes) {
    const size_t count = std::min<size_t>(BufferBytes, size - offset);
    std::vector<uint8_t> block;
    compressor->compressBlock({data + offset, count}, offset + count == size, block);
    if (block.size() > decoder().need) abort();
    uint32_t produced = BufferBytes;
    if (decode(block.data(), block.size(), produced) != cab::Ok || produced != count) abort();
    if (!std::equal(data + offset, data + offset + count, decoder().buffer.begin())) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  switch (data[0] % 4) {
    case 0: blocks(data + 1, size - 1); break;
    case 1: limitedAgainstFull(data + 1, size - 1); break;
    case 2: againstInflate(data + 1, size - 1); break;
    default: roundTrip(data + 1, size - 1); break;
  }
  return 0;
}
