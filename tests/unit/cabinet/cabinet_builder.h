// Builds cabinets byte by byte for tests: every field can be set, including wrong ones.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cabinet/checksum.h"

namespace cabtest {

using Bytes = std::vector<uint8_t>;

struct Block {
  Bytes compressed;
  uint16_t uncompressedBytes = 0;
  bool withChecksum = true;
  std::optional<uint32_t> checksumOverride;
  Bytes reserve;  // must match the cabinet's data reserve size
};

struct Folder {
  uint16_t compressionWord = 0;
  std::vector<Block> blocks;
  Bytes reserve;  // must match the cabinet's folder reserve size
  std::optional<uint16_t> blockCountOverride;
  std::optional<uint32_t> firstBlockOverride;
};

struct File {
  std::string name;
  uint32_t size = 0;
  uint32_t folderOffset = 0;
  uint16_t folderIndex = 0;
  uint16_t date = 0x5a21;
  uint16_t time = 0x6b4c;
  uint16_t attributes = 0x20;
  bool terminated = true;  // false leaves the name without its NUL
};

struct Cabinet {
  uint16_t version = 0x0103;
  uint16_t setId = 0x1234;
  uint16_t cabinetIndex = 0;
  bool reserveSizes = false;  // flag 4
  Bytes headerReserve;
  uint8_t folderReserveBytes = 0;
  uint8_t dataReserveBytes = 0;
  std::optional<std::pair<std::string, std::string>> previous;  // cabinet, disk
  std::optional<std::pair<std::string, std::string>> next;
  std::vector<Folder> folders;
  std::vector<File> files;
  std::optional<uint32_t> fileOffsetOverride;
  std::optional<uint16_t> folderCountOverride;
  std::optional<uint16_t> fileCountOverride;
  std::string signature = "MSCF";
};

inline void put16(Bytes& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void put32(Bytes& out, uint32_t v) {
  put16(out, uint16_t(v));
  put16(out, uint16_t(v >> 16));
}
inline void set32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}
inline void putName(Bytes& out, const std::string& name, bool terminated = true) {
  out.insert(out.end(), name.begin(), name.end());
  if (terminated) out.push_back(0);
}

// The checksum a block header carries for these sizes, reserve and data.
inline uint32_t blockChecksum(const Block& b) {
  Bytes tail;
  put16(tail, uint16_t(b.compressed.size()));
  put16(tail, b.uncompressedBytes);
  tail.insert(tail.end(), b.reserve.begin(), b.reserve.end());
  uint32_t sum = cab::checksum(b.compressed.data(), uint32_t(b.compressed.size()), 0);
  return cab::checksum(tail.data(), uint32_t(tail.size()), sum);
}

inline Bytes build(const Cabinet& c) {
  Bytes out;
  out.insert(out.end(), c.signature.begin(), c.signature.end());
  out.resize(36, 0);
  uint16_t flags = (c.previous ? 1 : 0) | (c.next ? 2 : 0) | (c.reserveSizes ? 4 : 0);
  auto set16 = [&](size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
  };
  set16(24, c.version);
  set16(26, c.folderCountOverride.value_or(uint16_t(c.folders.size())));
  set16(28, c.fileCountOverride.value_or(uint16_t(c.files.size())));
  set16(30, flags);
  set16(32, c.setId);
  set16(34, c.cabinetIndex);
  if (c.reserveSizes) {
    put16(out, uint16_t(c.headerReserve.size()));
    out.push_back(c.folderReserveBytes);
    out.push_back(c.dataReserveBytes);
    out.insert(out.end(), c.headerReserve.begin(), c.headerReserve.end());
  }
  if (c.previous) {
    putName(out, c.previous->first);
    putName(out, c.previous->second);
  }
  if (c.next) {
    putName(out, c.next->first);
    putName(out, c.next->second);
  }
  std::vector<size_t> folderAt;
  for (const Folder& f : c.folders) {
    folderAt.push_back(out.size());
    put32(out, 0);
    put16(out, f.blockCountOverride.value_or(uint16_t(f.blocks.size())));
    put16(out, f.compressionWord);
    out.insert(out.end(), f.reserve.begin(), f.reserve.end());
  }
  set32(out, 16, c.fileOffsetOverride.value_or(uint32_t(out.size())));
  for (const File& f : c.files) {
    put32(out, f.size);
    put32(out, f.folderOffset);
    put16(out, f.folderIndex);
    put16(out, f.date);
    put16(out, f.time);
    put16(out, f.attributes);
    putName(out, f.name, f.terminated);
  }
  for (size_t i = 0; i < c.folders.size(); ++i) {
    const Folder& f = c.folders[i];
    set32(out, folderAt[i], f.firstBlockOverride.value_or(uint32_t(out.size())));
    for (const Block& b : f.blocks) {
      put32(out, b.checksumOverride.value_or(b.withChecksum ? blockChecksum(b) : 0));
      put16(out, uint16_t(b.compressed.size()));
      put16(out, b.uncompressedBytes);
      out.insert(out.end(), b.reserve.begin(), b.reserve.end());
      out.insert(out.end(), b.compressed.begin(), b.compressed.end());
    }
  }
  set32(out, 8, uint32_t(out.size()));
  return out;
}

// Deterministic test content.
inline Bytes pattern(size_t bytes, uint32_t seed) {
  Bytes out(bytes);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < bytes; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = uint8_t(x >> 16);
  }
  return out;
}

// Stored blocks of at most `blockBytes` for a folder's uncompressed stream.
inline std::vector<Block> storedBlocks(const Bytes& stream, size_t blockBytes = 32768) {
  std::vector<Block> blocks;
  for (size_t at = 0; at < stream.size(); at += blockBytes) {
    size_t n = std::min(blockBytes, stream.size() - at);
    Block b;
    b.compressed.assign(stream.begin() + at, stream.begin() + at + n);
    b.uncompressedBytes = uint16_t(n);
    blocks.push_back(std::move(b));
  }
  return blocks;
}

// One stored folder holding `contents` one after another, listed as files name0, name1, ...
struct StoredFiles {
  Cabinet cabinet;
  std::vector<Bytes> contents;
};
inline StoredFiles storedCabinet(const std::vector<std::pair<std::string, Bytes>>& files,
                                 size_t blockBytes = 32768) {
  StoredFiles result;
  Bytes stream;
  for (const auto& [name, data] : files) {
    File f;
    f.name = name;
    f.size = uint32_t(data.size());
    f.folderOffset = uint32_t(stream.size());
    result.cabinet.files.push_back(f);
    result.contents.push_back(data);
    stream.insert(stream.end(), data.begin(), data.end());
  }
  Folder folder;
  folder.blocks = storedBlocks(stream, blockBytes);
  result.cabinet.folders.push_back(std::move(folder));
  return result;
}

}  // namespace cabtest
