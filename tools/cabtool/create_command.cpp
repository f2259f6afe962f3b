// cabtool create: files and folder trees into a cabinet or a cabinet set.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "commands.h"
#include "names.h"
#include "pack/cabinet_writer.h"
#include "pack/compressor.h"
#include "platform.h"

namespace cabtool {
namespace {

namespace fs = std::filesystem;

fs::path pathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }
std::string utf8Of(const fs::path& path) {
  std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

struct Source {
  std::string path;  // UTF-8, as given or found
  std::string name;  // archived name, stored as it is
  std::optional<uint16_t> attributes;
};
using FolderSources = std::vector<Source>;

struct CreateOptions {
  std::string method = "mszip";
  pack::CabinetLayout layout;
  std::string output;
  std::vector<std::string> listFiles;
  std::vector<std::string> inputs;
};

// Directories add every regular file below them, named relative to the directory, in
// name order so that a cabinet's layout does not depend on the order the system lists.
bool addInput(const std::string& input, FolderSources& folder, std::string* error) {
  std::error_code failure;
  fs::path root = pathOf(input);
  if (fs::is_directory(root, failure)) {
    std::vector<Source> found;
    fs::recursive_directory_iterator walk(root, failure), end;
    if (failure) {
      *error = input + ": " + failure.message();
      return false;
    }
    for (; walk != end; walk.increment(failure)) {
      if (failure) {
        *error = input + ": " + failure.message();
        return false;
      }
      if (!walk->is_regular_file(failure)) continue;
      std::string path = utf8Of(walk->path());
      std::string name = utf8Of(walk->path().lexically_relative(root));
      std::replace(name.begin(), name.end(), '/', '\\');
      found.push_back({path, name, std::nullopt});
    }
    std::sort(found.begin(), found.end(),
              [](const Source& a, const Source& b) { return a.name < b.name; });
    folder.insert(folder.end(), found.begin(), found.end());
    return true;
  }
  if (!fs::is_regular_file(root, failure)) {
    *error = input + ": no such file or folder";
    return false;
  }
  folder.push_back({input, utf8Of(root.filename()), std::nullopt});
  return true;
}

// Lines "SOURCE<TAB>NAME[<TAB>ATTRIBUTES-IN-HEX]"; an empty line starts a new folder.
bool readList(const std::string& listPath, std::vector<FolderSources>& folders, std::string* error) {
  std::ifstream list(pathOf(listPath), std::ios::binary);
  if (!list) {
    *error = listPath + ": cannot open";
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(list, line)) {
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      if (!folders.back().empty()) folders.emplace_back();
      continue;
    }
    size_t tab = line.find('\t');
    std::string where = listPath + ":" + std::to_string(number);
    if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) {
      *error = where + ": expected SOURCE<TAB>NAME";
      return false;
    }
    Source source{line.substr(0, tab), line.substr(tab + 1), std::nullopt};
    size_t second = source.name.find('\t');
    if (second != std::string::npos) {
      unsigned long long attributes;
      if (!parseNumber("0x" + source.name.substr(second + 1), 0xffff, &attributes)) {
        *error = where + ": attributes must be 1 to 4 hex digits";
        return false;
      }
      source.attributes = uint16_t(attributes);
      source.name.resize(second);
    }
    if (source.name.find('\0') != std::string::npos) {
      *error = where + ": NUL byte in the name";
      return false;
    }
    folders.back().push_back(std::move(source));
  }
  return true;
}

bool parseOptions(const Arguments& arguments, CreateOptions& options, std::string* error) {
  for (size_t i = 0; i < arguments.size(); i++) {
    const std::string& argument = arguments[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= arguments.size()) {
        *error = argument + " needs a value";
        return false;
      }
      *out = arguments[++i];
      return true;
    };
    std::string text;
    unsigned long long number;
    if (argument == "--method") {
      if (!value(&options.method)) return false;
    } else if (argument == "-o") {
      if (!value(&options.output)) return false;
    } else if (argument == "--files-from") {
      if (!value(&text)) return false;
      options.listFiles.push_back(text);
    } else if (argument == "--split") {
      if (!value(&text)) return false;
      if (!parseNumber(text, 0xffffffffull, &number) || number == 0) {
        *error = "--split needs a size in bytes, at most 4294967295";
        return false;
      }
      options.layout.maxCabinetBytes = number;
    } else if (argument == "--set-id") {
      if (!value(&text)) return false;
      if (!parseNumber(text, 0xffff, &number)) {
        *error = "--set-id needs a number from 0 to 65535";
        return false;
      }
      options.layout.setId = uint16_t(number);
    } else if (argument == "--reserve") {
      if (!value(&text)) return false;
      unsigned long long sizes[3];
      size_t start = 0;
      bool good = true;
      for (int k = 0; k < 3 && good; k++) {
        size_t comma = k < 2 ? text.find(',', start) : text.size();
        if (comma == std::string::npos) {
          good = false;
          break;
        }
        good = parseNumber(text.substr(start, comma - start), k == 0 ? 60000 : 255, &sizes[k]);
        start = comma + 1;
      }
      if (!good) {
        *error = "--reserve needs H,F,D: header 0-60000, folder and data 0-255 bytes";
        return false;
      }
      options.layout.headerReserveBytes = uint16_t(sizes[0]);
      options.layout.folderReserveBytes = uint8_t(sizes[1]);
      options.layout.dataReserveBytes = uint8_t(sizes[2]);
    } else if (argument == "--no-checksum") {
      options.layout.checksums = false;
    } else if (argument.size() > 1 && argument[0] == '-') {
      *error = "unknown option " + argument;
      return false;
    } else {
      options.inputs.push_back(argument);
    }
  }
  if (options.output.empty()) {
    *error = "create needs -o OUT.cab";
    return false;
  }
  if (options.inputs.empty() && options.listFiles.empty()) {
    *error = "create needs files, folders or --files-from";
    return false;
  }
  return true;
}

}  // namespace

int runCreate(const Arguments& arguments) {
  CreateOptions options;
  std::string error;
  if (!parseOptions(arguments, options, &error)) return fail("", error);
  // Checked before any input is read, so a wrong method costs nothing.
  if (!pack::makeCompressor(options.method, &error)) return fail(options.output, error);

  fs::path outputPath = pathOf(options.output);
  std::string outputName = utf8Of(outputPath.filename());
  std::string directory = utf8Of(outputPath.parent_path());
  if (!directory.empty()) directory += '/';
  std::string stem = utf8Of(outputPath.stem());
  std::string extension = utf8Of(outputPath.extension());
  // Cabinets after the first are OUT2.cab, OUT3.cab, ...
  auto cabinetName = [=](int index) {
    return index == 0 ? outputName : stem + std::to_string(index + 1) + extension;
  };
  if (outputName.empty() || cabinetName(99999).size() > 255)
    return fail(options.output, "cabinet name must hold 1 to 249 bytes");

  std::vector<FolderSources> folders(1);
  for (const std::string& list : options.listFiles)
    if (!readList(list, folders, &error)) return fail("", error);
  for (const std::string& input : options.inputs)
    if (!addInput(input, folders.back(), &error)) return fail("", error);
  // A cabinet written into a folder it is made from must not swallow an older self.
  std::error_code ignored;
  std::string canonicalOutput = utf8Of(fs::weakly_canonical(outputPath, ignored));
  for (FolderSources& folder : folders)
    std::erase_if(folder, [&](const Source& source) {
      return utf8Of(fs::weakly_canonical(pathOf(source.path), ignored)) == canonicalOutput;
    });

  unsigned long long totalBytes = 0;
  for (const FolderSources& folder : folders)
    for (const Source& source : folder) {
      std::error_code failure;
      uintmax_t bytes = fs::file_size(pathOf(source.path), failure);
      if (failure) return fail(source.path, "cannot read: " + failure.message());
      if (source.name.empty() || source.name.size() > 255)
        return fail(source.path, "archived name must hold 1 to 255 bytes");
      totalBytes += bytes;
    }

  pack::CabinetWriter writer(directory, cabinetName, options.layout);
  auto abandon = [&](const std::string& subject, const std::string& message) {
    for (const std::string& written : writer.cabinetPaths()) fs::remove(pathOf(written), ignored);
    return fail(subject, message);
  };
  Progress progress("create", totalBytes);
  std::vector<char> buffer(1 << 16);
  for (const FolderSources& folder : folders) {
    if (folder.empty()) continue;
    if (!writer.beginFolder(pack::makeCompressor(options.method, &error)))
      return abandon(options.output, writer.error());
    for (const Source& source : folder) {
      std::error_code failure;
      uintmax_t bytes = fs::file_size(pathOf(source.path), failure);
      if (failure) return abandon(source.path, "cannot read: " + failure.message());
      if (bytes > 0xffffffffull) return abandon(source.path, "file above 4 GB");
      // A folder counts at most 65535 blocks: a long run of files gets more folders.
      if (writer.currentFolderBytes() > 0 && writer.currentFolderBytes() + bytes > pack::MaxFolderBytes &&
          !writer.beginFolder(pack::makeCompressor(options.method, &error)))
        return abandon(options.output, writer.error());

      pack::FileEntry entry;
      entry.name = source.name;
      int64_t seconds = 0;
      modificationTime(source.path, &seconds);
      toDosDateTime(seconds, &entry.date, &entry.time);
      if (source.attributes) {
        entry.attributes = *source.attributes;
      } else {
        entry.attributes = pack::AttributeArchive;
        if (isReadOnly(source.path)) entry.attributes |= pack::AttributeReadOnly;
        if (isNonAsciiUtf8(source.name)) entry.attributes |= pack::AttributeUtf8Name;
      }
      if (!writer.addFile(entry)) return abandon(options.output, writer.error());
      std::ifstream input(pathOf(source.path), std::ios::binary);
      if (!input) return abandon(source.path, "cannot open");
      while (input) {
        input.read(buffer.data(), std::streamsize(buffer.size()));
        auto got = size_t(input.gcount());
        if (got == 0) break;
        if (!writer.appendData({reinterpret_cast<const uint8_t*>(buffer.data()), got}))
          return abandon(options.output, writer.error());
        progress.advance(got);
      }
      if (input.bad()) return abandon(source.path, "read error");
    }
  }
  if (!writer.finish()) return abandon(options.output, writer.error());
  return 0;
}

}  // namespace cabtool
