// The compressors of the cabinet writer. A FolderCompressor encodes the data blocks of one
// folder in order; it may carry history from one block to the next, as every method but
// "stored" does.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pack {

// Compression methods, as the low four bits of a folder's compression word.
enum class Method : uint16_t { Stored = 0, Mszip = 1, Quantum = 2, Lzx = 3 };

class FolderCompressor {
 public:
  virtual ~FolderCompressor() = default;
  // The folder's compression word: method in the low 4 bits, window parameter in bits 8-12.
  virtual uint16_t compressionWord() const = 0;
  // Appends the compressed form of one data block (1 to 32768 bytes) to `out`.
  // `lastBlock` is true for the folder's final block.
  virtual void compressBlock(std::span<const uint8_t> block, bool lastBlock,
                             std::vector<uint8_t>& out) = 0;
};

// Factories, one per method. Each returns null when the parameter is out of range.
std::unique_ptr<FolderCompressor> makeStoredCompressor();
std::unique_ptr<FolderCompressor> makeMszipCompressor(int level);          // zlib level 1-9
std::unique_ptr<FolderCompressor> makeLzxCompressor(int windowBits);      // 15-21
std::unique_ptr<FolderCompressor> makeQuantumCompressor(int windowBits);  // 10-21

// Parses a method text, "none", "mszip", "mszip:LEVEL", "lzx:WINDOWBITS" or
// "quantum:WINDOWBITS", and makes its compressor. Null with a few words in `error` when the
// text is malformed, a parameter out of range, or the method not built in.
std::unique_ptr<FolderCompressor> makeCompressor(std::string_view method, std::string* error);

}  // namespace pack
