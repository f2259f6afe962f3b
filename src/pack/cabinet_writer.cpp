#include "pack/cabinet_writer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cabinet/cabinet_format.h"
#include "cabinet/callbacks.h"
#include "cabinet/checksum.h"

// Cabinet layout written here (integers little-endian):
//   header      36 bytes: "MSCF", 0, cabinet bytes, 0, file entries offset, 0, version 0x0103,
//               folder count, file count, flags (1 previous, 2 next, 4 reserve), set id, index
//   [flag 4]    header reserve bytes (u16), folder reserve bytes (u8), data reserve bytes (u8),
//               header reserve area
//   [flag 1]    previous cabinet name, previous disk name (NUL-terminated)
//   [flag 2]    next cabinet name, next disk name
//   folders     first data block offset (u32), block count (u16), compression word (u16),
//               folder reserve area
//   files       size (u32), offset in the folder's stream (u32), folder index (u16),
//               date, time, attributes (u16 each), NUL-terminated name
//   data blocks checksum (u32), compressed bytes (u16), uncompressed bytes (u16, 0 for the
//               first part of a block divided between two cabinets), data reserve area, data
//
// A folder that runs on into the next cabinet is that cabinet's folder 0. The file entries
// follow what the reader does when it meets the cabinet boundary: the last entry of the
// cabinet is the first file with data beyond it (folder index 0xfffe, or 0xffff when it
// also came from an earlier cabinet); extracting it moves the reader on, which passes over
// that entry at the head of the next cabinet's list and then extracts the entries marked
// 0xfffd (the rest of the continued folder's files) before it stops at the first entry of
// an ordinary folder.

namespace pack {
namespace {

using cab::FileEntryBytes;
using cab::HeaderBytes;
using cab::MaxBlockBytes;
using cab::ReserveSizesBytes;
using cab::BlockHeaderFixedBytes;
using cab::FolderEntryFixedBytes;
constexpr uint32_t MaxHeaderReserveBytes = 60000;
constexpr size_t MaxNameBytes = 255;

constexpr uint16_t FlagPrevious = 1;
constexpr uint16_t FlagNext = 2;
constexpr uint16_t FlagReserve = 4;

constexpr uint16_t ContinuedFromPrevious = 0xfffd;
constexpr uint16_t ContinuedToNext = 0xfffe;
constexpr uint16_t ContinuedBoth = 0xffff;

std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

void put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
  put16(out, value & 0xffff);
  put16(out, value >> 16);
}
void putName(std::vector<uint8_t>& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}
void set32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) out[at + i] = uint8_t(value >> (8 * i));
}

// Reserve areas carry a recognisable pattern rather than zeros, so a reader that miscounts
// them, or a checksum that skips them, shows.
void putReserve(std::vector<uint8_t>& out, size_t bytes, uint32_t seed) {
  for (size_t i = 0; i < bytes; i++) out.push_back(uint8_t(seed * 37 + i * 11 + 1));
}

uint32_t entryBytes(const FileEntry& entry) { return FileEntryBytes + entry.name.size() + 1; }

}  // namespace

uint32_t blockChecksum(std::span<const uint8_t> compressed, std::span<const uint8_t> headerTail) {
  uint32_t sum = cab::checksum(compressed.data(), uint32_t(compressed.size()), 0);
  return cab::checksum(headerTail.data(), uint32_t(headerTail.size()), sum);
}

// The blocks of one folder held by one cabinet. `headSkipBytes` > 0: the first block is the
// second part of a divided block, its compressed bytes from that offset on. `tailBytes` > 0:
// the last block is the first part of a divided block, its first `tailBytes` bytes.
struct CabinetWriter::Cabinet {
  struct Part {
    size_t folder;
    size_t firstBlock;
    size_t blockCount = 0;
    uint32_t headSkipBytes = 0;
    uint32_t tailBytes = 0;
    bool continued = false;
  };
  struct Entry {
    size_t file;
    uint16_t folderIndex;
  };
  std::vector<Part> parts;
  std::vector<Entry> entries;
};

CabinetWriter::CabinetWriter(std::string directory, std::function<std::string(int)> cabinetName,
                             CabinetLayout layout)
    : directory_(std::move(directory)), cabinetName_(std::move(cabinetName)), layout_(layout) {
  if (layout_.headerReserveBytes > MaxHeaderReserveBytes)
    fail("header reserve above 60000 bytes");
}

CabinetWriter::~CabinetWriter() {
  if (spool_) {
    std::fclose(spool_);
    std::error_code ignored;
    std::filesystem::remove(pathOf(spoolPath_), ignored);
  }
}

bool CabinetWriter::fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
  return false;
}

uint64_t CabinetWriter::currentFolderBytes() const {
  return folders_.empty() ? 0 : folders_.back().uncompressedBytes;
}

bool CabinetWriter::beginFolder(std::unique_ptr<FolderCompressor> compressor) {
  if (!error_.empty() || finished_) return fail("writer already finished");
  if (!compressor) return fail("no compressor for the folder");
  if (!closeFolder()) return false;
  Folder folder;
  folder.compressionWord = compressor->compressionWord();
  folders_.push_back(std::move(folder));
  compressor_ = std::move(compressor);
  return true;
}

bool CabinetWriter::addFile(const FileEntry& entry) {
  if (!error_.empty() || finished_) return fail("writer already finished");
  if (entry.name.empty() || entry.name.size() > MaxNameBytes)
    return fail("file name must hold 1 to 255 bytes: " + entry.name);
  if (entry.name.find('\0') != std::string::npos) return fail("file name holds a NUL byte");
  if (!compressor_ && !beginFolder(makeStoredCompressor())) return false;
  Folder& folder = folders_.back();
  File file{entry, folders_.size() - 1, folder.uncompressedBytes};
  folder.files.push_back(files_.size());
  files_.push_back(std::move(file));
  return true;
}

bool CabinetWriter::appendData(std::span<const uint8_t> bytes) {
  if (!error_.empty() || finished_) return fail("writer already finished");
  if (files_.empty() || files_.back().folder != folders_.size() - 1)
    return fail("data given before a file was added");
  File& file = files_.back();
  Folder& folder = folders_.back();
  if (file.bytes + bytes.size() > 0xffffffffull) return fail("file above 4 GB: " + file.entry.name);
  if (folder.uncompressedBytes + bytes.size() > MaxFolderBytes)
    return fail("folder above " + std::to_string(MaxFolderBytes) + " bytes");
  file.bytes += bytes.size();
  folder.uncompressedBytes += bytes.size();
  while (!bytes.empty()) {
    if (pending_.size() == MaxBlockBytes && !flushPending(false)) return false;
    size_t take = std::min<size_t>(bytes.size(), MaxBlockBytes - pending_.size());
    pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + take);
    bytes = bytes.subspan(take);
  }
  return true;
}

bool CabinetWriter::flushPending(bool lastBlock) {
  if (pending_.empty()) return true;
  if (!spool_) {
    spoolPath_ = directory_ + cabinetName_(0) + ".spool";
#ifdef _WIN32
    spool_ = _wfopen(pathOf(spoolPath_).c_str(), L"w+b");
#else
    spool_ = std::fopen(spoolPath_.c_str(), "w+b");
#endif
    if (!spool_) return fail("cannot create " + spoolPath_);
  }
  compressed_.clear();
  compressor_->compressBlock(pending_, lastBlock, compressed_);
  if (compressed_.empty() || compressed_.size() > 0xffff)
    return fail("compressor gave " + std::to_string(compressed_.size()) + " bytes for a block");
  if (std::fwrite(compressed_.data(), 1, compressed_.size(), spool_) != compressed_.size())
    return fail("cannot write " + spoolPath_);
  folders_.back().blocks.push_back(
      Block{spoolBytes_, uint32_t(compressed_.size()), uint32_t(pending_.size())});
  spoolBytes_ += compressed_.size();
  pending_.clear();
  return true;
}

bool CabinetWriter::closeFolder() {
  if (!compressor_) return true;
  if (!flushPending(true)) return false;
  compressor_.reset();
  // A folder without files has nothing to offer a reader.
  if (folders_.back().files.empty()) folders_.pop_back();
  return true;
}

// Fills cabinets in order. For every block (or part of one) placed, the cabinet must still
// hold its file entries as they would be if the cabinet ended right there, its header with
// next-cabinet names, and its folder entries.
bool CabinetWriter::layOut(std::vector<Cabinet>& cabinets) {
  const uint64_t limit = layout_.maxCabinetBytes ? layout_.maxCabinetBytes : ~0ull;
  const bool reserve =
      layout_.headerReserveBytes || layout_.folderReserveBytes || layout_.dataReserveBytes;
  const uint32_t folderBytes = FolderEntryFixedBytes + layout_.folderReserveBytes;
  const uint32_t blockHeaderBytes = BlockHeaderFixedBytes + layout_.dataReserveBytes;

  std::vector<std::string> names;
  auto nameOf = [&](size_t index) -> const std::string& {
    while (names.size() <= index) names.push_back(cabinetName_(int(names.size())));
    return names[index];
  };
  auto fixedBytes = [&](size_t index) -> uint64_t {
    uint64_t bytes = HeaderBytes;
    if (reserve) bytes += ReserveSizesBytes + layout_.headerReserveBytes;
    if (index > 0) bytes += nameOf(index - 1).size() + 2;
    if (layout_.maxCabinetBytes) bytes += nameOf(index + 1).size() + 2;
    return bytes;
  };

  cabinets.clear();
  cabinets.emplace_back();
  uint64_t used = fixedBytes(0);  // header, folder entries, finished entries, data
  bool hasData = false;           // the cabinet holds data or a complete folder

  for (size_t f = 0; f < folders_.size(); f++) {
    const Folder& folder = folders_[f];
    const std::vector<size_t>& files = folder.files;
    bool continued = false;
    size_t firstFile = 0;   // first file listed in the current cabinet
    size_t scan = 0;        // files before it end within partEnd
    uint64_t scanBytes = 0; // entry bytes of files [firstFile, scan)
    uint64_t partEnd = 0;   // uncompressed bytes of the folder's complete blocks so far
    uint64_t partBytes = 0; // data bytes placed in this cabinet for the folder
    uint32_t headSkip = 0;
    size_t block = 0;
    auto startPart = [&](bool isContinued) {
      Cabinet::Part part;
      part.folder = f;
      part.firstBlock = block;
      part.headSkipBytes = headSkip;
      part.continued = isContinued;
      cabinets.back().parts.push_back(part);
      continued = isContinued;
      partBytes = 0;
    };
    // Files [firstFile, scan) end within partEnd and are surely listed here.
    auto advanceScan = [&]() {
      while (scan < files.size() && files_[files[scan]].offset + files_[files[scan]].bytes <= partEnd) {
        scanBytes += entryBytes(files_[files[scan]].entry);
        scan++;
      }
    };
    // Entry bytes of this folder's files listed in the current cabinet if it ended with
    // `end` bytes of the folder inside it; `listEnd` receives the index after the last.
    auto listedBytes = [&](uint64_t end, bool folderDone, size_t* listEnd) -> uint64_t {
      uint64_t bytes = scanBytes;
      size_t i = scan;
      while (i < files.size() && files_[files[i]].offset + files_[files[i]].bytes <= end)
        bytes += entryBytes(files_[files[i++]].entry);
      if (folderDone) {
        for (; i < files.size(); i++) bytes += entryBytes(files_[files[i]].entry);
      } else {
        // Zero-length files up to and including the first file with data beyond `end`.
        while (i < files.size()) {
          const File& file = files_[files[i++]];
          bytes += entryBytes(file.entry);
          if (file.bytes > 0) break;
        }
      }
      if (listEnd) *listEnd = i;
      return bytes;
    };
    auto listFiles = [&](size_t listEnd, bool folderDone) {
      Cabinet& cabinet = cabinets.back();
      uint16_t index = continued ? ContinuedFromPrevious : uint16_t(cabinet.parts.size() - 1);
      for (size_t i = firstFile; i < listEnd; i++) {
        uint16_t folderIndex = index;
        if (!folderDone && i + 1 == listEnd) folderIndex = continued ? ContinuedBoth : ContinuedToNext;
        cabinet.entries.push_back({files[i], folderIndex});
      }
    };
    auto nextCabinet = [&]() {
      cabinets.emplace_back();
      used = fixedBytes(cabinets.size() - 1);
      hasData = false;
    };

    startPart(false);
    used += folderBytes;
    while (true) {
      bool folderDone = block == folder.blocks.size();
      if (folderDone) {
        uint64_t need = used + partBytes + listedBytes(partEnd, true, nullptr);
        if (need > limit) {
          if (!hasData) return fail("size limit too small for one folder's entries");
          // Move the whole folder entry on; it holds no data here.
          cabinets.back().parts.pop_back();
          nextCabinet();
          startPart(false);
          used += folderBytes;
          continue;
        }
        size_t listEnd;
        used += partBytes + listedBytes(partEnd, true, &listEnd);
        listFiles(listEnd, true);
        hasData = true;
        break;
      }
      const Block& b = folder.blocks[block];
      const bool last = block + 1 == folder.blocks.size();
      uint64_t blockBytes = blockHeaderBytes + b.compressedBytes - headSkip;
      uint64_t need =
          used + partBytes + blockBytes + listedBytes(partEnd + b.uncompressedBytes, last, nullptr);
      Cabinet::Part& part = cabinets.back().parts.back();
      if (need <= limit && part.blockCount < 0xffff) {
        part.blockCount++;
        partBytes += blockBytes;
        partEnd += b.uncompressedBytes;
        advanceScan();
        headSkip = 0;
        block++;
        hasData = true;
        continue;
      }
      // The block does not fit whole: divide it, or move on to the next cabinet.
      size_t listEnd;
      uint64_t held = used + partBytes + listedBytes(partEnd, false, &listEnd);
      uint64_t room = held < limit ? limit - held : 0;
      if (headSkip == 0 && room > blockHeaderBytes && b.compressedBytes > 1 &&
          part.blockCount < 0xffff) {
        uint32_t first = uint32_t(std::min<uint64_t>(room - blockHeaderBytes, b.compressedBytes - 1));
        part.blockCount++;
        part.tailBytes = first;
        listFiles(listEnd, false);
        nextCabinet();
        headSkip = first;
      } else if (part.blockCount > 0) {
        listFiles(listEnd, false);
        nextCabinet();
      } else if (hasData && !part.continued) {
        cabinets.back().parts.pop_back();
        nextCabinet();
        startPart(false);
        used += folderBytes;
        continue;
      } else {
        return fail("size limit too small: a cabinet must hold a whole data block (up to 32 KB and more "
                    "for incompressible data) with its entries");
      }
      // The folder runs on into the new cabinet as its folder 0, listing first the file
      // that carried the reader across.
      firstFile = listEnd - 1;
      scan = firstFile;
      scanBytes = 0;
      startPart(true);
      used += folderBytes;
    }
  }

  if (cabinets.size() > 0xffff) return fail("more than 65535 cabinets in the set");
  for (size_t i = 0; i < cabinets.size(); i++)
    if (nameOf(i).empty() || nameOf(i).size() > MaxNameBytes)
      return fail("cabinet name must hold 1 to 255 bytes: " + nameOf(i));
  for (const Cabinet& cabinet : cabinets) {
    if (cabinet.entries.size() > 0xffff) return fail("more than 65535 files in one cabinet");
    if (cabinet.parts.size() > 0xffff) return fail("more than 65535 folders in one cabinet");
  }
  return true;
}

bool CabinetWriter::writeCabinet(const std::vector<Cabinet>& cabinets, size_t index) {
  const Cabinet& cabinet = cabinets[index];
  const bool reserve =
      layout_.headerReserveBytes || layout_.folderReserveBytes || layout_.dataReserveBytes;
  const bool hasPrevious = index > 0;
  const bool hasNext = index + 1 < cabinets.size();
  const std::string name = cabinetName_(int(index));

  std::vector<uint8_t> out;
  out.insert(out.end(), {'M', 'S', 'C', 'F'});
  put32(out, 0);
  put32(out, 0);  // cabinet bytes, set below
  put32(out, 0);
  put32(out, 0);  // file entries offset, set below
  put32(out, 0);
  out.push_back(3);  // version 1.3
  out.push_back(1);
  put16(out, uint32_t(cabinet.parts.size()));
  put16(out, uint32_t(cabinet.entries.size()));
  put16(out, (hasPrevious ? FlagPrevious : 0) | (hasNext ? FlagNext : 0) | (reserve ? FlagReserve : 0));
  put16(out, layout_.setId);
  put16(out, uint32_t(index));
  if (reserve) {
    put16(out, layout_.headerReserveBytes);
    out.push_back(layout_.folderReserveBytes);
    out.push_back(layout_.dataReserveBytes);
    putReserve(out, layout_.headerReserveBytes, uint32_t(index));
  }
  if (hasPrevious) {
    putName(out, cabinetName_(int(index - 1)));
    putName(out, "");
  }
  if (hasNext) {
    putName(out, cabinetName_(int(index + 1)));
    putName(out, "");
  }

  // Sizes of every part's blocks as stored here, to place the folders' first blocks.
  uint64_t entriesBytes = 0;
  for (const auto& entry : cabinet.entries) entriesBytes += entryBytes(files_[entry.file].entry);
  const uint32_t blockHeaderBytes = BlockHeaderFixedBytes + layout_.dataReserveBytes;
  auto storedBytes = [&](const Cabinet::Part& part, size_t i) -> uint32_t {
    const Block& b = folders_[part.folder].blocks[part.firstBlock + i];
    // A block is divided at most once, so a part never starts and ends in the same block.
    if (i + 1 == part.blockCount && part.tailBytes) return part.tailBytes;
    return b.compressedBytes - (i == 0 ? part.headSkipBytes : 0);
  };
  uint64_t dataOffset = out.size() + cabinet.parts.size() * (FolderEntryFixedBytes + layout_.folderReserveBytes) +
                        entriesBytes;
  for (size_t p = 0; p < cabinet.parts.size(); p++) {
    const Cabinet::Part& part = cabinet.parts[p];
    put32(out, uint32_t(dataOffset));
    put16(out, uint32_t(part.blockCount));
    put16(out, folders_[part.folder].compressionWord);
    putReserve(out, layout_.folderReserveBytes, uint32_t(part.folder + 100));
    for (size_t i = 0; i < part.blockCount; i++) dataOffset += blockHeaderBytes + storedBytes(part, i);
  }
  if (dataOffset > 0xffffffffull) return fail("cabinet above 4 GB; use a size limit");
  set32(out, 16, uint32_t(out.size()));
  for (const auto& entry : cabinet.entries) {
    const File& file = files_[entry.file];
    put32(out, uint32_t(file.bytes));
    put32(out, uint32_t(file.offset));
    put16(out, entry.folderIndex);
    put16(out, file.entry.date);
    put16(out, file.entry.time);
    put16(out, file.entry.attributes);
    putName(out, file.entry.name);
  }
  set32(out, 8, uint32_t(dataOffset));
  if (layout_.maxCabinetBytes && dataOffset > layout_.maxCabinetBytes)
    return fail("internal: cabinet " + name + " above the size limit");

  std::string path = directory_ + name;
  std::ofstream file(pathOf(path), std::ios::binary | std::ios::trunc);
  if (!file) return fail("cannot create " + path);
  file.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));

  std::vector<uint8_t> data;
  std::vector<uint8_t> header;
  for (const Cabinet::Part& part : cabinet.parts) {
    for (size_t i = 0; i < part.blockCount; i++) {
      const Block& b = folders_[part.folder].blocks[part.firstBlock + i];
      uint32_t skip = i == 0 ? part.headSkipBytes : 0;
      uint32_t bytes = storedBytes(part, i);
      bool firstPart = i + 1 == part.blockCount && part.tailBytes;
      data.resize(bytes);
      if (std::fseek(spool_, 0, SEEK_SET) != 0) return fail("cannot read " + spoolPath_);
      // fseek takes a long; step through large spools from the start.
      uint64_t at = b.spoolOffset + skip;
      while (at > 0) {
        long step = long(std::min<uint64_t>(at, 0x40000000));
        if (std::fseek(spool_, step, SEEK_CUR) != 0) return fail("cannot read " + spoolPath_);
        at -= uint64_t(step);
      }
      if (std::fread(data.data(), 1, bytes, spool_) != bytes) return fail("cannot read " + spoolPath_);
      header.clear();
      put32(header, 0);
      put16(header, bytes);
      put16(header, firstPart ? 0 : b.uncompressedBytes);
      putReserve(header, layout_.dataReserveBytes, uint32_t(part.firstBlock + i));
      if (layout_.checksums)
        set32(header, 0, blockChecksum(data, std::span(header).subspan(4)));
      file.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
      file.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    }
  }
  file.close();
  if (!file) return fail("cannot write " + path);
  written_.push_back(path);
  return true;
}

bool CabinetWriter::finish() {
  if (!error_.empty() || finished_) return fail("writer already finished");
  if (!closeFolder()) return false;
  finished_ = true;
  if (spool_ && std::fflush(spool_) != 0) return fail("cannot write " + spoolPath_);
  std::vector<Cabinet> cabinets;
  if (!layOut(cabinets)) return false;
  if (!layout_.maxCabinetBytes && cabinets.size() != 1) return fail("internal: unexpected split");
  for (size_t i = 0; i < cabinets.size(); i++)
    if (!writeCabinet(cabinets, i)) return false;
  return true;
}

}  // namespace pack
