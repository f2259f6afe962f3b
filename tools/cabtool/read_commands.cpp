// cabtool list, test and extract: walk a cabinet, or a whole cabinet set, through the
// cabinet decoder with the payload reader's file callbacks, so the input may be a bare
// cabinet or a file carrying an appended (scrambled) payload.
//
// Every command first lists the set without decoding anything: this finds every cabinet
// of the set, and checks every name, before a byte is written. Then test and extract run
// the decoder once per cabinet; a file whose data run on into the next cabinet is finished
// by the decoder moving on, and in the next cabinet's own run its entry comes as a
// continued file and is passed over, so every file is written once.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "cabinet/cabinet_decoder.h"
#include "commands.h"
#include "names.h"
#include "payload/payload_reader.h"
#include "platform.h"

namespace cabtool {
namespace {

namespace fs = std::filesystem;

fs::path pathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string utf8Of(const fs::path& path) {
  std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

// The decoder keeps the path and the name in 257-byte buffers.
constexpr size_t MaxCabinetPathBytes = 256;
constexpr size_t MaxFullPathBytes = 257;

// Output handle given to the decoder by `test`: what is written to it is counted and dropped.
constexpr int32_t DiscardHandle = 0x7ffffff0;

enum class Mode { List, Test, Extract };

struct Entry {
  std::string name;  // as stored
  uint32_t bytes;
  uint16_t date, time, attributes, folderIndex;
};

struct Walk {
  Mode mode = Mode::List;
  std::string directory;  // of the cabinets: empty or ending with '/'
  std::string target;     // extract: the folder receiving the files
  std::vector<Entry> entries;

  // Per cabinet run.
  bool opened = false;
  std::string nextName;
  // The set id and index the cabinet must carry after the first one, -1 for none.
  int32_t expectedSetId = -1;
  int32_t expectedIndex = -1;
  bool firstCabinet = true;
  // list: a cabinet's list begins with the entries that continued out of the previous
  // cabinet (index 0xfffe or 0xffff there), already listed.
  int headToPass = 0;
  int continuedOut = 0;
  std::string earlierCabinet;  // the set began before the given cabinet

  // A failure the callbacks saw themselves, more precise than the decoder's Cancelled.
  int32_t failureCode = 0;
  std::string failureDetail;

  std::string outputPath;  // extract: the file being written
  Progress* progress = nullptr;
};

Walk* currentWalk = nullptr;

int32_t writeOutput(int32_t handle, const void* buffer, uint32_t bytes) {
  int32_t written = handle == DiscardHandle ? int32_t(bytes) : payload::writeFile(handle, buffer, bytes);
  if (written > 0 && currentWalk && currentWalk->progress) currentWalk->progress->advance(uint32_t(written));
  return written;
}

int32_t closeHandle(int32_t handle) { return handle == DiscardHandle ? 0 : payload::closeFile(handle); }

std::string lowerAscii(std::string text) {
  for (char& c : text) c = char(std::tolower(uint8_t(c)));
  return text;
}

// The file of `directory` whose name equals `name` but for ASCII case; the name as given
// when it exists as it is. Empty when none exists.
std::string findCabinet(const std::string& directory, const std::string& name) {
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return "";
  std::error_code failure;
  fs::path folder = directory.empty() ? fs::path(".") : pathOf(directory);
  if (fs::is_regular_file(folder / pathOf(name), failure)) return name;
  std::string wanted = lowerAscii(name);
  for (fs::directory_iterator it(folder, failure), end; !failure && it != end; it.increment(failure)) {
    std::string candidate = utf8Of(it->path().filename());
    if (lowerAscii(candidate) == wanted && it->is_regular_file(failure)) return candidate;
  }
  return "";
}

Entry entryOf(const cab::Notification* n) {
  return Entry{n->text1, uint32_t(n->value), n->date, n->time, n->attributes, n->folderIndex};
}

int32_t openOutput(Walk& walk, const cab::Notification* n) {
  std::string relative, reason;
  if (!relativeOutputPath(entryNameToUtf8(n->text1, n->attributes), &relative, &reason)) {
    walk.failureCode = cab::Cancelled;
    walk.failureDetail = "refused " + reason + ": " + entryNameToUtf8(n->text1, n->attributes);
    return -1;
  }
  std::string path = walk.target + "/" + relative;
  std::error_code failure;
  fs::create_directories(pathOf(path).parent_path(), failure);
  int handle = cabtool::openOutput(path);
  if (handle < 0) {
    walk.failureCode = cab::WriteFailed;
    walk.failureDetail = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  walk.outputPath = path;
  return handle;
}

int32_t notify(int32_t kind, cab::Notification* n) {
  Walk& walk = *static_cast<Walk*>(n->user);
  switch (kind) {
    case cab::CabinetOpened:
      if (!walk.opened) {
        if (walk.expectedIndex >= 0 &&
            (n->setId != walk.expectedSetId || n->cabinetIndex != walk.expectedIndex)) {
          walk.failureCode = cab::SetMismatch;
          walk.failureDetail = "the next cabinet belongs to another set or place in it";
          return -1;
        }
        walk.nextName = n->text1;
        walk.expectedSetId = n->setId;
        walk.expectedIndex = n->cabinetIndex + 1;
      }
      walk.opened = true;
      return 0;
    case cab::ContinuedFile:
      if (walk.mode != Mode::List) return 0;
      if (n->folderIndex >= 0xfffe) walk.continuedOut++;
      if (walk.headToPass > 0) {
        walk.headToPass--;
        return 0;
      }
      if (walk.firstCabinet && walk.earlierCabinet.empty())
        walk.earlierCabinet = *n->text2 ? n->text2 : "an earlier cabinet";
      walk.entries.push_back(entryOf(n));
      return 0;
    case cab::OpenOutput:
      if (walk.mode == Mode::List) {
        walk.entries.push_back(entryOf(n));
        if (n->folderIndex >= 0xfffe) walk.continuedOut++;
        return 0;
      }
      if (walk.mode == Mode::Test) return DiscardHandle;
      return openOutput(walk, n);
    case cab::OutputComplete:
      if (walk.mode == Mode::Extract) {
        std::string path = walk.outputPath;
        walk.outputPath.clear();
        if (payload::closeFile(n->handle) != 0) {
          walk.failureCode = cab::WriteFailed;
          walk.failureDetail = "cannot write " + path;
          return 0;
        }
        int64_t seconds;
        if (fromDosDateTime(n->date, n->time, &seconds)) setModificationTime(path, seconds);
      }
      return 1;
    case cab::NeedNextCabinet: {
      std::string name = n->text1;
      if (n->errorCode != 0) {
        walk.failureCode = n->errorCode;
        walk.failureDetail = "next cabinet " + name;
        return -1;
      }
      std::string found = findCabinet(walk.directory, name);
      if (found.empty()) {
        walk.failureCode = cab::OpenFailed;
        walk.failureDetail = "next cabinet " + name + " not found";
        return -1;
      }
      if (walk.directory.size() + found.size() > MaxFullPathBytes) {
        walk.failureCode = cab::OpenFailed;
        walk.failureDetail = "path of " + found + " above 257 bytes";
        return -1;
      }
      std::snprintf(n->text1, 256, "%s", found.c_str());
      return 0;
    }
    default:
      return 0;
  }
}

std::string describe(int32_t code, int32_t detail, const std::string& cabinet, const std::string& output) {
  switch (code) {
    case cab::OpenFailed: return "cannot open " + cabinet + " or find a cabinet in it";
    case cab::BadSignature: return "no cabinet header in " + cabinet;
    case cab::BadVersion: {
      char text[64];
      std::snprintf(text, sizeof text, "version 0x%04x of %s", unsigned(detail) & 0xffff, cabinet.c_str());
      return text;
    }
    case cab::Damaged: return "truncated entry or data, or checksum mismatch, in " + cabinet;
    case cab::NoMemory: return "out of memory";
    case cab::BadMethod: return "unknown compression method in " + cabinet;
    case cab::DecodeFailed: return "compressed data do not decode in " + cabinet;
    case cab::WriteFailed: return "cannot write " + (output.empty() ? std::string("output") : output);
    case cab::LayoutMismatch: return "reserve sizes differ between cabinets of the set";
    case cab::SetMismatch: return "next cabinet does not belong to the set";
    case cab::Cancelled: return "cancelled";
    default: return "unexpected failure";
  }
}

class SetReader {
 public:
  explicit SetReader(const std::string& file) : file_(file) {
    fs::path path = pathOf(file);
    walk_.directory = utf8Of(path.parent_path());
    if (!walk_.directory.empty()) walk_.directory += '/';
    first_ = utf8Of(path.filename());
    context_ = cab::create(payload::allocate, payload::release, payload::openPayload,
                           payload::readPayload, writeOutput, closeHandle, payload::seekPayload,
                           &errors_);
  }
  ~SetReader() {
    if (context_) cab::destroy(context_);
    currentWalk = nullptr;
  }

  Walk& walk() { return walk_; }

  // Runs the decoder over every cabinet of the set in the walk's mode; 0, or 1 after the
  // error line.
  int run(Mode mode) {
    if (!context_) return fail(file_, std::string(cab::errorName(cab::NoMemory)) + ": out of memory");
    walk_.mode = mode;
    walk_.firstCabinet = true;
    walk_.continuedOut = 0;
    walk_.expectedIndex = -1;
    currentWalk = &walk_;
    std::string name = first_;
    std::set<std::string> seen;
    while (true) {
      seen.insert(lowerAscii(name));
      if (walk_.directory.size() > MaxCabinetPathBytes ||
          walk_.directory.size() + name.size() > MaxFullPathBytes)
        return fail(file_, "OpenFailed: path of " + name + " above 257 bytes");
      walk_.opened = false;
      walk_.nextName.clear();
      walk_.headToPass = walk_.continuedOut;
      walk_.continuedOut = 0;
      walk_.failureCode = 0;
      if (!cab::copy(context_, name.c_str(), walk_.directory.c_str(), 0, notify, nullptr, &walk_)) {
        if (!walk_.outputPath.empty()) {
          std::error_code ignored;
          fs::remove(pathOf(walk_.outputPath), ignored);
          walk_.outputPath.clear();
        }
        int32_t code = walk_.failureCode ? walk_.failureCode : errors_.code;
        std::string detail = walk_.failureCode ? walk_.failureDetail
                                               : describe(code, errors_.detail, name, walk_.outputPath);
        return fail(file_, std::string(cab::errorName(code)) + ": " + detail);
      }
      walk_.firstCabinet = false;
      if (walk_.nextName.empty()) return 0;
      std::string next = findCabinet(walk_.directory, walk_.nextName);
      if (next.empty()) return fail(file_, "OpenFailed: next cabinet " + walk_.nextName + " not found");
      if (seen.count(lowerAscii(next)))
        return fail(file_, "SetMismatch: the cabinet set loops back to " + next);
      name = next;
    }
  }

  // The set's files; those before the given cabinet refused for test and extract.
  int listAll(bool needWholeSet) {
    if (int status = run(Mode::List)) return status;
    if (needWholeSet && !walk_.earlierCabinet.empty())
      return fail(file_, "SetMismatch: the set begins in " + walk_.earlierCabinet + "; give its first cabinet");
    return 0;
  }

 private:
  std::string file_;
  std::string first_;
  cab::ErrorRecord errors_{};
  cab::DecoderContext* context_ = nullptr;
  Walk walk_;
};

bool singleFile(const Arguments& arguments, size_t from, std::string* file) {
  if (arguments.size() != from + 1 || arguments[from].empty()) return false;
  *file = arguments[from];
  return true;
}

unsigned long long totalBytes(const std::vector<Entry>& entries) {
  unsigned long long total = 0;
  for (const Entry& entry : entries) total += entry.bytes;
  return total;
}

}  // namespace

int runList(const Arguments& arguments) {
  bool tsv = !arguments.empty() && arguments[0] == "--tsv";
  std::string file;
  if (!singleFile(arguments, tsv ? 1 : 0, &file)) return fail("", "usage: cabtool list [--tsv] FILE");
  SetReader reader(file);
  if (int status = reader.listAll(false)) return status;
  const std::vector<Entry>& entries = reader.walk().entries;
  if (tsv) {
    for (const Entry& entry : entries)
      std::printf("%u\t%s\t%04x\t%u\t%s\n", entry.bytes, formatDosDateTime(entry.date, entry.time).c_str(),
                  entry.attributes, entry.folderIndex, entryNameToUtf8(entry.name, entry.attributes).c_str());
    return 0;
  }
  std::printf("%10s  %-19s  %4s  %6s  %s\n", "Size", "Modified", "Attr", "Folder", "Name");
  for (const Entry& entry : entries)
    std::printf("%10u  %s  %04x  %6u  %s\n", entry.bytes, formatDosDateTime(entry.date, entry.time).c_str(),
                entry.attributes, entry.folderIndex, entryNameToUtf8(entry.name, entry.attributes).c_str());
  std::printf("%zu files, %llu bytes\n", entries.size(), totalBytes(entries));
  return 0;
}

int runTest(const Arguments& arguments) {
  std::string file;
  if (!singleFile(arguments, 0, &file)) return fail("", "usage: cabtool test FILE");
  SetReader reader(file);
  if (int status = reader.listAll(true)) return status;
  Progress progress("test", totalBytes(reader.walk().entries));
  reader.walk().progress = &progress;
  return reader.run(Mode::Test);
}

int runExtract(const Arguments& arguments) {
  std::string target = ".";
  size_t at = 0;
  if (!arguments.empty() && arguments[0] == "-d") {
    if (arguments.size() < 2) return fail("", "usage: cabtool extract [-d DIR] FILE");
    target = arguments[1];
    at = 2;
  }
  std::string file;
  if (!singleFile(arguments, at, &file) || target.empty())
    return fail("", "usage: cabtool extract [-d DIR] FILE");
  SetReader reader(file);
  if (int status = reader.listAll(true)) return status;
  // Every name is checked before anything is written.
  for (const Entry& entry : reader.walk().entries) {
    std::string relative, reason;
    std::string name = entryNameToUtf8(entry.name, entry.attributes);
    if (!relativeOutputPath(name, &relative, &reason))
      return fail(file, "Cancelled: refused " + reason + ": " + name);
  }
  std::error_code failure;
  fs::create_directories(pathOf(target), failure);
  if (failure) return fail(target, "cannot create the folder: " + failure.message());
  Progress progress("extract", totalBytes(reader.walk().entries));
  reader.walk().target = target;
  reader.walk().progress = &progress;
  return reader.run(Mode::Extract);
}

}  // namespace cabtool
