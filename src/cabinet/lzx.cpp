// LZX decompressor.
//
// Bit layout. Each data block is read as 16-bit little-endian words, bits taken from each
// word's most significant end; the bit stream restarts at every data block. The folder is one
// LZX stream of blocks that may span data blocks:
//   [E8 header, first block after reset only: 1 bit; if 1, the translation size as 16 + 16 bits]
//   block type (3 bits: 1 verbatim, 2 aligned offset, 3 uncompressed), block size (24 bits as
//   8 + 8 + 8, most significant first), then by type:
//   verbatim:  main tree lengths 0-255 and 256-end, each run through a pretree of its own,
//              length tree lengths through a third pretree, then the coded symbols;
//   aligned:   8 aligned-offset lengths of 3 bits, then as verbatim;
//   uncompressed: padding up to the next word (a whole word when already aligned), R0, R1, R2
//              as 32-bit little-endian values, the raw bytes, one pad byte after an odd size.
// A pretree is 20 lengths of 4 bits followed by its coded symbols: 0-16 a length as a change
// against the previous block's length, 17/18 runs of zeros, 19 a short run of one length.
// A main symbol below 256 is a literal; above, (symbol - 256) holds the position slot in its
// upper bits and the length header in its low 3 bits, 7 meaning "add a length tree symbol".
#include "cabinet/lzx.h"

#include <algorithm>
#include <cstring>

#include "cabinet/lzx_constants.h"

namespace lzx {

namespace {

constexpr uint32_t Tag = 0x4349444C;  // "LDIC"
constexpr uint32_t BufferSlackBytes = 6144;

// Widths of the direct lookup tables; longer codes continue in node chains.
constexpr int MainTableBits = 10;
constexpr int LengthTableBits = 8;
constexpr int PretreeTableBits = 8;
constexpr int AlignedTableBits = 7;

// Mark a table entry or node child not yet filled while a table is built.
constexpr int32_t UnfilledEntry = INT32_MIN;
constexpr int16_t UnfilledNode = INT16_MIN;

// A table entry: symbol | code length << 16 for codes that fit the table, or -k for a code
// that continues in node k. Keeping the length in the entry saves a dependent load per symbol.
using TableEntry = int32_t;
constexpr int EntryLengthShift = 16;

enum Phase : int32_t { HeaderDue = 1, InBlock = 2 };

struct LzxState {
  uint8_t* window;  // windowBytes + WindowSlackBytes
  uint32_t windowBytes;
  uint32_t windowMask;
  uint32_t r0, r1, r2;
  // Lookup tables (see TableEntry); node k has its children at nodes[2k] (bit 0) and
  // nodes[2k + 1] (bit 1), each a symbol or -j for node j.
  TableEntry mainTable[1 << MainTableBits];
  TableEntry lengthTable[1 << LengthTableBits];
  uint8_t mainLengths[MaxMainSymbols];
  uint8_t lengthLengths[LengthSymbols];
  uint8_t alignedTable[1 << AlignedTableBits];
  uint8_t alignedLengths[AlignedSymbols];
  int16_t mainNodes[2 * MaxMainSymbols + 2];
  int16_t lengthNodes[2 * LengthSymbols + 2];
  TableEntry pretreeTable[1 << PretreeTableBits];
  int16_t pretreeNodes[2 * PretreeSymbols + 2];
  uint8_t pretreeLengths[PretreeSymbols];
  uint8_t previousMainLengths[MaxMainSymbols];
  uint8_t previousLengthLengths[LengthSymbols];
  uint32_t slotCount;
  int32_t e8HeaderPending;
  uint32_t windowPosition;
  uint32_t e8FileSize;
  uint32_t e8Offset;
  uint32_t frameCounter;
  uint32_t blockSize;
  int32_t blockRemaining;
  int32_t blockType;
  int32_t phase;
};

struct LzxDecoder {
  uint32_t tag;
  AllocateFn allocate;
  ReleaseFn release;
  uint32_t blockLimit;
  LzxState* state;
};

// The bit input of one data block. The buffer holds 16 + count valid bits, top-aligned.
// Words are fetched while the input is below `limitBytes`, the block's end plus 4; the 4
// bytes past the end read as zeros rather than touching memory beyond the caller's data.
struct BitInput {
  const uint8_t* data;
  uint32_t position;  // byte offset of the next word
  uint32_t dataBytes;
  uint32_t limitBytes;
  uint32_t buffer;
  int count;
  bool error;

  uint32_t nextWord() {
    uint32_t word;
    if (position + 2 <= dataBytes) {
      word = data[position] | uint32_t{data[position + 1]} << 8;
    } else {
      word = position < dataBytes ? data[position] : 0;
    }
    position += 2;
    return word;
  }

  void start() {
    if (position + 4 <= limitBytes) {
      buffer = nextWord() << 16;
      buffer |= nextWord();
      count = 16;
    } else {
      buffer = 0;
      count = 16;
      error = true;
      position = limitBytes;
    }
  }

  void remove(int bits) {
    buffer <<= bits;
    count -= bits;
    if (count > 0) return;
    // Fast path: both words that may be needed lie inside the data.
    if (position + 4 <= dataBytes) {
      buffer |= (data[position] | uint32_t{data[position + 1]} << 8) << -count;
      position += 2;
      count += 16;
      if (count <= 0) {
        buffer |= (data[position] | uint32_t{data[position + 1]} << 8) << -count;
        position += 2;
        count += 16;
      }
      return;
    }
    for (int fetches = 0; count <= 0 && fetches < 2; ++fetches) {
      if (position >= limitBytes) {
        error = true;
        return;
      }
      buffer |= nextWord() << -count;
      count += 16;
    }
  }

  uint32_t read(int bits) {
    if (bits == 0) return 0;
    uint32_t value = buffer >> (32 - bits);
    remove(bits);
    return value;
  }

  // Decodes one symbol through a table of `tableBits` bits and its node chains.
  uint32_t decode(const TableEntry* table, int tableBits, const int16_t* nodes,
                  const uint8_t* lengths) {
    TableEntry entry = table[buffer >> (32 - tableBits)];
    if (entry >= 0) {
      remove(entry >> EntryLengthShift);
      return static_cast<uint32_t>(entry & 0xFFFF);
    }
    uint32_t mask = 1u << (31 - tableBits);
    int32_t symbol = entry;
    do {
      symbol = nodes[2 * -symbol + ((buffer & mask) ? 1 : 0)];
      mask >>= 1;
    } while (symbol < 0);
    remove(lengths[symbol]);
    return static_cast<uint32_t>(symbol);
  }
};

// Builds a canonical decoding table. Accepts a complete code or all-zero lengths (a table
// that yields symbol 0 without consuming bits); anything else is refused before the table
// is touched.
bool buildTable(const uint8_t* lengths, uint32_t symbolCount, int tableBits, TableEntry* table,
                int16_t* nodes) {
  uint32_t countByLength[MaxCodeBits + 1] = {};
  for (uint32_t s = 0; s < symbolCount; ++s) ++countByLength[lengths[s]];
  const uint32_t tableSize = 1u << tableBits;
  if (countByLength[0] == symbolCount) {
    std::fill(table, table + tableSize, TableEntry{0});
    return true;
  }
  int32_t left = 1;
  for (uint32_t bits = 1; bits <= MaxCodeBits; ++bits) {
    left = 2 * left - static_cast<int32_t>(countByLength[bits]);
    if (left < 0) return false;
  }
  if (left != 0) return false;

  uint32_t nextCode[MaxCodeBits + 1];
  uint32_t code = 0;
  countByLength[0] = 0;
  for (uint32_t bits = 1; bits <= MaxCodeBits; ++bits) {
    code = (code + countByLength[bits - 1]) << 1;
    nextCode[bits] = code;
  }

  std::fill(table, table + tableSize, UnfilledEntry);
  int nodeCount = 0;
  for (uint32_t s = 0; s < symbolCount; ++s) {
    int bits = lengths[s];
    if (bits == 0) continue;
    uint32_t c = nextCode[bits]++;
    if (bits <= tableBits) {
      uint32_t first = c << (tableBits - bits);
      std::fill(table + first, table + first + (1u << (tableBits - bits)),
                static_cast<TableEntry>(s | bits << EntryLengthShift));
      continue;
    }
    TableEntry& root = table[c >> (bits - tableBits)];
    if (root == UnfilledEntry) {
      ++nodeCount;
      nodes[2 * nodeCount] = UnfilledNode;
      nodes[2 * nodeCount + 1] = UnfilledNode;
      root = -nodeCount;
    }
    int16_t* slot = &nodes[2 * -root + ((c >> (bits - tableBits - 1)) & 1)];
    for (int bit = bits - tableBits - 2; bit >= 0; --bit) {
      if (*slot == UnfilledNode) {
        ++nodeCount;
        nodes[2 * nodeCount] = UnfilledNode;
        nodes[2 * nodeCount + 1] = UnfilledNode;
        *slot = static_cast<int16_t>(-nodeCount);
      }
      slot = &nodes[2 * -*slot + ((c >> bit) & 1)];
    }
    *slot = static_cast<int16_t>(s);
  }
  return true;
}

// The aligned-offset table: at most 7-bit codes, so no nodes.
bool buildAlignedTable(LzxState& s) {
  TableEntry table[1 << AlignedTableBits];
  if (!buildTable(s.alignedLengths, AlignedSymbols, AlignedTableBits, table, nullptr)) return false;
  for (uint32_t i = 0; i < (1u << AlignedTableBits); ++i)
    s.alignedTable[i] = static_cast<uint8_t>(table[i] & 0xFFFF);
  return true;
}

// Reads lengths[first .. last-1] through a fresh pretree, as changes against `previous`.
bool readLengths(LzxState& s, BitInput& in, uint8_t* lengths, const uint8_t* previous,
                 uint32_t first, uint32_t last) {
  for (uint32_t i = 0; i < PretreeSymbols; ++i)
    s.pretreeLengths[i] = static_cast<uint8_t>(in.read(PretreeLengthBits));
  if (in.error) return false;
  if (!buildTable(s.pretreeLengths, PretreeSymbols, PretreeTableBits, s.pretreeTable,
                  s.pretreeNodes))
    return false;
  uint32_t i = first;
  while (i < last) {
    uint32_t c = in.decode(s.pretreeTable, PretreeTableBits, s.pretreeNodes, s.pretreeLengths);
    if (in.error) return false;
    if (c <= 16) {
      lengths[i] = static_cast<uint8_t>((previous[i] + 17 - c) % 17);
      ++i;
      continue;
    }
    uint32_t run;
    uint8_t value = 0;
    if (c == PretreeZeros4) {
      run = 4 + in.read(4);
    } else if (c == PretreeZeros20) {
      run = 20 + in.read(5);
    } else {
      run = 4 + in.read(1);
      uint32_t d = in.decode(s.pretreeTable, PretreeTableBits, s.pretreeNodes, s.pretreeLengths);
      if (d > 16) return false;
      value = static_cast<uint8_t>((previous[i] + 17 - d) % 17);
    }
    run = std::min(run, last - i);  // a run longer than what remains is cut
    std::fill(lengths + i, lengths + i + run, value);
    i += run;
  }
  return !in.error;
}

bool readBlockHeader(LzxState& s, BitInput& in) {
  if (s.e8HeaderPending) {
    s.e8HeaderPending = 0;
    if (in.read(1)) {
      uint32_t high = in.read(16);
      s.e8FileSize = high << 16 | in.read(16);
    } else {
      s.e8FileSize = 0;
    }
  }
  if (s.blockType == UncompressedBlock) {
    if ((s.blockSize & 1) && in.position < in.limitBytes) ++in.position;
    s.blockType = NoBlock;
    in.start();
  }
  uint32_t type = in.read(BlockTypeBits);
  uint32_t size = in.read(8) << 16;
  size |= in.read(8) << 8;
  size |= in.read(8);
  s.blockSize = size;
  s.blockRemaining = static_cast<int32_t>(size);

  if (type == AlignedBlock) {
    for (uint32_t i = 0; i < AlignedSymbols; ++i)
      s.alignedLengths[i] = static_cast<uint8_t>(in.read(AlignedLengthBits));
    if (in.error || !buildAlignedTable(s)) return false;
  }
  if (type == VerbatimBlock || type == AlignedBlock) {
    const uint32_t mainSymbols = LiteralSymbols + 8 * s.slotCount;
    std::memcpy(s.previousMainLengths, s.mainLengths, sizeof s.mainLengths);
    std::memcpy(s.previousLengthLengths, s.lengthLengths, sizeof s.lengthLengths);
    if (!readLengths(s, in, s.mainLengths, s.previousMainLengths, 0, LiteralSymbols) ||
        !readLengths(s, in, s.mainLengths, s.previousMainLengths, LiteralSymbols, mainSymbols) ||
        !buildTable(s.mainLengths, mainSymbols, MainTableBits, s.mainTable, s.mainNodes) ||
        !readLengths(s, in, s.lengthLengths, s.previousLengthLengths, 0, LengthSymbols) ||
        !buildTable(s.lengthLengths, LengthSymbols, LengthTableBits, s.lengthTable, s.lengthNodes))
      return false;
  } else if (type == UncompressedBlock) {
    // The bit buffer is dropped: the raw part starts at the word after the current one.
    if (in.error || in.position < 2) return false;
    in.position -= 2;
    if (in.position + 12 > in.dataBytes) return false;
    const uint8_t* p = in.data + in.position;
    auto le32 = [](const uint8_t* q) {
      return q[0] | uint32_t{q[1]} << 8 | uint32_t{q[2]} << 16 | uint32_t{q[3]} << 24;
    };
    s.r0 = le32(p);
    s.r1 = le32(p + 4);
    s.r2 = le32(p + 8);
    in.position += 12;
  } else {
    return false;
  }
  s.blockType = static_cast<int32_t>(type);
  s.phase = InBlock;
  return true;
}

// Copies a match of `lengthBytes` to window position `to` from `offset` bytes back.
void copyMatch(LzxState& s, uint32_t to, uint32_t offset, uint32_t lengthBytes) {
  uint8_t* w = s.window;
  uint32_t from = (to - offset) & s.windowMask;
  if (to >= MirrorBytes) {
    // Fast path: the destination needs no mirror, and a source running past the window end
    // reads the mirror of positions 0-256.
    if (from < to) {
      uint32_t distance = to - from;
      if (distance >= lengthBytes) {
        std::memcpy(w + to, w + from, lengthBytes);
      } else if (distance == 1) {
        std::memset(w + to, w[from], lengthBytes);
      } else if (distance >= 8) {
        // Overlapping copy in 8-byte steps: each step reads only bytes already written.
        uint32_t k = 0;
        for (; k + 8 <= lengthBytes; k += 8) std::memcpy(w + to + k, w + from + k, 8);
        for (; k < lengthBytes; ++k) w[to + k] = w[from + k];
      } else {
        for (uint32_t k = 0; k < lengthBytes; ++k) w[to + k] = w[from + k];
      }
    } else {
      // Source at or after the destination (an offset of 0 or beyond the window): a forward
      // byte copy never reads a byte it wrote, as memmove.
      std::memmove(w + to, w + from, lengthBytes);
    }
    return;
  }
  // Destination within the first 257 bytes: mask every source byte and keep the mirror.
  for (uint32_t k = 0; k < lengthBytes; ++k) {
    uint8_t v = w[(from + k) & s.windowMask];
    w[to + k] = v;
    if (to + k < MirrorBytes) w[s.windowBytes + to + k] = v;
  }
}

// Decodes `countBytes` bytes of a verbatim or aligned-offset block into the window at `to`.
// The bit input, the repeated offsets and the window geometry are worked on in local copies:
// stores into the window could otherwise alias them and force a reload after every byte.
bool decodeSymbols(LzxState& s, BitInput& input, uint32_t to, uint32_t countBytes, bool aligned) {
  BitInput in = input;
  uint8_t* const w = s.window;
  const uint32_t windowBytes = s.windowBytes;
  uint32_t r0 = s.r0, r1 = s.r1, r2 = s.r2;
  const uint32_t end = to + countBytes;
  bool ok = true;
  while (to < end) {
    if (in.position >= in.limitBytes) {
      ok = false;
      break;
    }
    uint32_t main = in.decode(s.mainTable, MainTableBits, s.mainNodes, s.mainLengths);
    if (main < LiteralSymbols) {
      w[to] = static_cast<uint8_t>(main);
      if (to < MirrorBytes) w[windowBytes + to] = static_cast<uint8_t>(main);
      ++to;
      continue;
    }
    main -= LiteralSymbols;
    uint32_t lengthBytes = main & 7;
    uint32_t slot = main >> 3;
    if (lengthBytes == PrimaryLengths)
      lengthBytes += in.decode(s.lengthTable, LengthTableBits, s.lengthNodes, s.lengthLengths);
    lengthBytes += MinMatchBytes;

    uint32_t offset;
    if (slot == 0) {
      offset = r0;
    } else if (slot == 1) {
      offset = r1;
      r1 = r0;
      r0 = offset;
    } else if (slot == 2) {
      offset = r2;
      r2 = r0;
      r0 = offset;
    } else {
      if (slot == 3) {
        offset = 1;
      } else {
        int extra = ExtraBits[slot];
        uint32_t value;
        if (aligned && extra >= 3) {
          value = in.read(extra - 3) << 3;
          uint32_t symbol = s.alignedTable[in.buffer >> (32 - AlignedTableBits)];
          in.remove(s.alignedLengths[symbol]);
          value += symbol;
        } else {
          value = in.read(extra);
        }
        offset = PositionBase[slot] - 2 + value;
      }
      r2 = r1;
      r1 = r0;
      r0 = offset;
    }
    // A match may cross neither the end of the frame nor the end of the block.
    if (lengthBytes > end - to) {
      ok = false;
      break;
    }
    copyMatch(s, to, offset, lengthBytes);
    to += lengthBytes;
  }
  input = in;
  s.r0 = r0;
  s.r1 = r1;
  s.r2 = r2;
  return ok;
}

// Copies `countBytes` raw bytes of an uncompressed block into the window at `to`.
bool copyStored(LzxState& s, BitInput& in, uint32_t to, uint32_t countBytes) {
  if (countBytes > in.dataBytes - std::min(in.position, in.dataBytes)) return false;
  std::memcpy(s.window + to, in.data + in.position, countBytes);
  in.position += countBytes;
  if (to < MirrorBytes) {
    uint32_t mirrored = std::min(to + countBytes, MirrorBytes) - to;
    std::memcpy(s.window + s.windowBytes + to, s.window + to, mirrored);
  }
  return true;
}

// Produces one frame of `frameBytes` bytes into the window at the window position.
bool produceFrame(LzxState& s, BitInput& in, uint32_t frameBytes) {
  uint32_t to = s.windowPosition;
  uint32_t left = frameBytes;
  while (left > 0) {
    if (s.phase == HeaderDue && !readBlockHeader(s, in)) return false;
    uint32_t n = std::min(static_cast<uint32_t>(s.blockRemaining), left);
    if (n > 0) {
      bool ok = s.blockType == UncompressedBlock
                    ? copyStored(s, in, to, n)
                    : decodeSymbols(s, in, to, n, s.blockType == AlignedBlock);
      if (!ok) return false;
      to += n;
      left -= n;
      s.blockRemaining -= static_cast<int32_t>(n);
    }
    if (s.blockRemaining == 0) s.phase = HeaderDue;
  }
  return true;
}

uint32_t readLe32(const uint8_t* p) {
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Turns the absolute call targets the encoder stored after 0xE8 bytes back into the
// relative ones of the original code. `offset` is the folder position of out[0].
void translateE8(uint8_t* out, uint32_t lengthBytes, uint32_t& offset, uint32_t fileSize) {
  // The last E8TailBytes bytes are never translated, so a frame no longer has nothing to do
  // (and the scan bound below would wrap).
  if (lengthBytes <= E8TailBytes) {
    offset += lengthBytes;
    return;
  }
  // 0xE8 sentinels over the last 6 bytes end the scan without a bound check per byte.
  uint8_t saved[E8MinFrameBytes];
  uint8_t* tail = out + lengthBytes - E8MinFrameBytes;
  std::memcpy(saved, tail, E8MinFrameBytes);
  std::memset(tail, 0xE8, E8MinFrameBytes);
  uint32_t j = 0;
  for (;;) {
    // memchr scans far faster than a byte loop; the sentinels guarantee a hit.
    j = static_cast<uint32_t>(static_cast<const uint8_t*>(std::memchr(out + j, 0xE8, lengthBytes - j)) - out);
    if (j + E8TailBytes >= lengthBytes) break;  // also ends frames of 7 to 9 bytes
    uint32_t value = readLe32(out + j + 1);
    uint32_t position = offset + j;
    if (value < fileSize) {
      value -= position;
    } else if (0u - value <= position) {
      value += fileSize;
    }
    out[j + 1] = static_cast<uint8_t>(value);
    out[j + 2] = static_cast<uint8_t>(value >> 8);
    out[j + 3] = static_cast<uint8_t>(value >> 16);
    out[j + 4] = static_cast<uint8_t>(value >> 24);
    j += 5;
  }
  std::memcpy(tail, saved, E8MinFrameBytes);
  offset += lengthBytes;
}

LzxDecoder* decoderOf(void* handle) {
  auto* decoder = static_cast<LzxDecoder*>(handle);
  return decoder != nullptr && decoder->tag == Tag ? decoder : nullptr;
}

}  // namespace

DecoderResult create(uint32_t* blockLimit, uint32_t windowBytes, AllocateFn allocate,
                     ReleaseFn release, uint32_t* bufferNeed, void** handle) {
  *bufferNeed = *blockLimit + BufferSlackBytes;
  if (handle == nullptr) return cab::Ok;
  *handle = nullptr;
  // Windows outside 2^15-2^21 cannot be set up: larger ones need more position slots than
  // the tables hold, smaller ones cannot hold a frame.
  bool powerOfTwo = windowBytes != 0 && (windowBytes & (windowBytes - 1)) == 0;
  if (!powerOfTwo || windowBytes < (1u << MinWindowBits) || windowBytes > (1u << MaxWindowBits))
    return cab::OutOfMemory;

  auto* decoder = static_cast<LzxDecoder*>(allocate(sizeof(LzxDecoder)));
  if (decoder == nullptr) return cab::OutOfMemory;
  auto* state = static_cast<LzxState*>(allocate(sizeof(LzxState)));
  if (state == nullptr) {
    release(decoder);
    return cab::OutOfMemory;
  }
  auto* window = static_cast<uint8_t*>(allocate(static_cast<int32_t>(windowBytes + WindowSlackBytes)));
  if (window == nullptr) {
    release(state);
    release(decoder);
    return cab::OutOfMemory;
  }
  // Matches may reach bytes not produced since the folder began; they read zeros, never
  // whatever the allocator left there.
  std::memset(window, 0, windowBytes + WindowSlackBytes);
  std::memset(state, 0, sizeof(LzxState));
  state->window = window;
  state->windowBytes = windowBytes;
  state->windowMask = windowBytes - 1;
  uint32_t windowBits = 0;
  while ((1u << windowBits) < windowBytes) ++windowBits;
  state->slotCount = positionSlots(windowBits);

  decoder->tag = Tag;
  decoder->allocate = allocate;
  decoder->release = release;
  decoder->blockLimit = *blockLimit;
  decoder->state = state;
  reset(decoder);
  *handle = decoder;
  return cab::Ok;
}

DecoderResult reset(void* handle) {
  LzxDecoder* decoder = decoderOf(handle);
  if (decoder == nullptr) return cab::BadHandle;
  LzxState& s = *decoder->state;
  std::memset(s.mainLengths, 0, sizeof s.mainLengths);
  std::memset(s.lengthLengths, 0, sizeof s.lengthLengths);
  std::memset(s.previousMainLengths, 0, sizeof s.previousMainLengths);
  std::memset(s.previousLengthLengths, 0, sizeof s.previousLengthLengths);
  s.r0 = s.r1 = s.r2 = 1;
  s.windowPosition = 0;
  s.phase = HeaderDue;
  s.blockRemaining = 0;
  s.blockType = NoBlock;
  s.blockSize = 0;
  s.e8HeaderPending = 1;
  s.e8FileSize = 0;
  s.e8Offset = 0;
  s.frameCounter = 0;
  return cab::Ok;
}

DecoderResult decompress(void* handle, const uint8_t* input, uint32_t inputBytes,
                         uint8_t* output, uint32_t* outputBytes) {
  LzxDecoder* decoder = decoderOf(handle);
  if (decoder == nullptr) return cab::BadHandle;
  const uint32_t frameBytes = *outputBytes;
  if (frameBytes > decoder->blockLimit) return cab::BadSize;
  LzxState& s = *decoder->state;

  BitInput in{input, 0, inputBytes, inputBytes + 4, 0, 0, false};
  const uint32_t frameStart = s.windowPosition;
  // Frames tile the window: one that would run past its end cannot be placed.
  bool ok = inputBytes <= UINT32_MAX - 16 && frameBytes <= s.windowBytes - frameStart;
  if (ok) {
    if (s.blockType != UncompressedBlock) in.start();
    ok = produceFrame(s, in, frameBytes);
  }
  const uint32_t frameIndex = s.frameCounter++;
  if (!ok) {
    // The stream position is lost; the next call starts with a block header, so no table
    // of a block that failed half-read is ever used.
    s.phase = HeaderDue;
    s.blockType = NoBlock;
    s.blockRemaining = 0;
    *outputBytes = 0;
    return cab::DataError;
  }
  if (frameBytes != 0) std::memcpy(output, s.window + frameStart, frameBytes);  // output may be null then
  s.windowPosition = (frameStart + frameBytes) & s.windowMask;
  if (s.e8FileSize != 0 && frameIndex < E8FrameLimit)
    translateE8(output, frameBytes, s.e8Offset, s.e8FileSize);
  return cab::Ok;
}

DecoderResult destroy(void* handle) {
  LzxDecoder* decoder = decoderOf(handle);
  if (decoder == nullptr) return cab::BadHandle;
  ReleaseFn release = decoder->release;
  LzxState* state = decoder->state;
  release(state->window);
  decoder->tag = 0;
  release(state);
  release(decoder);
  return cab::Ok;
}

}  // namespace lzx
