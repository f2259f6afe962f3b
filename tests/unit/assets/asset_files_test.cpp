// The committed installer assets, read the way the Windows animation control and icon
// loader read them: the RIFF structure and header values of the clip, every RLE8 frame
// decoded to exactly 272 x 60 pixels of the 16 colours, the index pointing at the frames,
// and the icon directory with its two 16-colour images.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const std::string AssetDir = std::string(TEST_DATA_DIR) + "/../../../src/ui/assets/";

Bytes readAsset(const std::string& name) {
  std::ifstream in(AssetDir + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
std::string fourcc(const Bytes& b, size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

struct Chunk {
  std::string id;    // chunk id, or the list type for LIST/RIFF
  size_t dataAt;     // first byte of the data (after the list type for lists)
  size_t dataBytes;  // bytes of data (without the list type)
  size_t headerAt;   // where the chunk's id stands
};

// The chunks inside [begin, end), each padded to an even size.
std::vector<Chunk> chunksIn(const Bytes& b, size_t begin, size_t end) {
  std::vector<Chunk> chunks;
  size_t at = begin;
  while (at + 8 <= end) {
    std::string id = fourcc(b, at);
    size_t bytes = le32(b, at + 4);
    if (at + 8 + bytes > end) {
      ADD_FAILURE() << "chunk " << id << " at " << at << " runs past its parent";
      break;
    }
    if (id == "LIST" || id == "RIFF")
      chunks.push_back({fourcc(b, at + 8), at + 12, bytes - 4, at});
    else
      chunks.push_back({id, at + 8, bytes, at});
    at += 8 + bytes + (bytes & 1);
  }
  EXPECT_EQ(at, end) << "chunks do not fill their parent";
  return chunks;
}

std::optional<Chunk> find(const std::vector<Chunk>& chunks, const std::string& id) {
  for (const Chunk& c : chunks)
    if (c.id == id) return c;
  return std::nullopt;
}

// BI_RLE8 decoder (bottom-up rows): count+colour runs, 0 0 end of line, 0 1 end of
// bitmap, 0 2 dx dy delta, 0 n absolute run padded to 2 bytes. Rows as top-down pixels;
// empty on any malformed code.
std::vector<Bytes> decodeRle8(const Bytes& b, size_t at, size_t bytes, int width, int height) {
  std::vector<Bytes> rows(height, Bytes(width, 0xFF));
  size_t end = at + bytes;
  int x = 0, y = 0;  // y counts rows from the bottom
  while (at + 2 <= end) {
    uint8_t count = b[at], value = b[at + 1];
    at += 2;
    if (count > 0) {
      if (x + count > width || y >= height) return {};
      for (int i = 0; i < count; ++i) rows[height - 1 - y][x++] = value;
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return at == end ? rows : std::vector<Bytes>{};
    } else if (value == 2) {
      if (at + 2 > end) return {};
      x += b[at];
      y += b[at + 1];
      at += 2;
    } else {
      if (x + value > width || y >= height || at + value > end) return {};
      for (int i = 0; i < value; ++i) rows[height - 1 - y][x++] = b[at + i];
      at += value + (value & 1);
    }
  }
  return {};  // no end of bitmap
}

TEST(AnimationClip, IsAPlayableRle8Avi) {
  const Bytes avi = readAsset("progress.avi");
  ASSERT_GT(avi.size(), 12u) << "missing " << AssetDir << "progress.avi";
  ASSERT_EQ(fourcc(avi, 0), "RIFF");
  ASSERT_EQ(fourcc(avi, 8), "AVI ");
  ASSERT_EQ(le32(avi, 4) + 8, avi.size());
  const std::vector<Chunk> top = chunksIn(avi, 12, avi.size());
  const auto hdrl = find(top, "hdrl"), movi = find(top, "movi"), idx1 = find(top, "idx1");
  ASSERT_TRUE(hdrl && movi && idx1);

  const std::vector<Chunk> header = chunksIn(avi, hdrl->dataAt, hdrl->dataAt + hdrl->dataBytes);
  const auto avih = find(header, "avih");
  ASSERT_TRUE(avih);
  ASSERT_EQ(avih->dataBytes, 56u);
  // avih fields: microseconds per frame, max bytes/s, padding, flags, total frames,
  // initial frames, streams, suggested buffer, width, height.
  EXPECT_EQ(le32(avi, avih->dataAt + 0), 100000u);  // 10 frames per second
  EXPECT_EQ(le32(avi, avih->dataAt + 16), 26u);
  EXPECT_EQ(le32(avi, avih->dataAt + 24), 1u);
  EXPECT_EQ(le32(avi, avih->dataAt + 32), 272u);
  EXPECT_EQ(le32(avi, avih->dataAt + 36), 60u);
  const uint32_t suggestedBuffer = le32(avi, avih->dataAt + 28);

  const auto strl = find(header, "strl");
  ASSERT_TRUE(strl);
  const std::vector<Chunk> stream = chunksIn(avi, strl->dataAt, strl->dataAt + strl->dataBytes);
  const auto strh = find(stream, "strh"), strf = find(stream, "strf");
  ASSERT_TRUE(strh && strf);
  EXPECT_EQ(fourcc(avi, strh->dataAt), "vids");
  // strh: scale at 20, rate at 24, length at 32.
  EXPECT_EQ(le32(avi, strh->dataAt + 24) / le32(avi, strh->dataAt + 20), 10u);
  EXPECT_EQ(le32(avi, strh->dataAt + 32), 26u);
  // strf: BITMAPINFOHEADER then the palette.
  ASSERT_GE(strf->dataBytes, 40u + 16 * 4);
  EXPECT_EQ(le32(avi, strf->dataAt + 0), 40u);
  EXPECT_EQ(le32(avi, strf->dataAt + 4), 272u);
  EXPECT_EQ(le32(avi, strf->dataAt + 8), 60u);  // positive: rows stored bottom-up
  EXPECT_EQ(le16(avi, strf->dataAt + 12), 1);
  EXPECT_EQ(le16(avi, strf->dataAt + 14), 8);
  EXPECT_EQ(le32(avi, strf->dataAt + 16), 1u);  // BI_RLE8
  EXPECT_EQ(le32(avi, strf->dataAt + 32), 16u);  // colours used

  // Frames: 26 key frames, each found through the index and decoding to a full picture.
  const std::vector<Chunk> frames = chunksIn(avi, movi->dataAt, movi->dataAt + movi->dataBytes);
  ASSERT_EQ(frames.size(), 26u);
  ASSERT_EQ(idx1->dataBytes, 26u * 16);
  const size_t moviType = movi->dataAt - 4;  // index offsets count from the list type
  std::vector<std::vector<Bytes>> pictures;
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    const size_t entry = idx1->dataAt + 16 * i;
    EXPECT_EQ(fourcc(avi, entry), "00dc");
    EXPECT_EQ(le32(avi, entry + 4) & 0x10, 0x10u);  // key frame
    EXPECT_EQ(moviType + le32(avi, entry + 8), frames[i].headerAt);
    EXPECT_EQ(le32(avi, entry + 12), frames[i].dataBytes);
    EXPECT_EQ(frames[i].id, "00dc");
    EXPECT_LE(frames[i].dataBytes, suggestedBuffer);
    std::vector<Bytes> rows = decodeRle8(avi, frames[i].dataAt, frames[i].dataBytes, 272, 60);
    ASSERT_EQ(rows.size(), 60u) << "malformed RLE8 data";
    for (const Bytes& row : rows)
      for (uint8_t index : row) ASSERT_LT(index, 16) << "pixel left unset or beyond the palette";
    // The control takes the first pixel's colour as the transparent one.
    EXPECT_EQ(rows[0][0], 0);
    pictures.push_back(rows);
  }
  // The picture moves from frame to frame.
  for (size_t i = 1; i < pictures.size(); ++i) EXPECT_NE(pictures[i], pictures[i - 1]) << i;
}

TEST(InstallerIcon, HoldsA32And16PixelImageOf16Colours) {
  const Bytes ico = readAsset("installer.ico");
  ASSERT_GE(ico.size(), 6u) << "missing " << AssetDir << "installer.ico";
  EXPECT_EQ(le16(ico, 0), 0);
  EXPECT_EQ(le16(ico, 2), 1);  // icon, not cursor
  ASSERT_EQ(le16(ico, 4), 2);
  const int sizes[] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE("image " + std::to_string(i));
    const size_t entry = 6 + 16 * i;
    const int size = sizes[i];
    EXPECT_EQ(ico[entry], size);
    EXPECT_EQ(ico[entry + 1], size);
    EXPECT_EQ(ico[entry + 2], 16);          // colours
    EXPECT_EQ(le16(ico, entry + 6), 4);     // bits per pixel
    const size_t bytes = le32(ico, entry + 8), at = le32(ico, entry + 12);
    ASSERT_LE(at + bytes, ico.size());
    // BITMAPINFOHEADER: height counts the colour and the mask halves.
    EXPECT_EQ(le32(ico, at + 4), static_cast<uint32_t>(size));
    EXPECT_EQ(le32(ico, at + 8), static_cast<uint32_t>(2 * size));
    EXPECT_EQ(le16(ico, at + 14), 4);
    // Header, 16 palette entries, 4-bit rows and 1-bit mask rows, each padded to 4 bytes.
    const size_t colourRow = (size * 4 + 31) / 32 * 4, maskRow = (size + 31) / 32 * 4;
    EXPECT_EQ(bytes, 40 + 16 * 4 + size * (colourRow + maskRow));
  }
}

}  // namespace
