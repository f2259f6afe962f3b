// Writes MS-CAB archives: files grouped into folders, each folder compressed by its own
// FolderCompressor into data blocks of at most 32768 uncompressed bytes. With a size limit
// the output becomes a cabinet set whose cabinets name their neighbours; a folder may run
// on into the next cabinet and a data block may be divided between two cabinets.
//
// Compressed blocks are spooled to a temporary file beside the first cabinet and laid out
// into cabinets by finish(), so input of any size passes through in 32 KB steps.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pack/compressor.h"

namespace pack {

// Attribute bits of a file entry.
inline constexpr uint16_t AttributeReadOnly = 0x01;
inline constexpr uint16_t AttributeArchive = 0x20;
inline constexpr uint16_t AttributeRunAfterExtraction = 0x40;
inline constexpr uint16_t AttributeUtf8Name = 0x80;

struct CabinetLayout {
  uint16_t setId = 0;
  // Reserve areas: header (at most 60000 bytes), each folder entry, each data block.
  uint16_t headerReserveBytes = 0;
  uint8_t folderReserveBytes = 0;
  uint8_t dataReserveBytes = 0;
  bool checksums = true;
  // 0: one cabinet of any size. Otherwise no cabinet of the set exceeds this many bytes.
  uint64_t maxCabinetBytes = 0;
};

struct FileEntry {
  std::string name;  // as stored: backslash separators, no terminator
  uint16_t date = 0;  // DOS date
  uint16_t time = 0;  // DOS time
  uint16_t attributes = AttributeArchive;
};

// Largest uncompressed stream of one folder: 65535 blocks of 32768 bytes, the most one
// folder entry can count.
inline constexpr uint64_t MaxFolderBytes = 65535ull * 32768;

class CabinetWriter {
 public:
  // Cabinet `index` of the set is written to `directory` + cabinetName(index); the bare
  // name is what neighbouring cabinets record. `directory` is empty or ends with '/'.
  CabinetWriter(std::string directory, std::function<std::string(int index)> cabinetName,
                CabinetLayout layout);
  ~CabinetWriter();
  CabinetWriter(const CabinetWriter&) = delete;
  CabinetWriter& operator=(const CabinetWriter&) = delete;

  // Starts a new folder; the files added next go into it. A file added before any folder
  // was begun starts a stored folder.
  bool beginFolder(std::unique_ptr<FolderCompressor> compressor);
  // Starts a file; its bytes are given by appendData until the next addFile, beginFolder
  // or finish.
  bool addFile(const FileEntry& entry);
  bool appendData(std::span<const uint8_t> bytes);
  // Lays out and writes the cabinet(s). Every call after a failure fails too.
  bool finish();

  // A few words on the first failure.
  const std::string& error() const { return error_; }
  // Paths of the cabinets written by finish(), in set order.
  const std::vector<std::string>& cabinetPaths() const { return written_; }

  // Bytes of the uncompressed stream of the folder being filled.
  uint64_t currentFolderBytes() const;

 private:
  struct Block {
    uint64_t spoolOffset;
    uint32_t compressedBytes;
    uint32_t uncompressedBytes;
  };
  struct Folder {
    uint16_t compressionWord;
    std::vector<Block> blocks;
    std::vector<size_t> files;  // indices into files_, in order of their offsets
    uint64_t uncompressedBytes = 0;
  };
  struct File {
    FileEntry entry;
    size_t folder;
    uint64_t offset;
    uint64_t bytes = 0;
  };
  struct Cabinet;

  bool fail(std::string message);
  bool flushPending(bool lastBlock);
  bool closeFolder();
  bool layOut(std::vector<Cabinet>& cabinets);
  bool writeCabinet(const std::vector<Cabinet>& cabinets, size_t index);

  std::string directory_;
  std::function<std::string(int)> cabinetName_;
  CabinetLayout layout_;
  std::string error_;
  bool finished_ = false;

  std::vector<Folder> folders_;
  std::vector<File> files_;
  std::unique_ptr<FolderCompressor> compressor_;
  // Uncompressed bytes not yet compressed: a full block is held back until it is known
  // whether it is the folder's last.
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> compressed_;

  std::string spoolPath_;
  std::FILE* spool_ = nullptr;
  uint64_t spoolBytes_ = 0;
  std::vector<std::string> written_;
};

// The data block checksum field: the checksum of the compressed bytes, continued over the
// block header after its checksum field (sizes and reserve area).
uint32_t blockChecksum(std::span<const uint8_t> compressed, std::span<const uint8_t> headerTail);

}  // namespace pack
