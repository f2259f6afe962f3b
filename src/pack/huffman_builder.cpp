#include "pack/huffman_builder.h"

#include <algorithm>
#include <vector>

namespace pack {

void buildCodeLengths(const uint32_t* frequencies, size_t count, int maxBits, uint8_t* lengths) {
  std::fill(lengths, lengths + count, uint8_t{0});
  std::vector<uint32_t> used;  // symbols with a frequency, least frequent first
  for (size_t s = 0; s < count; ++s)
    if (frequencies[s] != 0) used.push_back(static_cast<uint32_t>(s));
  if (used.empty()) return;
  if (used.size() == 1) {
    lengths[used[0]] = 1;
    lengths[used[0] == 0 ? 1 : 0] = 1;
    return;
  }
  std::stable_sort(used.begin(), used.end(),
                   [&](uint32_t a, uint32_t b) { return frequencies[a] < frequencies[b]; });

  // Two-queue Huffman construction: leaves in frequency order, internal nodes in the order
  // they are made (which is also frequency order). parent[] links every node upward.
  const size_t leafCount = used.size();
  std::vector<uint64_t> weight(2 * leafCount - 1);
  std::vector<uint32_t> parent(2 * leafCount - 1, 0);
  for (size_t i = 0; i < leafCount; ++i) weight[i] = frequencies[used[i]];
  size_t nextLeaf = 0, nextInternal = leafCount, made = leafCount;
  auto takeSmallest = [&]() {
    if (nextLeaf < leafCount && (nextInternal >= made || weight[nextLeaf] <= weight[nextInternal]))
      return nextLeaf++;
    return nextInternal++;
  };
  while (made < 2 * leafCount - 1) {
    size_t a = takeSmallest();
    size_t b = takeSmallest();
    weight[made] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<uint32_t>(made);
    ++made;
  }
  // Depths from the root (the last node) down.
  std::vector<uint32_t> depth(2 * leafCount - 1, 0);
  for (size_t i = 2 * leafCount - 2; i-- > 0;) depth[i] = depth[parent[i]] + 1;

  // Count leaves per length, folding lengths beyond maxBits into maxBits, then restore
  // Kraft equality by moving leaves down from shorter lengths.
  std::vector<uint32_t> perLength(std::max<uint32_t>(maxBits + 1, 64), 0);
  for (size_t i = 0; i < leafCount; ++i) ++perLength[std::min<uint32_t>(depth[i], maxBits)];
  uint64_t kraft = 0;  // in units of 2^-maxBits
  for (int bits = 1; bits <= maxBits; ++bits) kraft += uint64_t{perLength[bits]} << (maxBits - bits);
  const uint64_t full = uint64_t{1} << maxBits;
  while (kraft > full) {
    // Take a leaf from the deepest level and hang it, with a leaf from a shallower level,
    // below that shallower leaf: each step lowers the sum by one unit.
    --perLength[maxBits];
    for (int bits = maxBits - 1; bits >= 1; --bits) {
      if (perLength[bits] != 0) {
        --perLength[bits];
        perLength[bits + 1] += 2;
        break;
      }
    }
    --kraft;
  }
  // Most frequent symbols get the shortest codes.
  size_t i = leafCount;
  for (int bits = 1; bits <= maxBits; ++bits)
    for (uint32_t k = 0; k < perLength[bits]; ++k) lengths[used[--i]] = static_cast<uint8_t>(bits);
}

void buildCanonicalCodes(const uint8_t* lengths, size_t count, uint16_t* codes) {
  uint32_t perLength[33] = {};
  for (size_t s = 0; s < count; ++s) ++perLength[lengths[s]];
  perLength[0] = 0;
  uint32_t next[33];
  uint32_t code = 0;
  for (int bits = 1; bits <= 32; ++bits) {
    code = (code + perLength[bits - 1]) << 1;
    next[bits] = code;
  }
  for (size_t s = 0; s < count; ++s)
    codes[s] = lengths[s] != 0 ? static_cast<uint16_t>(next[lengths[s]]++) : 0;
}

}  // namespace pack
