// The cabinet reader: walks a cabinet's header, folder and file entries through the caller's
// callbacks, follows each wanted file through its folder's data blocks and follows folders
// that continue into the next cabinet of a set.
//
// Layout read (little-endian):
//   header, 36 bytes: 0 "MSCF", 8 cabinet size, 16 offset of the first file entry,
//     24 version 0x0103, 26 folder count, 28 file count, 30 flags (1 previous cabinet named,
//     2 next cabinet named, 4 reserve sizes present), 32 set id, 34 cabinet index
//   [flag 4] header reserve size u16, folder reserve size u8, data reserve size u8,
//     header reserve area
//   [flag 1] previous cabinet name, previous disk name   (NUL-terminated, <= 255 chars)
//   [flag 2] next cabinet name, next disk name
//   folder entries: first block offset u32, block count u16, compression word u16, reserve
//   file entries (at the header's offset): size u32, folder offset u32, folder index u16,
//     date u16, time u16, attributes u16, NUL-terminated name
//   data blocks: checksum u32, compressed size u16, uncompressed size u16 (0 = continues
//     in the next cabinet), reserve area, compressed bytes
//
// The cabinet is read through two handles on the same file: the header handle walks the
// header, names and file list; the data handle reads folder entries and data blocks.
#include <cstring>
#include <new>

#include "cabinet/cabinet_decoder.h"
#include "cabinet/cabinet_format.h"
#include "cabinet/checksum.h"
#include "cabinet/lzx.h"
#include "cabinet/mszip.h"
#include "cabinet/quantum.h"

namespace cab {
namespace {

constexpr uint32_t NameReadBytes = 256;  // a name and its terminator
constexpr uint32_t NameBufferBytes = 257;
constexpr size_t PathLimitChars = 256;
constexpr size_t FullPathLimitChars = 257;
constexpr uint16_t SupportedVersion = 0x0103;
constexpr int32_t SizeUnknown = 0xffff;
constexpr int32_t NoFolder = 0xffff;
constexpr int32_t Closed = -1;
// Decoders may read a few bytes past the end of a block; this tail keeps such reads inside
// the allocation even for a block that fills the whole input buffer.
constexpr uint32_t InputSlackBytes = 8;

constexpr int32_t OpenReadBinary = 0x8000;
constexpr int32_t PermissionReadWrite = 0x180;

enum HeaderFlag : uint16_t { PreviousNamed = 1, NextNamed = 2, ReservePresent = 4 };

// Special folder indices of a file entry.
constexpr uint16_t UndefinedFolder = 0xfffc;
constexpr uint16_t ContinuedFromPrevious = 0xfffd;
constexpr uint16_t ContinuedToNext = 0xfffe;
constexpr uint16_t ContinuedBoth = 0xffff;

constexpr uint16_t RunAfterExtraction = 0x40;

// Compression word: method in the low 4 bits, window parameter in bits 8 to 12.
enum Method : uint16_t { Stored = 0, Mszip = 1, Quantum = 2, Lzx = 3, NoMethod = 15 };
constexpr uint16_t methodOf(uint16_t word) { return word & 0x000f; }
constexpr uint32_t windowParameterOf(uint16_t word) { return (word >> 8) & 0x1f; }

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

struct DecoderContext {
  ErrorRecord* errors;
  ReleaseFn release;
  AllocateFn allocate;
  OpenFn open;
  ReadFn read;
  WriteFn write;
  CloseFn close;
  SeekFn seek;
  NotifyFn notify;
  ReserveFn reserve;
  int32_t firstFolderPosition;
  uint32_t blockStart;  // offset in the folder's stream of the block in the output buffer
  void* decompressor;
  void* user;
  uint8_t* input;
  uint8_t* output;
  uint8_t* folderEntry;
  uint8_t* blockHeader;
  uint8_t* headerReserve;
  uint8_t header[HeaderBytes];
  uint8_t fileEntry[FileEntryBytes];
  int32_t dataHandle;
  int32_t headerHandle;
  int32_t outputHandle;
  int32_t currentFolder;
  uint32_t outputBytes;
  uint32_t inputBytes;
  int32_t switched;
  int32_t headerReserveBytes;
  int32_t folderEntryBytes;
  int32_t blockHeaderBytes;
  uint16_t filesRemaining;
  uint16_t skipCount;
  uint16_t blocksRemaining;
  uint16_t method;
  char fileName[NameBufferBytes];
  char previousCabinet[NameBufferBytes];
  char previousDisk[NameBufferBytes];
  char nextCabinet[NameBufferBytes];
  char nextDisk[NameBufferBytes];
  char cabinetPath[NameBufferBytes];
  char fullPath[FullPathLimitChars + 1];
  Notification notification;
  ReserveRecord reserveRecord;
  // The block now held: compressed bytes in the input buffer (both parts of a divided
  // block), its uncompressed size as stated, and its decoded length in the output buffer.
  uint32_t heldBytes;
  uint32_t blockStatedBytes;
  uint32_t blockBytes;
  int32_t lastCode;  // the code of the latest failure, also without an ErrorRecord
};

namespace {

using Context = DecoderContext;

bool fail(Context& c, int32_t code, int32_t detail = 0) {
  c.lastCode = code;
  if (c.errors != nullptr) {
    c.errors->code = code;
    c.errors->detail = detail;
    c.errors->set = 1;
  }
  return false;
}

// A read that must deliver exactly `bytes`; -1 and short counts are both failures.
bool readExact(Context& c, int32_t handle, void* buffer, uint32_t bytes) {
  int32_t got = c.read(handle, buffer, bytes);
  return got >= 0 && uint32_t(got) == bytes;
}

bool seekTo(Context& c, int32_t handle, uint64_t position) {
  if (position > 0x7fffffff) return false;
  return c.seek(handle, int32_t(position), 0) != -1;
}

void closeHandle(Context& c, int32_t& handle) {
  if (handle != Closed) c.close(handle);
  handle = Closed;
}

void closeCabinet(Context& c) {
  closeHandle(c, c.dataHandle);
  closeHandle(c, c.headerHandle);
}

// Sends one notification; -1 cancels the copy (code 11). Other answers go to *answer.
bool notify(Context& c, NotificationKind kind, int32_t* answer = nullptr) {
  c.notification.user = c.user;
  int32_t result = c.notify(kind, &c.notification);
  if (result == -1) return fail(c, Cancelled);
  if (answer != nullptr) *answer = result;
  return true;
}

bool callReserve(Context& c, ReserveKind kind, uint8_t* area, int32_t areaBytes) {
  if (c.reserve == nullptr) return true;
  c.reserveRecord.kind = kind;
  c.reserveRecord.user = c.user;
  c.reserveRecord.area = areaBytes > 0 ? area : nullptr;
  c.reserveRecord.areaBytes = uint16_t(areaBytes);
  if (c.reserve(&c.reserveRecord) == -1) return fail(c, Cancelled);
  return true;
}

// Reads a NUL-terminated name of at most 255 characters on the header handle and leaves the
// handle just after its terminator.
bool readName(Context& c, char* name) {
  int32_t start = c.seek(c.headerHandle, 0, 1);
  if (start == -1) return fail(c, Damaged);
  int32_t got = c.read(c.headerHandle, name, NameReadBytes);
  if (got <= 0 || uint32_t(got) > NameReadBytes) return fail(c, Damaged);
  size_t length = strnlen(name, size_t(got));
  name[got < int32_t(NameReadBytes) ? got : NameReadBytes - 1] = '\0';
  // No terminator among the bytes read: too long, or cut short by the end of the file.
  if (length == size_t(got)) return fail(c, Damaged);
  if (!seekTo(c, c.headerHandle, uint64_t(start) + length + 1)) return fail(c, Damaged);
  return true;
}

// ---- Decompressors ------------------------------------------------------------------------

DecoderResult createDecompressor(Context& c, uint16_t word, uint32_t* blockLimit,
                                 uint32_t* bufferNeed, void** handle) {
  AllocateFn allocate = handle != nullptr ? c.allocate : nullptr;
  ReleaseFn release = handle != nullptr ? c.release : nullptr;
  uint32_t parameter = windowParameterOf(word);
  switch (methodOf(word)) {
    case Mszip:
      return mszip::create(blockLimit, allocate, release, bufferNeed, handle);
    case Quantum:
      return quantum::create(blockLimit, parameter, allocate, release, bufferNeed, handle);
    case Lzx:
      // LZX windows run from 2^15 to 2^21 bytes; larger ones would not even be sizeable.
      if (parameter < 15 || parameter > 21) return DataError;
      return lzx::create(blockLimit, uint32_t(1) << parameter, allocate, release, bufferNeed,
                         handle);
    default:
      return DataError;
  }
}

DecoderResult resetDecompressor(Context& c) {
  switch (methodOf(c.method)) {
    case Mszip: return mszip::reset(c.decompressor);
    case Quantum: return quantum::reset(c.decompressor);
    case Lzx: return lzx::reset(c.decompressor);
    default: return Ok;
  }
}

DecoderResult destroyDecompressor(Context& c) {
  switch (methodOf(c.method)) {
    case Mszip: return mszip::destroy(c.decompressor);
    case Quantum: return quantum::destroy(c.decompressor);
    case Lzx: return lzx::destroy(c.decompressor);
    default: return Ok;
  }
}

void releaseBuffers(Context& c) {
  if (c.input != nullptr) c.release(c.input);
  if (c.output != nullptr) c.release(c.output);
  c.input = nullptr;
  c.output = nullptr;
  c.inputBytes = 0;
  c.outputBytes = 0;
}

// Makes `word` the held compression word, replacing the decompressor and its buffers when
// the word changes. Method 15 only drops the current one.
bool selectMethod(Context& c, uint16_t word) {
  if (word == c.method) return true;
  uint16_t held = methodOf(c.method);
  if (held == Mszip || held == Quantum || held == Lzx) {
    if (destroyDecompressor(c) != Ok) return fail(c, DecodeFailed);
    c.decompressor = nullptr;
  }
  releaseBuffers(c);
  c.method = word;

  uint16_t method = methodOf(word);
  if (method == NoMethod) return true;
  uint32_t blockLimit = MaxBlockBytes;
  uint32_t inputNeed = MaxBlockBytes;
  if (method != Stored) {
    if (method > Lzx) {
      c.method = NoMethod;
      return fail(c, BadMethod);
    }
    if (createDecompressor(c, word, &blockLimit, &inputNeed, nullptr) != Ok ||
        blockLimit == 0 || blockLimit > MaxBlockBytes || inputNeed < blockLimit ||
        inputNeed > 0x7fffffff - InputSlackBytes) {
      c.method = NoMethod;
      return fail(c, DecodeFailed);
    }
  }
  c.input = static_cast<uint8_t*>(c.allocate(int32_t(inputNeed + InputSlackBytes)));
  if (c.input != nullptr) {
    std::memset(c.input + inputNeed, 0, InputSlackBytes);
    c.output = static_cast<uint8_t*>(c.allocate(int32_t(MaxBlockBytes)));
  }
  if (c.input == nullptr || c.output == nullptr) {
    releaseBuffers(c);
    c.method = NoMethod;
    return fail(c, NoMemory);
  }
  c.inputBytes = inputNeed;
  c.outputBytes = MaxBlockBytes;
  if (method == Stored) return true;

  void* handle = nullptr;
  DecoderResult created = createDecompressor(c, word, &blockLimit, &inputNeed, &handle);
  if (created != Ok || handle == nullptr) {
    releaseBuffers(c);
    c.method = NoMethod;
    return fail(c, created == OutOfMemory ? NoMemory : DecodeFailed);
  }
  c.decompressor = handle;
  return true;
}

// ---- Cabinets -----------------------------------------------------------------------------

// Opens cabinetPath + name on both handles and reads its header, reserve area and names.
// With `expect`, the cabinet must carry the given set id and index.
bool openCabinet(Context& c, const char* name, bool expect, uint16_t setId, uint16_t index) {
  size_t pathLength = strnlen(c.cabinetPath, NameBufferBytes);
  size_t nameLength = strnlen(name, FullPathLimitChars + 1);
  if (pathLength > PathLimitChars || pathLength + nameLength > FullPathLimitChars) {
    return fail(c, OpenFailed);
  }
  std::memcpy(c.fullPath, c.cabinetPath, pathLength);
  std::memcpy(c.fullPath + pathLength, name, nameLength);
  c.fullPath[pathLength + nameLength] = '\0';

  c.headerHandle = c.open(c.fullPath, OpenReadBinary, PermissionReadWrite);
  if (c.headerHandle == Closed) return fail(c, OpenFailed);
  c.dataHandle = c.open(c.fullPath, OpenReadBinary, PermissionReadWrite);
  if (c.dataHandle == Closed) return fail(c, OpenFailed);

  uint8_t* h = c.header;
  if (!readExact(c, c.headerHandle, h, HeaderBytes) || std::memcmp(h, "MSCF", 4) != 0) {
    return fail(c, BadSignature);
  }
  uint16_t version = get16(h + 24);
  if (version != SupportedVersion) return fail(c, BadVersion, version);
  if (expect && (get16(h + 32) != setId || get16(h + 34) != index)) {
    return fail(c, SetMismatch);
  }
  uint16_t flags = get16(h + 30);

  int32_t headerReserveBytes = 0, folderReserveBytes = 0, dataReserveBytes = 0;
  if (flags & ReservePresent) {
    uint8_t sizes[ReserveSizesBytes];
    if (!readExact(c, c.headerHandle, sizes, ReserveSizesBytes)) return fail(c, BadSignature);
    headerReserveBytes = get16(sizes);
    folderReserveBytes = sizes[2];
    dataReserveBytes = sizes[3];
  }
  // 0xffff is both "not yet known" and a valid size: an area of that size may be missing.
  if (headerReserveBytes != c.headerReserveBytes ||
      (headerReserveBytes > 0 && c.headerReserve == nullptr)) {
    if (c.headerReserve != nullptr) c.release(c.headerReserve);
    c.headerReserve = nullptr;
    c.headerReserveBytes = headerReserveBytes;
    if (headerReserveBytes > 0) {
      c.headerReserve = static_cast<uint8_t*>(c.allocate(headerReserveBytes));
      if (c.headerReserve == nullptr) {
        c.headerReserveBytes = SizeUnknown;
        return fail(c, NoMemory);
      }
    }
  }
  if (headerReserveBytes > 0 &&
      !readExact(c, c.headerHandle, c.headerReserve, uint32_t(headerReserveBytes))) {
    return fail(c, BadSignature);
  }

  // The entry sizes are fixed by the first cabinet this context meets.
  int32_t folderEntryBytes = int32_t(FolderEntryFixedBytes) + folderReserveBytes;
  int32_t blockHeaderBytes = int32_t(BlockHeaderFixedBytes) + dataReserveBytes;
  if (c.folderEntryBytes == SizeUnknown) {
    c.folderEntry = static_cast<uint8_t*>(c.allocate(folderEntryBytes));
    if (c.folderEntry == nullptr) return fail(c, NoMemory);
    c.folderEntryBytes = folderEntryBytes;
  } else if (c.folderEntryBytes != folderEntryBytes) {
    return fail(c, LayoutMismatch);
  }
  if (c.blockHeaderBytes == SizeUnknown) {
    c.blockHeader = static_cast<uint8_t*>(c.allocate(blockHeaderBytes));
    if (c.blockHeader == nullptr) return fail(c, NoMemory);
    c.blockHeaderBytes = blockHeaderBytes;
  } else if (c.blockHeaderBytes != blockHeaderBytes) {
    return fail(c, LayoutMismatch);
  }

  c.previousCabinet[0] = c.previousDisk[0] = '\0';
  c.nextCabinet[0] = c.nextDisk[0] = '\0';
  if (flags & PreviousNamed) {
    if (!readName(c, c.previousCabinet) || !readName(c, c.previousDisk)) return false;
  }
  if (flags & NextNamed) {
    if (!readName(c, c.nextCabinet) || !readName(c, c.nextDisk)) return false;
  }

  c.firstFolderPosition = c.seek(c.headerHandle, 0, 1);
  if (c.firstFolderPosition == -1) return fail(c, Damaged);
  if (!seekTo(c, c.headerHandle, get32(h + 16))) return fail(c, Damaged);
  c.filesRemaining = get16(h + 28);

  c.notification.text1 = c.nextCabinet;
  c.notification.text2 = c.nextDisk;
  c.notification.text3 = c.cabinetPath;
  c.notification.setId = get16(h + 32);
  c.notification.cabinetIndex = get16(h + 34);
  if (!notify(c, CabinetOpened)) return false;
  c.reserveRecord.setId = get16(h + 32);
  c.reserveRecord.cabinetIndex = get16(h + 34);
  return callReserve(c, HeaderReserve, c.headerReserve, c.headerReserveBytes);
}

// ---- Folders and blocks -------------------------------------------------------------------

bool openFolder(Context& c, uint16_t folder) {
  c.currentFolder = folder;
  uint64_t entry = uint64_t(uint32_t(c.firstFolderPosition)) + uint64_t(folder) * c.folderEntryBytes;
  if (!seekTo(c, c.dataHandle, entry) ||
      !readExact(c, c.dataHandle, c.folderEntry, uint32_t(c.folderEntryBytes)) ||
      !seekTo(c, c.dataHandle, get32(c.folderEntry))) {
    return fail(c, Damaged);
  }
  c.blocksRemaining = get16(c.folderEntry + 4);
  uint16_t word = get16(c.folderEntry + 6);
  if (methodOf(word) == NoMethod) return fail(c, BadMethod);
  if (!selectMethod(c, word)) return false;
  c.reserveRecord.folderIndex = folder;
  return callReserve(c, FolderReserve, c.folderEntry + FolderEntryFixedBytes,
                     c.folderEntryBytes - int32_t(FolderEntryFixedBytes));
}

// Reads one data block on the data handle into the input buffer at `position` (after the
// first part of a block divided between two cabinets) and verifies its checksum.
bool readBlock(Context& c, uint32_t position) {
  uint8_t* header = c.blockHeader;
  if (!readExact(c, c.dataHandle, header, uint32_t(c.blockHeaderBytes))) return fail(c, Damaged);
  uint32_t compressedBytes = get16(header + 4);
  if (uint64_t(position) + compressedBytes > c.inputBytes) return fail(c, Damaged);
  uint8_t* data = c.input + position;
  if (!readExact(c, c.dataHandle, data, compressedBytes)) return fail(c, Damaged);
  uint32_t stored = get32(header);
  if (stored != 0) {
    uint32_t sum = checksum(data, compressedBytes, 0);
    sum = checksum(header + 4, uint32_t(c.blockHeaderBytes) - 4, sum);
    if (sum != stored) return fail(c, Damaged);
  }
  c.heldBytes = position + compressedBytes;
  c.blockStatedBytes = get16(header + 6);

  c.reserveRecord.data = data;
  c.reserveRecord.dataBytes = uint16_t(c.heldBytes);
  c.reserveRecord.split = position > 0 || c.blockStatedBytes == 0 ? 1 : 0;
  c.reserveRecord.partOffset = uint16_t(position);
  return callReserve(c, DataReserve, header + BlockHeaderFixedBytes,
                     c.blockHeaderBytes - int32_t(BlockHeaderFixedBytes));
}

// Expands the held block into the output buffer.
bool decodeBlock(Context& c) {
  uint32_t decodedBytes = 0;
  if (c.blockStatedBytes > c.outputBytes) return fail(c, DecodeFailed);
  switch (methodOf(c.method)) {
    case Stored:
      if (c.heldBytes > c.outputBytes) return fail(c, DecodeFailed);
      std::memcpy(c.output, c.input, c.heldBytes);
      decodedBytes = c.heldBytes;
      break;
    case Mszip:
      decodedBytes = c.outputBytes;
      if (mszip::decompress(c.decompressor, c.input, c.heldBytes, c.output, &decodedBytes) != Ok) {
        return fail(c, DecodeFailed);
      }
      break;
    case Quantum:
      decodedBytes = c.blockStatedBytes;
      if (quantum::decompress(c.decompressor, c.input, c.heldBytes, c.output, &decodedBytes) !=
          Ok) {
        return fail(c, DecodeFailed);
      }
      break;
    case Lzx:
      decodedBytes = c.blockStatedBytes;
      if (lzx::decompress(c.decompressor, c.input, c.heldBytes, c.output, &decodedBytes) != Ok) {
        return fail(c, DecodeFailed);
      }
      break;
    default:
      return fail(c, BadMethod);
  }
  if (decodedBytes != c.blockStatedBytes) return fail(c, DecodeFailed);
  c.blockBytes = decodedBytes;
  return true;
}

bool continueIntoNextCabinet(Context& c);

// Reads and decodes the next block of the current folder, following the folder into the
// next cabinet when its blocks run out here or its last block is divided.
bool readNextBlock(Context& c) {
  c.blockStart += c.blockBytes;
  c.blockBytes = 0;
  if (c.blocksRemaining == 0 && !continueIntoNextCabinet(c)) return false;
  c.blocksRemaining -= 1;
  if (!readBlock(c, 0)) return false;
  if (c.blockStatedBytes == 0) {
    if (!continueIntoNextCabinet(c)) return false;
    c.blocksRemaining -= 1;
    if (!readBlock(c, c.heldBytes)) return false;
    // The second part states the size of the whole block; a second 0 is not a block.
    if (c.blockStatedBytes == 0) return fail(c, Damaged);
  }
  return decodeBlock(c);
}

bool makeFolderCurrent(Context& c, uint16_t folder) {
  if (c.switched) return true;
  if (folder == ContinuedToNext || folder == ContinuedBoth) {
    uint16_t folderCount = get16(c.header + 26);
    if (folderCount == 0) return fail(c, Damaged);
    folder = uint16_t(folderCount - 1);
  }
  if (int32_t(folder) == c.currentFolder) return true;
  if (resetDecompressor(c) != Ok) return fail(c, DecodeFailed);
  if (!openFolder(c, folder)) return false;
  c.blockStart = 0;
  c.blockBytes = 0;
  return readNextBlock(c);
}

// ---- Cabinet sets -------------------------------------------------------------------------

bool continueIntoNextCabinet(Context& c) {
  uint16_t setId = get16(c.header + 32);
  uint16_t expectedIndex = uint16_t(get16(c.header + 34) + 1);
  // Without a next cabinet named there is nothing to continue into: the folder is cut short.
  if (!(get16(c.header + 30) & NextNamed)) return fail(c, Damaged);

  int32_t previousAttempt = None;
  for (;;) {
    bool closedCleanly = true;
    if (c.dataHandle != Closed && c.close(c.dataHandle) != 0) closedCleanly = false;
    c.dataHandle = Closed;
    if (c.headerHandle != Closed && c.close(c.headerHandle) != 0) closedCleanly = false;
    c.headerHandle = Closed;
    if (!closedCleanly) return fail(c, Damaged);

    c.notification.text1 = c.nextCabinet;
    c.notification.text2 = c.nextDisk;
    c.notification.text3 = c.cabinetPath;
    c.notification.setId = setId;
    c.notification.cabinetIndex = expectedIndex;
    c.notification.errorCode = previousAttempt;
    if (!notify(c, NeedNextCabinet)) return false;
    // The callback may have rewritten the name and the path; keep them terminated.
    c.nextCabinet[NameBufferBytes - 1] = '\0';
    c.nextDisk[NameBufferBytes - 1] = '\0';
    c.cabinetPath[NameBufferBytes - 1] = '\0';

    // Opening reads the new cabinet's own names over these; a failed attempt must ask for
    // the same cabinet again.
    char wantedCabinet[NameBufferBytes], wantedDisk[NameBufferBytes];
    std::memcpy(wantedCabinet, c.nextCabinet, NameBufferBytes);
    std::memcpy(wantedDisk, c.nextDisk, NameBufferBytes);
    bool opened = openCabinet(c, wantedCabinet, true, setId, expectedIndex);
    if (opened && get16(c.header + 26) == 0) opened = fail(c, Damaged);
    if (opened) opened = openFolder(c, 0);
    if (opened) break;
    if (c.lastCode == Cancelled) return false;
    previousAttempt = c.lastCode;
    std::memcpy(c.nextCabinet, wantedCabinet, NameBufferBytes);
    std::memcpy(c.nextDisk, wantedDisk, NameBufferBytes);
  }
  if (c.blocksRemaining == 0) return fail(c, Damaged);

  // The head of the new list repeats the file being extracted and the files skipped that
  // continued here.
  uint32_t passOver = uint32_t(c.skipCount) + 1;
  while (passOver > 0 && c.filesRemaining > 0) {
    c.filesRemaining -= 1;
    passOver -= 1;
    if (!readExact(c, c.headerHandle, c.fileEntry, FileEntryBytes)) return fail(c, Damaged);
    if (!readName(c, c.fileName)) return false;
  }
  c.skipCount = 0;
  c.switched = 1;
  return true;
}

// ---- Files --------------------------------------------------------------------------------

bool writeFileBytes(Context& c) {
  uint32_t size = get32(c.fileEntry);
  uint32_t offset = get32(c.fileEntry + 4);
  uint16_t folder = get16(c.fileEntry + 8);
  if (offset < c.blockStart) {
    // The folder can be decoded again from its start, unless that start lies in a cabinet
    // already left behind.
    if (c.switched) return fail(c, Damaged);
    c.currentFolder = NoFolder;
  }
  if (!makeFolderCurrent(c, folder)) return false;
  uint64_t position = offset;
  uint64_t end = uint64_t(offset) + size;
  while (position >= uint64_t(c.blockStart) + c.blockBytes) {
    if (!readNextBlock(c)) return false;
  }
  for (;;) {
    uint32_t inBlock = uint32_t(position - c.blockStart);
    uint32_t count = c.blockBytes - inBlock;
    if (uint64_t(count) > end - position) count = uint32_t(end - position);
    int32_t written = c.write(c.outputHandle, c.output + inBlock, count);
    if (written < 0 || uint32_t(written) != count) return fail(c, WriteFailed);
    position += count;
    if (position == end) return true;
    if (!readNextBlock(c)) return false;
  }
}

bool extractFile(Context& c) {
  if (get32(c.fileEntry) > 0 && !writeFileBytes(c)) {
    closeHandle(c, c.outputHandle);
    return false;
  }
  uint16_t attributes = get16(c.fileEntry + 14);
  c.notification.value = (attributes & RunAfterExtraction) ? 1 : 0;
  c.notification.attributes = uint16_t(attributes & ~RunAfterExtraction);
  c.notification.text1 = c.fileName;
  c.notification.handle = c.outputHandle;
  c.notification.date = get16(c.fileEntry + 10);
  c.notification.time = get16(c.fileEntry + 12);
  c.notification.folderIndex = get16(c.fileEntry + 8);
  c.outputHandle = Closed;  // the callback owns it now
  int32_t answer = 0;
  if (!notify(c, OutputComplete, &answer)) return false;
  if (answer == 0) return fail(c, WriteFailed);
  return true;
}

// Tells the callback where the list stands; it may move the list or change its length.
bool listPosition(Context& c) {
  int32_t position = c.seek(c.headerHandle, 0, 1);
  if (position == -1) return fail(c, Damaged);
  c.notification.value = position;
  c.notification.setId = get16(c.header + 32);
  c.notification.folderIndex = c.filesRemaining;
  if (!notify(c, ListPosition)) return false;
  c.filesRemaining = c.notification.folderIndex;
  if (c.filesRemaining != 0 && c.notification.value != position &&
      c.seek(c.headerHandle, c.notification.value, 0) == -1) {
    return fail(c, Cancelled);
  }
  return true;
}

bool processFileEntry(Context& c) {
  c.filesRemaining -= 1;
  if (!readExact(c, c.headerHandle, c.fileEntry, FileEntryBytes)) return fail(c, Damaged);
  if (!readName(c, c.fileName)) return false;
  uint16_t folder = get16(c.fileEntry + 8);
  Notification& n = c.notification;
  n.value = int32_t(get32(c.fileEntry));
  n.text1 = c.fileName;
  n.text2 = c.previousCabinet;
  n.text3 = c.previousDisk;
  n.date = get16(c.fileEntry + 10);
  n.time = get16(c.fileEntry + 12);
  n.attributes = get16(c.fileEntry + 14);
  n.folderIndex = folder;

  if (folder == ContinuedFromPrevious || folder == ContinuedBoth) {
    if (!c.switched) return notify(c, ContinuedFile);
  } else if (c.switched) {
    c.filesRemaining = 0;
    return true;
  } else if (folder == UndefinedFolder) {
    return fail(c, Damaged);
  } else if (folder >= get16(c.header + 26) && folder < UndefinedFolder) {
    return true;
  }

  int32_t answer = 0;
  if (!notify(c, OpenOutput, &answer)) return false;
  if (answer == 0) {
    if (folder == ContinuedToNext || folder == ContinuedBoth) c.skipCount += 1;
    return true;
  }
  c.outputHandle = answer;
  return extractFile(c);
}

bool copyCabinet(Context& c, const char* cabinetName, const char* cabinetPath) {
  if (std::strlen(cabinetPath) > PathLimitChars) return fail(c, OpenFailed);
  std::strcpy(c.cabinetPath, cabinetPath);
  if (!openCabinet(c, cabinetName, false, 0, 0)) return false;
  c.switched = 0;
  c.currentFolder = NoFolder;
  std::strcpy(c.cabinetPath, cabinetPath);

  if (!listPosition(c)) return false;
  while (c.filesRemaining > 0) {
    if (!processFileEntry(c)) return false;
    if (c.filesRemaining == 0 && !listPosition(c)) return false;
  }
  return true;
}

}  // namespace

DecoderContext* create(AllocateFn allocate, ReleaseFn release, OpenFn open, ReadFn read,
                       WriteFn write, CloseFn close, SeekFn seek, ErrorRecord* errors) {
  void* memory = allocate(int32_t(sizeof(DecoderContext)));
  if (memory == nullptr) {
    if (errors != nullptr) *errors = ErrorRecord{NoMemory, 0, 1};
    return nullptr;
  }
  Context* c = new (memory) DecoderContext{};
  c->errors = errors;
  c->release = release;
  c->allocate = allocate;
  c->open = open;
  c->read = read;
  c->write = write;
  c->close = close;
  c->seek = seek;
  c->dataHandle = c->headerHandle = c->outputHandle = Closed;
  c->currentFolder = NoFolder;
  c->headerReserveBytes = c->folderEntryBytes = c->blockHeaderBytes = SizeUnknown;
  c->method = NoMethod;
  return c;
}

int32_t isCabinet(DecoderContext* context, int32_t handle, CabinetInfo* info) {
  if (context == nullptr || info == nullptr) return 0;
  Context& c = *context;
  uint8_t h[HeaderBytes];
  if (!readExact(c, handle, h, HeaderBytes) || std::memcmp(h, "MSCF", 4) != 0) return 0;
  uint16_t version = get16(h + 24);
  if (version != SupportedVersion) return fail(c, BadVersion, version);
  uint16_t flags = get16(h + 30);
  info->cabinetBytes = get32(h + 8);
  info->folderCount = get16(h + 26);
  info->fileCount = get16(h + 28);
  info->setId = get16(h + 32);
  info->cabinetIndex = get16(h + 34);
  info->hasReserve = (flags & ReservePresent) ? 1 : 0;
  info->hasPrevious = (flags & PreviousNamed) ? 1 : 0;
  info->hasNext = flags & NextNamed;
  return 1;
}

int32_t copy(DecoderContext* context, const char* cabinetName, const char* cabinetPath,
             int32_t /*flags*/, NotifyFn notify, ReserveFn reserve, void* user) {
  if (context == nullptr || notify == nullptr) return 0;
  Context& c = *context;
  c.user = user;
  c.notify = notify;
  c.reserve = reserve;
  c.skipCount = 0;
  bool copied = copyCabinet(c, cabinetName != nullptr ? cabinetName : "",
                            cabinetPath != nullptr ? cabinetPath : "");
  closeCabinet(c);
  return copied ? 1 : 0;
}

int32_t destroy(DecoderContext* context) {
  if (context == nullptr) return 0;
  Context& c = *context;
  selectMethod(c, NoMethod);
  releaseBuffers(c);  // also when the decompressor refused to be destroyed
  if (c.headerReserve != nullptr) c.release(c.headerReserve);
  if (c.folderEntry != nullptr) c.release(c.folderEntry);
  if (c.blockHeader != nullptr) c.release(c.blockHeader);
  closeCabinet(c);
  ReleaseFn release = c.release;
  c.~DecoderContext();
  release(context);
  return 1;
}

const char* errorName(int32_t code) {
  switch (code) {
    case None: return "None";
    case OpenFailed: return "OpenFailed";
    case BadSignature: return "BadSignature";
    case BadVersion: return "BadVersion";
    case Damaged: return "Damaged";
    case NoMemory: return "NoMemory";
    case BadMethod: return "BadMethod";
    case DecodeFailed: return "DecodeFailed";
    case WriteFailed: return "WriteFailed";
    case LayoutMismatch: return "LayoutMismatch";
    case SetMismatch: return "SetMismatch";
    case Cancelled: return "Cancelled";
    default: return "Unknown";
  }
}

}  // namespace cab
