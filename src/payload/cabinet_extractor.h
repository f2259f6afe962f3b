// The two passes the installer runs over the cabinet appended to its own file: a counting
// pass that asks a name filter which archived files to install, and an extracting pass that
// writes those files below a destination folder.
//
// The extracting pass is all-or-nothing: every file is written beside its target under a
// temporary name, put in place only when complete, and what it replaces is kept until the
// whole pass has succeeded. A failed pass restores every replaced file and removes every
// file and folder it created, so the destination looks exactly as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cabinet/cabinet_decoder.h"

namespace payload {

// Paths are narrow strings of at most PathChars characters including the terminator.
inline constexpr size_t PathChars = 260;

// The kinds of call a NameFilter receives.
enum FilterKind : int32_t {
  FilterAccept = 1,  // name: writable PathChars copy of the archive name; nonzero = install
  FilterOpened = 2,  // name: the rewritten name; the output was just opened (or failed to)
  FilterDone = 4,    // name: the archive name; the file is complete and its times are set
};

using NameFilter = int32_t (*)(int32_t kind, char* name, void* user);

enum PassMode : int32_t { PassIdle = 0, PassExtracting = 1, PassCounting = 2 };

// Given to copy as its user pointer, so every notification carries it.
struct PassRecord {
  void* filterUser;
  NameFilter filter;
  const char* destination;  // null in the counting pass
};

// Creates the one decoder context of the process with the payload callbacks, and destroys
// it again. One exists per process.
class DecoderOwner {
 public:
  DecoderOwner();
  virtual ~DecoderOwner();
  DecoderOwner(const DecoderOwner&) = delete;
  DecoderOwner& operator=(const DecoderOwner&) = delete;

  cab::DecoderContext* context() const;
  // The process-wide error record, or null when no decoder context exists.
  cab::ErrorRecord* errors() const;
};

// One file put in place by the extracting pass, and what it replaced.
struct ReplacedFile {
  std::string target;
  std::string backup;           // empty when the target did not exist before
  uint32_t originalAttributes;  // attributes of the replaced file
};

// The undo log of one extracting pass.
class ReplaceLog {
 public:
  // Moves a complete temporary file onto target, keeping a file already there under a
  // backup name. False when either move fails; the target is then as it was.
  bool install(const std::string& temporary, const std::string& target);
  void noteCreatedDirectory(const std::string& path) { createdDirectories_.push_back(path); }
  // The pass succeeded: drop the backups.
  void commit();
  // The pass failed: restore every replaced file, remove what the pass created.
  void rollback();
  const std::vector<ReplacedFile>& files() const { return files_; }

 private:
  std::vector<ReplacedFile> files_;
  std::vector<std::string> createdDirectories_;
};

class CabinetExtractor {
 public:
  void* filterUser = nullptr;
  NameFilter filter = nullptr;
  char cabinetName[PathChars] = {};
  char cabinetPath[PathChars] = {};
  DecoderOwner owner;
  uint32_t fileCount = 0;
  // Accepted names the counting pass refused because, written below the destination, they
  // would leave it or not fit a path buffer. Nothing may be extracted when this is nonzero.
  uint32_t unsafeNameCount = 0;

  // Counts the files the filter accepts. With a destination, each accepted name is also
  // checked against it (see isSafeTargetName); the pass stops at the first unsafe one.
  // 1 when the file holds a cabinet that passed the cabinet test, else 0.
  int32_t countFiles(const char* path, NameFilter nameFilter, void* user,
                     const char* destination = nullptr);
  // Extracts the accepted files below destination; nonzero when every file was written.
  // On failure the destination is restored to what it was before the pass.
  int32_t extractFiles(const char* destination);

  cab::DecoderContext* context() const { return owner.context(); }
  cab::ErrorRecord* errors() const { return owner.errors(); }

  // State of the extracting pass, used by its notification handler.
  ReplaceLog log;
  std::string currentTarget;
  std::string currentTemporary;
};

// The notification callback given to copy; dispatches to the handler of the current pass.
int32_t routeNotification(int32_t kind, cab::Notification* notification);

// Creates the folders of a file's full path. 1, or 0 when the drive in the path cannot be
// made current. Folders it creates are noted in log when one is given.
int32_t makeDirectories(const char* path, ReplaceLog* log = nullptr);

// The part after the last '\', '/' or ':' (the whole path when it has none), and the part
// up to and including it (empty when none), stepping by characters of the ANSI code page so
// that the trail byte of a double-byte character is never taken for a separator. Each
// copies at most outBytes - 1 characters and a terminator.
void fileNamePart(const char* path, char* out, size_t outBytes);
void directoryPart(const char* path, char* out, size_t outBytes);
// The same for a given code page.
void fileNamePartInCodePage(const char* path, char* out, size_t outBytes, uint32_t codePage);
void directoryPartInCodePage(const char* path, char* out, size_t outBytes, uint32_t codePage);

// Suffixes of the temporary and backup names used beside a target.
inline constexpr const char* TemporarySuffix = ".~new";
inline constexpr const char* BackupSuffix = ".~old";
// Room a target path must leave for the longest name built beside it.
inline constexpr size_t SuffixRoomChars = 8;

// True when name, joined below a destination of destinationChars characters, stays inside
// it: no ".." segment, no ':' anywhere, not empty, and the joined path with room for a
// temporary suffix fits PathChars. Steps by characters of codePage (0 = the ANSI page).
bool isSafeTargetName(const char* name, size_t destinationChars, uint32_t codePage = 0);

}  // namespace payload
