// The counting and extracting passes over the payload, and their notification handlers.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "payload/cabinet_extractor.h"
#include "payload/payload_reader.h"

namespace payload {
namespace {

// Process-wide: the decoder context and its error record, and the pass that is running.
cab::DecoderContext* decoderContext = nullptr;
cab::ErrorRecord decoderErrors = {};
CabinetExtractor* currentExtractor = nullptr;
PassMode passMode = PassIdle;

// The runtime's descriptor open flags for an output file: read-write, create, truncate,
// binary; permission read and write.
constexpr int OutputOpenFlags = _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY;
constexpr int OutputPermission = _S_IREAD | _S_IWRITE;

// Formats "%s\%s" into out; false when it does not fit.
bool joinPath(char* out, size_t outBytes, const char* folder, const char* name) {
  int n = std::snprintf(out, outBytes, "%s\\%s", folder, name);
  return n >= 0 && static_cast<size_t>(n) < outBytes;
}

// Asks the filter about an archive name; on acceptance renamed holds the rewritten name.
bool acceptName(const PassRecord* pass, const char* archiveName, char (&renamed)[PathChars]) {
  if (archiveName == nullptr || pass == nullptr || pass->filter == nullptr) return false;
  std::snprintf(renamed, sizeof renamed, "%s", archiveName);
  return pass->filter(FilterAccept, renamed, pass->filterUser) != 0;
}

int32_t countingHandler(CabinetExtractor* extractor, int32_t kind, cab::Notification* n) {
  auto* pass = static_cast<PassRecord*>(n->user);
  switch (kind) {
    case cab::OpenOutput: {
      char renamed[PathChars];
      if (!acceptName(pass, n->text1, renamed)) return 0;
      if (pass->destination != nullptr &&
          !isSafeTargetName(renamed, std::strlen(pass->destination))) {
        extractor->unsafeNameCount += 1;
        return -1;  // nothing of this payload may be written
      }
      extractor->fileCount += 1;
      return 0;  // skipped: the counting pass decompresses and writes nothing
    }
    case cab::NeedNextCabinet:
      return -1;  // the payload is one self-contained cabinet
    default:
      return 0;
  }
}

// Sets creation, last-access and last-write time of a file to a DOS local date and time.
void setFileTimes(const char* path, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, utc;
  DosDateTimeToFileTime(dosDate, dosTime, &local);
  LocalFileTimeToFileTime(&local, &utc);
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFileTime(file, &utc, &utc, &utc);
  CloseHandle(file);
}

int32_t openOutput(CabinetExtractor* extractor, cab::Notification* n) {
  auto* pass = static_cast<PassRecord*>(n->user);
  char renamed[PathChars];
  if (!acceptName(pass, n->text1, renamed)) return 0;
  if (pass->destination == nullptr ||
      !isSafeTargetName(renamed, std::strlen(pass->destination))) {
    extractor->unsafeNameCount += 1;
    return -1;
  }
  char target[PathChars], temporary[PathChars];
  if (!joinPath(target, sizeof target, pass->destination, renamed)) return -1;
  int n2 = std::snprintf(temporary, sizeof temporary, "%s%s", target, TemporarySuffix);
  if (n2 < 0 || static_cast<size_t>(n2) >= sizeof temporary) return -1;

  if (makeDirectories(target, &extractor->log) == 0) return -1;
  extractor->currentTarget = target;
  extractor->currentTemporary = temporary;
  SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);  // a stale leftover
  int handle = _open(temporary, OutputOpenFlags, OutputPermission);
  pass->filter(FilterOpened, renamed, pass->filterUser);
  if (handle == -1) extractor->currentTemporary.clear();
  return handle;
}

int32_t outputComplete(CabinetExtractor* extractor, cab::Notification* n) {
  auto* pass = static_cast<PassRecord*>(n->user);
  _close(n->handle);
  const std::string temporary = extractor->currentTemporary;
  const std::string target = extractor->currentTarget;
  if (temporary.empty()) return -1;
  setFileTimes(temporary.c_str(), n->date, n->time);
  if (!extractor->log.install(temporary, target)) return -1;
  extractor->currentTemporary.clear();
  // Every extracted file ends with normal attributes, whatever the cabinet says.
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (pass->filter != nullptr) pass->filter(FilterDone, n->text1, pass->filterUser);
  return 1;
}

int32_t extractingHandler(CabinetExtractor* extractor, int32_t kind, cab::Notification* n) {
  switch (kind) {
    case cab::OpenOutput:
      return openOutput(extractor, n);
    case cab::OutputComplete:
      return outputComplete(extractor, n);
    case cab::NeedNextCabinet:
      return -1;  // the payload is one self-contained cabinet
    default:
      return 0;
  }
}

}  // namespace

DecoderOwner::DecoderOwner() {
  if (decoderContext != nullptr) return;
  decoderContext = cab::create(allocate, release, openPayload, readPayload, writeFile,
                               closeFile, seekPayload, &decoderErrors);
  payloadState.baseOffset = 0;
}

DecoderOwner::~DecoderOwner() {
  if (decoderContext == nullptr) return;
  cab::destroy(decoderContext);
  decoderContext = nullptr;
}

cab::DecoderContext* DecoderOwner::context() const { return decoderContext; }

cab::ErrorRecord* DecoderOwner::errors() const {
  return decoderContext != nullptr ? &decoderErrors : nullptr;
}

int32_t routeNotification(int32_t kind, cab::Notification* notification) {
  if (currentExtractor == nullptr) return 0;
  switch (passMode) {
    case PassExtracting:
      return extractingHandler(currentExtractor, kind, notification);
    case PassCounting:
      return countingHandler(currentExtractor, kind, notification);
    default:
      return 0;
  }
}

int32_t CabinetExtractor::countFiles(const char* path, NameFilter nameFilter, void* user,
                                     const char* destination) {
  if (context() == nullptr) return 0;
  filter = nameFilter;
  filterUser = user;
  fileNamePart(path, cabinetName, sizeof cabinetName);
  directoryPart(path, cabinetPath, sizeof cabinetPath);

  int32_t handle = openPayload(path, OpenReadOnly | OpenBinary, 0);
  if (handle == -1) return 0;
  cab::CabinetInfo info;
  int32_t isCabinet = cab::isCabinet(context(), handle, &info);
  if (isCabinet) {
    PassRecord pass = {filterUser, filter, destination};
    currentExtractor = this;
    passMode = PassCounting;
    cab::copy(context(), cabinetName, cabinetPath, 0, routeNotification, nullptr, &pass);
    currentExtractor = nullptr;
    passMode = PassIdle;
  }
  closeFile(handle);
  return isCabinet;
}

int32_t CabinetExtractor::extractFiles(const char* destination) {
  if (context() == nullptr) return 0;
  if (unsafeNameCount != 0) return 0;
  PassRecord pass = {filterUser, filter, destination};
  log = ReplaceLog();
  currentTarget.clear();
  currentTemporary.clear();
  currentExtractor = this;
  passMode = PassExtracting;
  int32_t result =
      cab::copy(context(), cabinetName, cabinetPath, 0, routeNotification, nullptr, &pass);
  currentExtractor = nullptr;
  passMode = PassIdle;

  if (result != 0) {
    log.commit();
  } else {
    // The decoder has closed the output of a file it failed on; drop that half file.
    if (!currentTemporary.empty()) {
      SetFileAttributesA(currentTemporary.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(currentTemporary.c_str());
      currentTemporary.clear();
    }
    log.rollback();
  }
  return result;
}

}  // namespace payload
