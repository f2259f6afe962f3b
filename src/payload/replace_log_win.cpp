// The undo log of an extracting pass: which targets were put in place, what they replaced,
// and which folders were created, so that a failed pass can be taken back completely.
#include <windows.h>

#include <cstdio>

#include "payload/cabinet_extractor.h"

namespace payload {
namespace {

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A name beside target that no file has yet: target + BackupSuffix, then with a digit.
std::string freeBackupName(const std::string& target) {
  std::string name = target + BackupSuffix;
  for (int i = 1; exists(name) && i < 10; ++i) name = target + BackupSuffix + std::to_string(i);
  return exists(name) ? std::string() : name;
}

void removeFile(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

}  // namespace

bool ReplaceLog::install(const std::string& temporary, const std::string& target) {
  for (const ReplacedFile& earlier : files_) {
    // The same target twice in one pass: its original is already kept.
    if (earlier.target == target) {
      removeFile(target);
      return MoveFileA(temporary.c_str(), target.c_str()) != 0;
    }
  }
  ReplacedFile entry{target, std::string(), FILE_ATTRIBUTE_NORMAL};
  DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    entry.backup = freeBackupName(target);
    if (entry.backup.empty()) return false;
    entry.originalAttributes = attributes;
    // A read-only file can be renamed, but clear the flag so the backup can be deleted.
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileA(target.c_str(), entry.backup.c_str())) {
      SetFileAttributesA(target.c_str(), attributes);
      return false;
    }
  }
  if (!MoveFileA(temporary.c_str(), target.c_str())) {
    if (!entry.backup.empty()) {
      MoveFileA(entry.backup.c_str(), target.c_str());
      SetFileAttributesA(target.c_str(), entry.originalAttributes);
    }
    return false;
  }
  files_.push_back(std::move(entry));
  return true;
}

void ReplaceLog::commit() {
  for (const ReplacedFile& file : files_) {
    if (!file.backup.empty()) removeFile(file.backup);
  }
  files_.clear();
  createdDirectories_.clear();
}

void ReplaceLog::rollback() {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    removeFile(it->target);
    if (!it->backup.empty()) {
      MoveFileA(it->backup.c_str(), it->target.c_str());
      SetFileAttributesA(it->target.c_str(), it->originalAttributes);
    }
  }
  // Innermost folders were created last; a folder still holding foreign files stays.
  for (auto it = createdDirectories_.rbegin(); it != createdDirectories_.rend(); ++it) {
    RemoveDirectoryA(it->c_str());
  }
  files_.clear();
  createdDirectories_.clear();
}

}  // namespace payload
