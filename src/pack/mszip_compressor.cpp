// MSZIP compressor: each data block is "CK" and a complete raw deflate stream made by zlib,
// ending with a final deflate block. The decoder keeps its history in its 32768-byte output
// buffer, so a block may refer back into that buffer as the previous blocks left it: the
// compressor keeps the same image and hands it to zlib as the preset dictionary.
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "pack/compressor.h"

namespace pack {
namespace {

constexpr uint32_t HistoryBytes = 32768;
constexpr int RawDeflateWindowBits = -15;  // negative: no zlib header or trailer
constexpr int MemoryLevel = 8;
constexpr uint8_t Signature[2] = {'C', 'K'};
// A stored deflate block: header byte (BFINAL = 1, BTYPE = 0), LEN and NLEN.
constexpr uint32_t StoredHeaderBytes = 5;

class MszipCompressor final : public FolderCompressor {
 public:
  explicit MszipCompressor(int level) : level_(level) {
    std::memset(&stream_, 0, sizeof stream_);
    ready_ = deflateInit2(&stream_, level_, Z_DEFLATED, RawDeflateWindowBits, MemoryLevel,
                          Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~MszipCompressor() override {
    if (ready_) deflateEnd(&stream_);
  }
  MszipCompressor(const MszipCompressor&) = delete;
  MszipCompressor& operator=(const MszipCompressor&) = delete;

  uint16_t compressionWord() const override { return static_cast<uint16_t>(Method::Mszip); }

  void compressBlock(std::span<const uint8_t> block, bool /*lastBlock*/,
                     std::vector<uint8_t>& out) override {
    const size_t start = out.size();
    out.insert(out.end(), Signature, Signature + 2);
    if (!deflateBlock(block, out)) {
      out.resize(start + 2);
      appendStored(block, out);
    }
    // The decoder's buffer after this block: its bytes at the start, older ones above.
    std::copy(block.begin(), block.end(), history_);
    historyKnownBytes_ = std::max<uint32_t>(historyKnownBytes_, static_cast<uint32_t>(block.size()));
  }

 private:
  // Appends zlib's deflate stream for `block`; false when zlib fails or when stored
  // blocks would be smaller.
  bool deflateBlock(std::span<const uint8_t> block, std::vector<uint8_t>& out) {
    if (!ready_ || deflateReset(&stream_) != Z_OK) return false;
    // Only a completely known buffer can serve as history: the dictionary's last byte
    // must be the one just before the block.
    if (historyKnownBytes_ == HistoryBytes &&
        deflateSetDictionary(&stream_, history_, HistoryBytes) != Z_OK) {
      return false;
    }
    const size_t start = out.size();
    const uLong limit = static_cast<uLong>(block.size()) + StoredHeaderBytes;
    out.resize(start + deflateBound(&stream_, static_cast<uLong>(block.size())) + 16);
    stream_.next_in = const_cast<Bytef*>(block.data());
    stream_.avail_in = static_cast<uInt>(block.size());
    stream_.next_out = out.data() + start;
    stream_.avail_out = static_cast<uInt>(out.size() - start);
    const int result = deflate(&stream_, Z_FINISH);
    if (result != Z_STREAM_END || stream_.total_out > limit) return false;
    out.resize(start + stream_.total_out);
    return true;
  }

  static void appendStored(std::span<const uint8_t> block, std::vector<uint8_t>& out) {
    const auto length = static_cast<uint16_t>(block.size());
    const auto complement = static_cast<uint16_t>(~length);
    const uint8_t header[StoredHeaderBytes] = {
        0x01, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
        static_cast<uint8_t>(complement), static_cast<uint8_t>(complement >> 8)};
    out.insert(out.end(), header, header + StoredHeaderBytes);
    out.insert(out.end(), block.begin(), block.end());
  }

  int level_;
  bool ready_ = false;
  z_stream stream_;
  uint8_t history_[HistoryBytes] = {};
  uint32_t historyKnownBytes_ = 0;
};

}  // namespace

// zlib levels 1 (fastest) to 9 (smallest output, the usual choice).
std::unique_ptr<FolderCompressor> makeMszipCompressor(int level) {
  if (level < 1 || level > 9) return nullptr;
  return std::make_unique<MszipCompressor>(level);
}

}  // namespace pack
