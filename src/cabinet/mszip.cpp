// MSZIP decompressor.
//
// A data block is the two bytes 'C' 'K' and then deflate data, read least significant bit
// first:
//   block header   BFINAL:1, BTYPE:2 (0 stored, 1 fixed codes, 2 dynamic codes, 3 invalid)
//   stored         skip to a byte boundary, LEN:16, NLEN:16 (= LEN ^ 0xFFFF), LEN raw bytes
//   dynamic        HLIT:5, HDIST:5, HCLEN:4, then HCLEN + 4 code-length code lengths of 3 bits
//                  in the order 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1 15, then the
//                  HLIT + 257 literal/length and HDIST + 1 distance code lengths coded with it
//                  (16: repeat the previous length 3-6 times, 2 extra bits; 17: 3-10 zeros,
//                  3 extra bits; 18: 11-138 zeros, 7 extra bits)
//   coded data     literal/length symbols: 0-255 a byte, 256 end of block, 257-285 a match
//                  length with extra bits, followed by a distance symbol with extra bits
// The blocks of one call end at a block with BFINAL set, or as soon as the output limit is
// reached, wherever that falls; the rest of the input is then ignored. Input that runs out
// reads as zero bits.
//
// There is no window of our own: the caller's 32768-byte output buffer is the history. Each
// block but a folder's last fills it completely, so at output offset p the bytes from p up
// are still the previous block's, and a distance reaching before the buffer's start wraps
// around to them.
#include "cabinet/mszip.h"

#include <cstddef>
#include <cstring>

namespace mszip {
namespace {

using cab::DataError;
using cab::Ok;

constexpr uint32_t ContextTag = 0x4349444D;  // "MDIC" in memory order
constexpr uint32_t HistoryBytes = 32768;
constexpr uint32_t BlockOverheadBytes = 12;  // input a block may need beyond its output
constexpr uint32_t SignatureBytes = 2;
constexpr uint32_t MaxMatchBytes = 258;

constexpr uint32_t MaxLiteralCodes = 286;
constexpr uint32_t MaxDistanceCodes = 30;
constexpr uint32_t FixedLiteralCodes = 288;
constexpr uint32_t FixedDistanceCodes = 32;
constexpr uint32_t CodeLengthCodes = 19;
constexpr uint32_t MaxCodeBits = 15;

// Lookup tables are indexed by the next root-width input bits. Codes longer than the root
// continue in one sub-table per root prefix. Each table entry is 32 bits:
//   bits 0-5    bits the entry consumes: its code bits plus a base's extra bits
//               (a link: the root width)
//   bits 8-11   its code bits, where the extra bits start (a link: the sub-table's width)
//   bits 12-15  kind: literal, end of block, link or invalid; none of them for a base
//   bits 16-31  the literal byte, the length or distance base, or the sub-table's offset
constexpr uint32_t LiteralFlag = 0x1000;
constexpr uint32_t EndFlag = 0x2000;
constexpr uint32_t LinkFlag = 0x4000;
constexpr uint32_t InvalidFlag = 0x8000;

constexpr uint32_t LiteralRootBits = 10;
constexpr uint32_t DistanceRootBits = 8;
constexpr uint32_t CodeLengthRootBits = 7;
// Worst cases over all codes the builder accepts (complete codes of up to 15 bits, or a
// single 1-bit code) with these roots: 286 literal/length codes need 1332 entries, 30
// distance codes 402. The code-length code uses the literal/length space before it.
// Built the narrow way (roots of 9 and 6 bits, sub-tables no wider than the root, chained)
// the same codes need at most 852 and 154 entries, within the 900 and 200 set aside for
// that layout, so no code is ever refused for want of table space.
constexpr uint32_t LiteralTableSpace = 1332;
constexpr uint32_t DistanceTableSpace = 402;

constexpr uint32_t entryBits(uint32_t entry) { return entry & 63; }
constexpr uint32_t entryCodeBits(uint32_t entry) { return (entry >> 8) & 15; }
constexpr uint32_t entryValue(uint32_t entry) { return entry >> 16; }

// What each symbol decodes to, as a table entry before its code bits are added:
// kind flags, value, and the extra-bit count in bits 0-5.
constexpr uint32_t baseEntry(uint32_t base, uint32_t extraBits) { return base << 16 | extraBits; }

// Length symbols 257 to 287: base length and extra bits; 286 and 287 decode to nothing.
constexpr uint16_t LengthBase[31] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13, 15,
                                     17, 19, 23, 27,  31,  35,  43,  51,  59, 67, 83,
                                     99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint8_t LengthExtraBits[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                         3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0};
// Distance symbols 0 to 31: base distance and extra bits; 30 and 31 decode to nothing.
constexpr uint16_t DistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,
                                       17,   25,   33,   49,   65,   97,    129,   193,
                                       257,  385,  513,  769,  1025, 1537,  2049,  3073,
                                       4097, 6145, 8193, 12289, 16385, 24577, 0,    0};
constexpr uint8_t DistanceExtraBits[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5, 6, 6,
                                           7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 0, 0};

// Order in which the code-length code lengths are stored.
constexpr uint8_t CodeLengthOrder[CodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

struct SymbolEntries {
  uint32_t literal[FixedLiteralCodes];
  uint32_t distance[FixedDistanceCodes];
  uint32_t codeLength[CodeLengthCodes];
};

constexpr SymbolEntries makeSymbolEntries() {
  SymbolEntries e{};
  for (uint32_t s = 0; s < 256; ++s) e.literal[s] = LiteralFlag | s << 16;
  e.literal[256] = EndFlag;
  for (uint32_t s = 257; s < FixedLiteralCodes; ++s) {
    uint32_t base = LengthBase[s - 257];
    e.literal[s] = base == 0 ? InvalidFlag : baseEntry(base, LengthExtraBits[s - 257]);
  }
  for (uint32_t s = 0; s < FixedDistanceCodes; ++s) {
    uint32_t base = DistanceBase[s];
    e.distance[s] = base == 0 ? InvalidFlag : baseEntry(base, DistanceExtraBits[s]);
  }
  for (uint32_t s = 0; s < CodeLengthCodes; ++s) e.codeLength[s] = s << 16;
  return e;
}
constexpr SymbolEntries Symbols = makeSymbolEntries();

uint32_t reverseBits(uint32_t code, uint32_t bitCount) {
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < bitCount; ++i) {
    reversed = reversed << 1 | (code & 1);
    code >>= 1;
  }
  return reversed;
}

// Builds the lookup table of the canonical code given by `lengths` (0 = symbol unused).
// Refuses an over-subscribed code and an incomplete one whose longest code is above 1 bit.
// All-zero lengths give a table in which every pattern is invalid.
bool buildTable(const uint8_t* lengths, uint32_t symbolCount, const uint32_t* symbolEntries,
                uint32_t rootBits, uint32_t* table, uint32_t tableSpace) {
  uint32_t countByLength[MaxCodeBits + 1] = {};
  for (uint32_t s = 0; s < symbolCount; ++s) ++countByLength[lengths[s]];
  countByLength[0] = 0;

  uint32_t maxLength = MaxCodeBits;
  while (maxLength > 0 && countByLength[maxLength] == 0) --maxLength;
  int32_t unusedPatterns = 1;
  for (uint32_t len = 1; len <= MaxCodeBits; ++len) {
    unusedPatterns = unusedPatterns * 2 - static_cast<int32_t>(countByLength[len]);
    if (unusedPatterns < 0) return false;
  }
  if (unusedPatterns > 0 && maxLength > 1) return false;

  const uint32_t rootEntries = 1u << rootBits;
  if (unusedPatterns > 0) {
    for (uint32_t i = 0; i < rootEntries; ++i) table[i] = InvalidFlag;
  }

  // Symbols sorted by code length, then by value: the canonical code order.
  uint16_t sorted[FixedLiteralCodes];
  uint32_t nextSlot[MaxCodeBits + 1];
  nextSlot[1] = 0;
  for (uint32_t len = 1; len < MaxCodeBits; ++len) nextSlot[len + 1] = nextSlot[len] + countByLength[len];
  for (uint32_t s = 0; s < symbolCount; ++s) {
    if (lengths[s] != 0) sorted[nextSlot[lengths[s]]++] = static_cast<uint16_t>(s);
  }

  uint32_t remainingByLength[MaxCodeBits + 1];
  std::memcpy(remainingByLength, countByLength, sizeof remainingByLength);
  uint32_t code = 0;  // canonical code, most significant bit first
  uint32_t sortedIndex = 0;
  uint32_t tableUsed = rootEntries;
  uint32_t subPrefix = rootEntries;  // root slot of the current sub-table; none yet
  uint32_t subOffset = 0;
  uint32_t subBits = 0;
  for (uint32_t len = 1; len <= maxLength; ++len, code <<= 1) {
    for (uint32_t n = 0; n < countByLength[len]; ++n, ++code) {
      const uint32_t symbol = sorted[sortedIndex++];
      const uint32_t reversed = reverseBits(code, len);
      if (len <= rootBits) {
        const uint32_t entry = symbolEntries[symbol] + len + (len << 8);
        for (uint32_t i = reversed; i < rootEntries; i += 1u << len) table[i] = entry;
      } else {
        const uint32_t prefix = reversed & (rootEntries - 1);
        if (prefix != subPrefix) {
          // The sub-table is as wide as the codes that follow from here must fill.
          subBits = len - rootBits;
          int32_t unfilled = (1 << subBits) - static_cast<int32_t>(remainingByLength[len]);
          while (unfilled > 0 && rootBits + subBits < maxLength) {
            ++subBits;
            unfilled = unfilled * 2 - static_cast<int32_t>(remainingByLength[rootBits + subBits]);
          }
          if (tableUsed + (1u << subBits) > tableSpace) return false;
          table[prefix] = LinkFlag | tableUsed << 16 | subBits << 8 | rootBits;
          subPrefix = prefix;
          subOffset = tableUsed;
          tableUsed += 1u << subBits;
        }
        const uint32_t subLen = len - rootBits;
        const uint32_t entry = symbolEntries[symbol] + subLen + (subLen << 8);
        for (uint32_t i = reversed >> rootBits; i < (1u << subBits); i += 1u << subLen) {
          table[subOffset + i] = entry;
        }
      }
      --remainingByLength[len];
    }
  }
  return true;
}

// The fixed codes, built by the first create in the process and only read afterwards.
uint32_t fixedLiteralTable[1u << LiteralRootBits];
uint32_t fixedDistanceTable[1u << DistanceRootBits];
bool fixedTablesBuilt = false;

void buildFixedTables() {
  uint8_t lengths[FixedLiteralCodes];
  for (uint32_t s = 0; s < FixedLiteralCodes; ++s) {
    lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  }
  buildTable(lengths, FixedLiteralCodes, Symbols.literal, LiteralRootBits, fixedLiteralTable,
             1u << LiteralRootBits);
  // All 32 five-bit patterns; symbols 30 and 31 decode as invalid.
  for (uint32_t s = 0; s < FixedDistanceCodes; ++s) lengths[s] = 5;
  buildTable(lengths, FixedDistanceCodes, Symbols.distance, DistanceRootBits, fixedDistanceTable,
             1u << DistanceRootBits);
}

uint64_t lowMask(uint32_t bitCount) { return bitCount >= 64 ? ~uint64_t{0} : (uint64_t{1} << bitCount) - 1; }

uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}
void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// Input bits, least significant first. Past the end of the input every byte reads as zero.
struct BitReader {
  const uint8_t* start;
  const uint8_t* next;
  const uint8_t* end;
  uint64_t bits;            // bits[0] is the next input bit
  uint32_t bitCount;        // valid bits in `bits`; above them may sit a copy of the next input bits
  uint32_t bytesPastEnd;    // zero bytes read beyond the end of the input

  // Tops the buffer up to 56-63 bits with one 8-byte load. Needs 8 bytes of input left.
  void refillWide() {
    bits |= load64(next) << bitCount;
    next += (63 - bitCount) >> 3;
    bitCount |= 56;
  }
  // Tops the buffer up to 56-63 bits a byte at a time, zeros past the end of the input.
  void refillCareful() {
    bits &= lowMask(bitCount);
    while (bitCount < 56) {
      if (next < end) {
        bits |= static_cast<uint64_t>(*next++) << bitCount;
      } else {
        ++bytesPastEnd;
      }
      bitCount += 8;
    }
  }
  void ensure(uint32_t bitsNeeded) {
    if (bitCount >= bitsNeeded) return;
    if (end - next >= 8) {
      refillWide();
    } else {
      refillCareful();
    }
  }
  void drop(uint32_t bitCountToDrop) {
    bits >>= bitCountToDrop;
    bitCount -= bitCountToDrop;
  }
  uint32_t take(uint32_t bitCountToTake) {
    ensure(bitCountToTake);
    const uint32_t value = static_cast<uint32_t>(bits & lowMask(bitCountToTake));
    drop(bitCountToTake);
    return value;
  }
  // Bytes consumed so far, once the buffer holds whole bytes only.
  uint64_t bytePosition() const {
    return static_cast<uint64_t>(next - start) + bytesPastEnd - bitCount / 8;
  }
};

}  // namespace

// The decoding state, rebuilt by every decompress call but for its table space.
struct InflateState {
  BitReader in;
  uint8_t* outputBase;      // start of the caller's buffer and of the history window
  uint8_t* output;          // next byte to write
  uint8_t* outputEnd;       // output limit of this call
  bool lastBlock;
  uint8_t lengths[MaxLiteralCodes + MaxDistanceCodes];
  uint32_t literalTable[LiteralTableSpace];    // first the code-length code, then literal/length
  uint32_t distanceTable[DistanceTableSpace];
};

struct MszipDecoder {
  uint32_t tag;
  ReleaseFn release;
  uint32_t blockLimit;
  InflateState* state;
};

namespace {

// Looks up the entry of the next code: the root entry, or for a longer code the entry in
// its sub-table, with the root bits already dropped.
uint32_t lookup(BitReader& in, const uint32_t* table, uint32_t rootBits) {
  uint32_t entry = table[in.bits & ((1u << rootBits) - 1)];
  if (entry & LinkFlag) {
    in.drop(rootBits);
    entry = table[entryValue(entry) + (in.bits & ((1u << entryCodeBits(entry)) - 1))];
  }
  return entry;
}

// Base plus extra bits of a length or distance entry; drops its bits.
uint32_t takeBaseValue(BitReader& in, uint32_t entry) {
  const uint32_t value = entryValue(entry) +
      static_cast<uint32_t>((in.bits & lowMask(entryBits(entry))) >> entryCodeBits(entry));
  in.drop(entryBits(entry));
  return value;
}

// Copies `length` bytes from `distance` back to `out`, exactly as a byte-by-byte copy would,
// writing nothing beyond out + length. A distance above the output offset reads the
// previous block's bytes at the top of the buffer first, then wraps to its start.
void copyMatchExact(uint8_t* base, uint8_t* out, uint32_t length, uint32_t distance) {
  const uint32_t offset = static_cast<uint32_t>(out - base);
  if (distance > offset) {
    const uint32_t from = offset + HistoryBytes - distance;  // at or above `offset`
    const uint32_t topBytes = length < HistoryBytes - from ? length : HistoryBytes - from;
    // The source lies at or above the destination, so memmove reads what a forward byte
    // copy would read.
    std::memmove(out, base + from, topBytes);
    out += topBytes;
    length -= topBytes;
  }
  const uint8_t* src = out - distance;
  if (distance >= length) {
    std::memcpy(out, src, length);
  } else {
    for (uint32_t i = 0; i < length; ++i) out[i] = src[i];
  }
}

// As copyMatchExact, for a copy that lies within the buffer by at least 8 bytes beyond its
// end: word moves, still writing nothing beyond out + length but bytes it read there.
inline void copyMatchFast(uint8_t* base, uint8_t* out, uint32_t length, uint32_t distance) {
  if (distance > static_cast<uint32_t>(out - base)) {
    copyMatchExact(base, out, length, distance);
    return;
  }
  const uint8_t* src = out - distance;
  if (distance >= 8) {
    if (length >= 8) {
      uint8_t* const lastWord = out + length - 8;
      while (out < lastWord) {
        store64(out, load64(src));
        out += 8;
        src += 8;
      }
      store64(lastWord, load64(lastWord - distance));
    } else {
      // The bytes after the match are still history: keep them.
      const uint64_t keep = ~uint64_t{0} << (length * 8);
      store64(out, (load64(src) & ~keep) | (load64(out) & keep));
    }
  } else if (distance == 1) {
    std::memset(out, out[-1], length);
  } else {
    for (uint32_t i = 0; i < length; ++i) out[i] = src[i];
  }
}

enum class SymbolsEnd { EndOfBlock, InvalidCode, OutputFull, NearInputOrOutputEnd };

// Fast path: a whole symbol and its match per round while 8 input bytes and a longest
// match of output remain. One refill covers a literal/length code with its extra bits (at
// most 20 bits) and a distance code with its extra bits (at most 28), or up to three
// literals (at most 15 + 10 + 10 bits: only the first may come from a sub-table).
SymbolsEnd decodeSymbolsFast(BitReader& in, uint8_t* base, uint8_t*& outRef, uint8_t* outEnd,
                             const uint32_t* literalTable, const uint32_t* distanceTable) {
  constexpr uint32_t literalMask = (1u << LiteralRootBits) - 1;
  constexpr uint32_t distanceMask = (1u << DistanceRootBits) - 1;
  if (in.end - in.next < 8 || outEnd - outRef < static_cast<ptrdiff_t>(MaxMatchBytes)) {
    return SymbolsEnd::NearInputOrOutputEnd;
  }
  const uint8_t* next = in.next;
  const uint8_t* const nextLimit = in.end - 8;
  uint8_t* out = outRef;
  uint8_t* const outLimit = outEnd - MaxMatchBytes;
  uint64_t bits = in.bits;
  uint32_t bitCount = in.bitCount;
  SymbolsEnd result = SymbolsEnd::NearInputOrOutputEnd;
  // The entry of the next code is looked up ahead of the refill that precedes its use:
  // a refill's load leaves 64 valid input bits and a round uses at most 48, so at least 16
  // remain, enough for the root.
  bits |= load64(next) << bitCount;
  uint32_t entry = literalTable[bits & literalMask];
  do {
    bits |= load64(next) << bitCount;
    next += (63 - bitCount) >> 3;
    bitCount |= 56;

    if (entry & LinkFlag) {
      bits >>= LiteralRootBits;
      bitCount -= LiteralRootBits;
      entry = literalTable[entryValue(entry) + (bits & ((1u << entryCodeBits(entry)) - 1))];
    }
    if (entry & LiteralFlag) {
      bits >>= entryBits(entry);
      bitCount -= entryBits(entry);
      *out++ = static_cast<uint8_t>(entryValue(entry));
      entry = literalTable[bits & literalMask];
      if (entry & LiteralFlag) {
        bits >>= entryBits(entry);
        bitCount -= entryBits(entry);
        *out++ = static_cast<uint8_t>(entryValue(entry));
        entry = literalTable[bits & literalMask];
        if (entry & LiteralFlag) {
          bits >>= entryBits(entry);
          bitCount -= entryBits(entry);
          *out++ = static_cast<uint8_t>(entryValue(entry));
          entry = literalTable[bits & literalMask];
        }
      }
      continue;
    }
    if (entry & (EndFlag | InvalidFlag)) {
      bits >>= entryBits(entry);
      bitCount -= entryBits(entry);
      result = (entry & EndFlag) ? SymbolsEnd::EndOfBlock : SymbolsEnd::InvalidCode;
      break;
    }
    const uint32_t length = entryValue(entry) +
        static_cast<uint32_t>((bits & lowMask(entryBits(entry))) >> entryCodeBits(entry));
    bits >>= entryBits(entry);
    bitCount -= entryBits(entry);

    entry = distanceTable[bits & distanceMask];
    if (entry & LinkFlag) {
      bits >>= DistanceRootBits;
      bitCount -= DistanceRootBits;
      entry = distanceTable[entryValue(entry) + (bits & ((1u << entryCodeBits(entry)) - 1))];
    }
    if (entry & InvalidFlag) {
      result = SymbolsEnd::InvalidCode;
      break;
    }
    const uint32_t distance = entryValue(entry) +
        static_cast<uint32_t>((bits & lowMask(entryBits(entry))) >> entryCodeBits(entry));
    bits >>= entryBits(entry);
    bitCount -= entryBits(entry);
    entry = literalTable[bits & literalMask];

    copyMatchFast(base, out, length, distance);
    out += length;
  } while (next <= nextLimit && out <= outLimit);

  in.next = next;
  in.bits = bits;
  in.bitCount = bitCount;
  outRef = out;
  return result;
}

// Careful path: one symbol at a time, input fetched a byte at a time with zeros past its
// end, output checked against the limit byte by byte.
SymbolsEnd decodeSymbolsCareful(BitReader& in, uint8_t* base, uint8_t*& out, uint8_t* outEnd,
                                const uint32_t* literalTable, const uint32_t* distanceTable) {
  for (;;) {
    if (out == outEnd) return SymbolsEnd::OutputFull;
    if (in.bitCount < 48) in.refillCareful();
    uint32_t entry = lookup(in, literalTable, LiteralRootBits);
    if (entry & LiteralFlag) {
      in.drop(entryBits(entry));
      *out++ = static_cast<uint8_t>(entryValue(entry));
      continue;
    }
    if (entry & (EndFlag | InvalidFlag)) {
      in.drop(entryBits(entry));
      return (entry & EndFlag) ? SymbolsEnd::EndOfBlock : SymbolsEnd::InvalidCode;
    }
    uint32_t length = takeBaseValue(in, entry);
    entry = lookup(in, distanceTable, DistanceRootBits);
    if (entry & InvalidFlag) return SymbolsEnd::InvalidCode;
    const uint32_t distance = takeBaseValue(in, entry);
    const uint32_t room = static_cast<uint32_t>(outEnd - out);
    if (length > room) length = room;
    copyMatchExact(base, out, length, distance);
    out += length;
  }
}

// Decodes the coded data of one deflate block up to its end of block code or the output
// limit. Returns false for an invalid code. Once near the end of the input or the output,
// the block stays there, so the careful path finishes it.
bool decodeSymbols(InflateState& s, const uint32_t* literalTable, const uint32_t* distanceTable) {
  BitReader in = s.in;
  uint8_t* out = s.output;
  SymbolsEnd end = decodeSymbolsFast(in, s.outputBase, out, s.outputEnd, literalTable, distanceTable);
  if (end == SymbolsEnd::NearInputOrOutputEnd) {
    end = decodeSymbolsCareful(in, s.outputBase, out, s.outputEnd, literalTable, distanceTable);
  }
  s.in = in;
  s.output = out;
  return end != SymbolsEnd::InvalidCode;
}

bool decodeStored(InflateState& s) {
  BitReader& in = s.in;
  in.drop(in.bitCount & 7);
  const uint32_t length = in.take(16);
  const uint32_t lengthComplement = in.take(16);
  if (length != (lengthComplement ^ 0xFFFF)) return false;
  // The buffer now holds whole bytes only; the stored bytes start where they end.
  const uint64_t position = in.bytePosition();
  const uint64_t inputBytes = static_cast<uint64_t>(in.end - in.start);
  if (position + length > inputBytes) return false;  // runs past the end of the block
  const uint32_t room = static_cast<uint32_t>(s.outputEnd - s.output);
  const uint32_t copyBytes = length < room ? length : room;
  std::memcpy(s.output, in.start + position, copyBytes);
  s.output += copyBytes;
  in.next = in.start + position + length;
  in.bits = 0;
  in.bitCount = 0;
  return true;
}

bool decodeDynamic(InflateState& s) {
  BitReader& in = s.in;
  const uint32_t literalCount = in.take(5) + 257;
  const uint32_t distanceCount = in.take(5) + 1;
  const uint32_t codeLengthCount = in.take(4) + 4;
  if (literalCount > MaxLiteralCodes || distanceCount > MaxDistanceCodes) return false;

  uint8_t codeLengthLengths[CodeLengthCodes] = {};
  for (uint32_t i = 0; i < codeLengthCount; ++i) codeLengthLengths[CodeLengthOrder[i]] = static_cast<uint8_t>(in.take(3));
  uint32_t* const codeLengthTable = s.literalTable;
  if (!buildTable(codeLengthLengths, CodeLengthCodes, Symbols.codeLength, CodeLengthRootBits,
                  codeLengthTable, LiteralTableSpace)) {
    return false;
  }

  // Literal/length and distance code lengths, one sequence; repeats may cross between them.
  const uint32_t total = literalCount + distanceCount;
  uint8_t previous = 0;
  for (uint32_t i = 0; i < total;) {
    in.ensure(CodeLengthRootBits + 7);
    const uint32_t entry = codeLengthTable[in.bits & ((1u << CodeLengthRootBits) - 1)];
    if (entry & InvalidFlag) return false;
    in.drop(entryBits(entry));
    const uint32_t symbol = entryValue(entry);
    if (symbol < 16) {
      previous = static_cast<uint8_t>(symbol);
      s.lengths[i++] = previous;
      continue;
    }
    uint32_t repeat;
    uint8_t value = 0;
    if (symbol == 16) {
      repeat = 3 + in.take(2);
      value = previous;
    } else if (symbol == 17) {
      repeat = 3 + in.take(3);
    } else {
      repeat = 11 + in.take(7);
    }
    if (repeat > total - i) return false;
    std::memset(s.lengths + i, value, repeat);
    i += repeat;
    previous = value;
  }

  if (!buildTable(s.lengths, literalCount, Symbols.literal, LiteralRootBits, s.literalTable,
                  LiteralTableSpace)) {
    return false;
  }
  if (!buildTable(s.lengths + literalCount, distanceCount, Symbols.distance, DistanceRootBits,
                  s.distanceTable, DistanceTableSpace)) {
    return false;
  }
  return decodeSymbols(s, s.literalTable, s.distanceTable);
}

}  // namespace

DecoderResult create(uint32_t* blockLimit, AllocateFn allocate, ReleaseFn release,
                     uint32_t* bufferNeed, void** handle) {
  if (*blockLimit == 0 || *blockLimit > cab::MaxBlockBytes) *blockLimit = cab::MaxBlockBytes;
  *bufferNeed = *blockLimit + BlockOverheadBytes;
  if (handle == nullptr) return Ok;

  *handle = nullptr;
  auto* decoder = static_cast<MszipDecoder*>(allocate(sizeof(MszipDecoder)));
  if (decoder == nullptr) return cab::OutOfMemory;
  auto* state = static_cast<InflateState*>(allocate(sizeof(InflateState)));
  if (state == nullptr) {
    release(decoder);
    return cab::OutOfMemory;
  }
  std::memset(state, 0, sizeof(InflateState));
  if (!fixedTablesBuilt) {
    buildFixedTables();
    fixedTablesBuilt = true;
  }
  decoder->release = release;
  decoder->blockLimit = *blockLimit;
  decoder->state = state;
  decoder->tag = ContextTag;
  *handle = decoder;
  return Ok;
}

DecoderResult decompress(void* handle, const uint8_t* input, uint32_t inputBytes,
                         uint8_t* output, uint32_t* outputBytes) {
  auto* decoder = static_cast<MszipDecoder*>(handle);
  if (decoder == nullptr || decoder->tag != ContextTag) return cab::BadHandle;
  if (inputBytes > decoder->blockLimit + BlockOverheadBytes) return cab::BadSize;
  if (inputBytes < SignatureBytes || input[0] != 'C' || input[1] != 'K') return DataError;

  InflateState& s = *decoder->state;
  const uint32_t limitBytes = *outputBytes < decoder->blockLimit ? *outputBytes : decoder->blockLimit;
  s.in = BitReader{input + SignatureBytes, input + SignatureBytes, input + inputBytes, 0, 0, 0};
  s.outputBase = output;
  s.output = output;
  s.outputEnd = output + limitBytes;
  s.lastBlock = false;

  while (!s.lastBlock && s.output != s.outputEnd) {
    s.lastBlock = s.in.take(1) != 0;
    bool ok;
    switch (s.in.take(2)) {
      case 0: ok = decodeStored(s); break;
      case 1: ok = decodeSymbols(s, fixedLiteralTable, fixedDistanceTable); break;
      case 2: ok = decodeDynamic(s); break;
      default: ok = false; break;
    }
    if (!ok) return DataError;
  }
  *outputBytes = static_cast<uint32_t>(s.output - s.outputBase);
  return Ok;
}

DecoderResult reset(void* handle) {
  auto* decoder = static_cast<MszipDecoder*>(handle);
  if (decoder == nullptr || decoder->tag != ContextTag) return cab::BadHandle;
  return Ok;
}

DecoderResult destroy(void* handle) {
  auto* decoder = static_cast<MszipDecoder*>(handle);
  if (decoder == nullptr || decoder->tag != ContextTag) return cab::BadHandle;
  decoder->tag = 0;
  ReleaseFn release = decoder->release;
  release(decoder->state);
  release(decoder);
  return Ok;
}

}  // namespace mszip
