// The cabinet decoder: reads MS-CAB archives through caller-supplied callbacks and hands
// their files to a notification callback one by one. It touches no file system and no heap
// of its own.
#pragma once

#include <cstdint>

#include "cabinet/callbacks.h"

namespace cab {

// Codes written to the ErrorRecord.
enum ErrorCode : int32_t {
  None = 0,
  OpenFailed = 1,
  BadSignature = 2,
  BadVersion = 3,
  Damaged = 4,
  NoMemory = 5,
  BadMethod = 6,
  DecodeFailed = 7,
  WriteFailed = 8,
  LayoutMismatch = 9,
  SetMismatch = 10,
  Cancelled = 11,
};

// The name of an error code ("Damaged", "BadVersion", ...), "Unknown" for others.
const char* errorName(int32_t code);

// Owned by the caller; written by the decoder on every failure and never cleared.
struct ErrorRecord {
  int32_t code;
  int32_t detail;  // the cabinet's version word for BadVersion, else 0
  int32_t set;     // 1 once any code was written
};

struct CabinetInfo {
  uint32_t cabinetBytes;
  uint16_t folderCount;
  uint16_t fileCount;
  uint16_t setId;
  uint16_t cabinetIndex;
  int32_t hasReserve;   // 1 when the header carries reserve sizes
  int32_t hasPrevious;  // 1 when a previous cabinet is named
  int32_t hasNext;      // 2 (the flag value, unshifted) when a next cabinet is named
};

enum NotificationKind : int32_t {
  CabinetOpened = 0,
  ContinuedFile = 1,
  OpenOutput = 2,
  OutputComplete = 3,
  NeedNextCabinet = 4,
  ListPosition = 5,
};

// Filled before each call of the notification callback; which fields are meaningful
// depends on the kind. The strings point into the context and stay valid until the next
// notification.
struct Notification {
  int32_t value;
  char* text1;
  char* text2;
  char* text3;
  void* user;
  int32_t handle;
  uint16_t date;  // DOS date
  uint16_t time;  // DOS time
  uint16_t attributes;
  uint16_t setId;
  uint16_t cabinetIndex;
  uint16_t folderIndex;
  int32_t errorCode;
};

enum ReserveKind : int32_t { HeaderReserve = 0, FolderReserve = 1, DataReserve = 2 };

struct ReserveRecord {
  int32_t kind;
  void* user;
  uint8_t* area;  // null when areaBytes is 0
  uint16_t areaBytes;
  // kind 0
  uint16_t setId;
  int32_t cabinetIndex;
  // kind 1
  uint16_t folderIndex;
  // kind 2
  uint8_t* data;         // where this part's compressed bytes begin
  uint16_t dataBytes;    // all compressed bytes now held for the block
  int32_t split;         // 1 for either part of a block divided between two cabinets
  uint16_t partOffset;   // bytes held before this part
};

using NotifyFn = int32_t (*)(int32_t kind, Notification* notification);
using ReserveFn = int32_t (*)(ReserveRecord* record);

struct DecoderContext;

// Returns null with NoMemory in the record when allocate fails.
DecoderContext* create(AllocateFn allocate, ReleaseFn release, OpenFn open, ReadFn read,
                       WriteFn write, CloseFn close, SeekFn seek, ErrorRecord* errors);
// 1 when the handle is positioned at a cabinet header of version 0x0103, else 0.
int32_t isCabinet(DecoderContext* context, int32_t handle, CabinetInfo* info);
// Walks the cabinet at path + name; 1 when every file entry was processed, 0 on failure.
int32_t copy(DecoderContext* context, const char* cabinetName, const char* cabinetPath,
             int32_t flags, NotifyFn notify, ReserveFn reserve, void* user);
int32_t destroy(DecoderContext* context);

}  // namespace cab
