// Match finder shared by the LZ77 encoders of the cabinet writer (LZX, Quantum).
//
// The finder keeps the stream's recent history in a buffer of its own: the encoder appends
// the folder's data block by block and then visits every position of it in order, asking
// for matches at some positions (findMatches) and only recording the others (skip). Every
// position must be visited exactly once, in increasing order, and only after its bytes were
// appended. Positions count bytes from the start of the stream (the folder) as uint32.
//
// Matches come from hash chains over 3-byte prefixes; with a minimum match length of 2 a
// direct table over 2-byte prefixes adds the nearest 2-byte match when it lies within 4096
// bytes (further back a 2-byte match never pays). A match never reaches back
// more than `windowBytes` and never reads at or beyond the last appended byte.
//
// Bytes at a position stay addressable through bytesAt() while the position is no more
// than `windowBytes` behind the first position not yet visited; append() may move them, so
// pointers must not be kept across it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pack {

struct Match {
  uint32_t lengthBytes;
  uint32_t distanceBytes;  // 1 = the byte just before the position
};

class MatchFinder {
 public:
  // windowBytes: the largest distance a match may have. maxMatchBytes: the longest match
  // reported. searchDepth: how many chain links are followed per search (more is slower and
  // finds longer/nearer matches). minMatchBytes: 2 or 3.
  MatchFinder(uint32_t windowBytes, uint32_t maxMatchBytes, int searchDepth,
              uint32_t minMatchBytes = 3);

  // Adds bytes at the end of the stream.
  void append(const uint8_t* bytes, size_t countBytes);

  // Position just past the last appended byte.
  uint32_t endPosition() const { return endPosition_; }

  // Address of the byte at `position` (see the header comment for which are addressable).
  const uint8_t* bytesAt(uint32_t position) const { return buffer_.data() + (position - bufferStart_); }

  // Searches `position` and records it. Writes to `candidates` the matches found, in
  // strictly increasing length, each with the nearest distance found for its length, and
  // returns their count (at most maxMatchBytes + 1 entries are written). Lengths are capped
  // at `limitBytes` (and at maxMatchBytes and the appended data); a caller passes the room
  // left before a boundary matches must not cross.
  size_t findMatches(uint32_t position, uint32_t limitBytes, Match* candidates);

  // Records `position` without searching.
  void skip(uint32_t position);

  // Length of the match at `position` with `distanceBytes` (e.g. a repeated offset), capped
  // at `limitBytes`, maxMatchBytes and the appended data; 0 when the distance reaches
  // before the stream start or beyond the window.
  uint32_t matchLength(uint32_t position, uint32_t distanceBytes, uint32_t limitBytes) const;

  // Changes how many chain links a search follows from now on (at least 1).
  void setSearchDepth(int searchDepth) { searchDepth_ = searchDepth < 1 ? 1 : searchDepth; }

  uint32_t windowBytes() const { return windowBytes_; }
  uint32_t maxMatchBytes() const { return maxMatchBytes_; }

 private:
  uint32_t hash3(const uint8_t* p) const;
  void insert(uint32_t position);
  uint32_t cap(uint32_t position, uint32_t limitBytes) const;

  uint32_t windowBytes_;
  uint32_t maxMatchBytes_;
  int searchDepth_;
  uint32_t minMatchBytes_;
  int hashBits_;

  std::vector<uint8_t> buffer_;   // history and appended data; buffer_[0] is bufferStart_
  uint32_t bufferStart_ = 0;
  uint32_t endPosition_ = 0;
  uint32_t nextPosition_ = 0;     // first position not yet visited
  uint32_t hashed2_ = 0;          // first position not yet in head2_
  uint32_t hashed3_ = 0;          // first position not yet in the 3-byte chains

  // Chains hold position + 1 (0: none). head3_ by 3-byte hash, chain_ by position & chainMask_,
  // head2_ by the 2-byte value itself.
  std::vector<uint32_t> head3_;
  std::vector<uint32_t> chain_;
  std::vector<uint32_t> head2_;
  uint32_t chainMask_;
};

}  // namespace pack
