#include "pack/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pack {

namespace {

// Counts equal bytes of a and b from `start` up to `maxBytes`, eight at a time where the
// machine lets the first differing byte be found from the XOR of two words.
uint32_t extendMatch(const uint8_t* a, const uint8_t* b, uint32_t start, uint32_t maxBytes) {
  uint32_t n = start;
  if constexpr (std::endian::native == std::endian::little) {
    while (n + 8 <= maxBytes) {
      uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) return n + static_cast<uint32_t>(std::countr_zero(x ^ y)) / 8;
      n += 8;
    }
  }
  while (n < maxBytes && a[n] == b[n]) ++n;
  return n;
}

// A 2-byte match further back than this costs more bits than two literals in any of the
// formats, so it is not looked at (which also spares a cache miss per position).
constexpr uint32_t ShortMatchReachBytes = 4096;

}  // namespace

MatchFinder::MatchFinder(uint32_t windowBytes, uint32_t maxMatchBytes, int searchDepth,
                         uint32_t minMatchBytes)
    : windowBytes_(windowBytes),
      maxMatchBytes_(maxMatchBytes),
      searchDepth_(std::max(searchDepth, 1)),
      minMatchBytes_(minMatchBytes <= 2 ? 2 : 3) {
  // About one bucket per window position keeps unrelated positions out of the chains: each
  // one followed costs a cache miss on data that cannot match.
  hashBits_ = std::clamp(static_cast<int>(std::bit_width(windowBytes_)) - 1, 12, 21);
  head3_.assign(size_t{1} << hashBits_, 0);
  // The chain must hold a window's worth of positions so that no link within the window is
  // overwritten before it falls out of reach.
  uint32_t chainBytes = std::bit_ceil(std::max<uint32_t>(windowBytes_, 1024));
  chain_.assign(chainBytes, 0);
  chainMask_ = chainBytes - 1;
  if (minMatchBytes_ == 2) head2_.assign(65536, 0);
}

void MatchFinder::append(const uint8_t* bytes, size_t countBytes) {
  // Drop history no match can reach any more, once there is a window's worth of it, so the
  // move is paid for by a window of progress.
  uint32_t keepFrom = nextPosition_ > windowBytes_ ? nextPosition_ - windowBytes_ : 0;
  if (keepFrom - bufferStart_ >= std::max<uint32_t>(windowBytes_, 65536)) {
    uint32_t dropBytes = keepFrom - bufferStart_;
    buffer_.erase(buffer_.begin(), buffer_.begin() + dropBytes);
    bufferStart_ = keepFrom;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + countBytes);
  endPosition_ += static_cast<uint32_t>(countBytes);
  // Positions near the old end could not be hashed before their following bytes arrived.
  if (nextPosition_ > 0) insert(nextPosition_ - 1);
}

uint32_t MatchFinder::hash3(const uint8_t* p) const {
  uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  return (v * 2654435761u) >> (32 - hashBits_);
}

// Records every position up to `position` whose prefix bytes are available: the 2-byte
// table needs 2 bytes, the 3-byte chains 3. `hashed2_`/`hashed3_` track how far each got.
void MatchFinder::insert(uint32_t position) {
  if (minMatchBytes_ == 2) {
    while (hashed2_ <= position && hashed2_ + 2 <= endPosition_) {
      const uint8_t* p = bytesAt(hashed2_);
      head2_[p[0] | p[1] << 8] = hashed2_ + 1;
      ++hashed2_;
    }
  }
  while (hashed3_ <= position && hashed3_ + 3 <= endPosition_) {
    uint32_t h = hash3(bytesAt(hashed3_));
    chain_[hashed3_ & chainMask_] = head3_[h];
    head3_[h] = hashed3_ + 1;
    ++hashed3_;
  }
}

uint32_t MatchFinder::cap(uint32_t position, uint32_t limitBytes) const {
  return std::min({limitBytes, maxMatchBytes_, endPosition_ - position});
}

void MatchFinder::skip(uint32_t position) {
  insert(position);
  nextPosition_ = position + 1;
}

uint32_t MatchFinder::matchLength(uint32_t position, uint32_t distanceBytes,
                                  uint32_t limitBytes) const {
  if (distanceBytes == 0 || distanceBytes > position || distanceBytes > windowBytes_) return 0;
  if (position - distanceBytes < bufferStart_) return 0;
  const uint8_t* p = bytesAt(position);
  return extendMatch(p, p - distanceBytes, 0, cap(position, limitBytes));
}

size_t MatchFinder::findMatches(uint32_t position, uint32_t limitBytes, Match* candidates) {
  size_t count = 0;
  uint32_t maxBytes = cap(position, limitBytes);
  const uint8_t* p = bytesAt(position);
  uint32_t bestBytes = minMatchBytes_ - 1;  // only longer matches are reported

  if (minMatchBytes_ == 2 && maxBytes >= 2 && hashed2_ == position && position + 2 <= endPosition_) {
    uint32_t link = head2_[p[0] | p[1] << 8];
    uint32_t distance = position + 1 - link;
    if (link != 0 && distance <= std::min(windowBytes_, ShortMatchReachBytes)) {
      uint32_t n = extendMatch(p, p - distance, 0, maxBytes);
      if (n > bestBytes) {
        candidates[count++] = {n, distance};
        bestBytes = n;
      }
    }
  }

  if (maxBytes >= 3 && bestBytes < maxBytes && hashed3_ == position &&
      position + 3 <= endPosition_) {
    uint32_t link = head3_[hash3(p)];
    uint32_t previous = position + 1;
    for (int depth = searchDepth_; depth > 0 && link != 0 && link < previous; --depth) {
      uint32_t candidate = link - 1;
      uint32_t distance = position - candidate;
      if (distance > windowBytes_) break;
      const uint8_t* q = p - distance;
      // The byte that would make this candidate beat the best decides most rejections.
      if (q[bestBytes] == p[bestBytes] && q[0] == p[0] && q[1] == p[1]) {
        uint32_t n = extendMatch(p, q, 0, maxBytes);
        if (n > bestBytes) {
          candidates[count++] = {n, distance};
          bestBytes = n;
          if (n >= maxBytes) break;
        }
      }
      previous = link;
      link = chain_[candidate & chainMask_];
    }
  }

  skip(position);
  return count;
}

}  // namespace pack
