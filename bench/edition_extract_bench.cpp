// Installing one language edition of the Brennholt demo update (examples/brennholt): the
// cabinet decoder walks the payload, the installer's prefix test accepts the files under
// "common\" and "<edition>\", and only those are written (to the null device). The same
// files in two layouts:
//   Split:     the common files in folder 0 and each edition's files in a folder of their
//              own, as the demo ships: the decoder never decodes a foreign edition's folder;
//   OneFolder: everything in one folder: skipping a file still means decoding it, so an
//              edition near the end of the folder pays for all the others.
// Arguments: layout (0 Split, 1 OneFolder), method (0 lzx:21, 1 mszip), edition index in
// the order BRZ CHI DEU ENG ESP FRA ITA JPN KOR. Counters: bytes installed per second, and
// the payload's size.
//
// The data are the demo's committed files (maps, balance table, readmes, speech banks);
// its two DLLs are stood in for by code of this program's own file, cut to the same size.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "cabinet/cabinet_decoder.h"
#include "pack/cabinet_writer.h"
#include "pack/compressor.h"
#include "payload/payload_reader.h"

namespace {

namespace fs = std::filesystem;

const char* const Editions[] = {"brz", "chi", "deu", "eng", "esp", "fra", "ita", "jpn", "kor"};
constexpr uint64_t DllBytes = 178 * 1024;  // bhphys.dll + FsLink.dll of the win64 build

struct PayloadFile {
  std::string archivedName;
  std::vector<uint8_t> bytes;
};

// The common files, then each edition's files, as in the demo's payload list.
std::vector<std::vector<PayloadFile>> demoFolders() {
  fs::path demo = fs::path(__FILE__).parent_path().parent_path() / "examples" / "brennholt";
  std::vector<std::vector<PayloadFile>> folders(1);
  std::vector<uint8_t> code = benchcorpus::readFile("/proc/self/exe");
  if (code.size() > DllBytes) code.resize(DllBytes);
  folders[0].push_back({"common\\bhphys.dll", code});
  folders[0].push_back(
      {"common\\data\\units.cfg", benchcorpus::readFile(demo / "payload/common/data/units.cfg")});
  for (const char* map : {"moorbach", "winter4"})
    folders[0].push_back(
        {std::string("common\\data\\maps\\") + map + ".map",
         benchcorpus::readFile(demo / "payload/common/data/maps" / (std::string(map) + ".map"))});
  for (const char* edition : Editions) {
    std::string code3 = edition;
    for (char& c : code3) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    folders.push_back({{std::string(edition) + "\\Readme104.txt",
                        benchcorpus::readFile(demo / "readme" / (code3 + ".txt"))},
                       {std::string(edition) + "\\sound\\speech.bnk",
                        benchcorpus::readFile(demo / "payload" / edition / "sound/speech.bnk")}});
  }
  for (const auto& folder : folders)
    for (const PayloadFile& file : folder)
      if (file.bytes.empty()) return {};
  return folders;
}

// Writes the cabinet; returns its path, or "" on failure.
std::string buildCabinet(const std::string& directory, const std::string& name, bool oneFolder,
                         const std::string& method) {
  static const std::vector<std::vector<PayloadFile>> folders = demoFolders();
  if (folders.empty()) return "";
  pack::CabinetWriter writer(directory, [name](int) { return name; }, pack::CabinetLayout{});
  bool first = true;
  for (const auto& folder : folders) {
    if (first || !oneFolder) {
      std::string error;
      if (!writer.beginFolder(pack::makeCompressor(method, &error))) return "";
    }
    first = false;
    for (const PayloadFile& file : folder) {
      pack::FileEntry entry;
      entry.name = file.archivedName;
      if (!writer.addFile(entry) || !writer.appendData(file.bytes)) return "";
    }
  }
  if (!writer.finish()) return "";
  return directory + name;
}

// The installer's selection: the common prefix and the edition's.
struct Selection {
  std::string edition;
  int nullDevice = -1;
  uint64_t installedBytes = 0;
};

int32_t notify(int32_t kind, cab::Notification* n) {
  auto* selection = static_cast<Selection*>(n->user);
  if (kind == cab::OpenOutput) {
    std::string name = n->text1;
    bool wanted = name.rfind("common\\", 0) == 0 || name.rfind(selection->edition + "\\", 0) == 0;
    if (!wanted) return 0;
    selection->installedBytes += static_cast<uint32_t>(n->value);
    return selection->nullDevice;
  }
  return kind == cab::OutputComplete ? 1 : 0;
}

void InstallEdition(benchmark::State& state) {
  const bool oneFolder = state.range(0) == 1;
  const std::string method = state.range(1) == 0 ? "lzx:21" : "mszip";
  const int edition = static_cast<int>(state.range(2));
  const std::string directory = fs::temp_directory_path().string() + "/";
  const std::string name = "edition_bench_" + std::to_string(getpid()) + "_" +
                           (oneFolder ? "one" : "split") + "_" + std::to_string(state.range(1)) + ".cab";
  std::string path = buildCabinet(directory, name, oneFolder, method);
  if (path.empty()) {
    state.SkipWithError("cannot build the demo payload (examples/brennholt missing?)");
    return;
  }
  Selection selection{Editions[edition], open("/dev/null", O_WRONLY)};
  cab::ErrorRecord errors{};
  cab::DecoderContext* context =
      cab::create(payload::allocate, payload::release, payload::openPayload,
                  payload::readPayload, payload::writeFile, payload::closeFile,
                  payload::seekPayload, &errors);
  for (auto _ : state) {
    selection.installedBytes = 0;
    if (!cab::copy(context, name.c_str(), directory.c_str(), 0, notify, nullptr, &selection)) {
      state.SkipWithError(cab::errorName(errors.code));
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * selection.installedBytes));
  state.counters["payloadBytes"] = static_cast<double>(fs::file_size(path));
  state.counters["installedBytes"] = static_cast<double>(selection.installedBytes);
  state.SetLabel(std::string(oneFolder ? "one folder, " : "split, ") + method + ", " +
                 Editions[edition]);
  cab::destroy(context);
  close(selection.nullDevice);
  fs::remove(path);
}

// BRZ (first edition), ENG and KOR (last) in both layouts and both methods.
BENCHMARK(InstallEdition)
    ->ArgsProduct({{0, 1}, {0, 1}, {0, 3, 8}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
