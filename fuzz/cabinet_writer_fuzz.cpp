// Cabinet writer layout: folders of files of any sizes, zero-length ones included, under
// any size limit and reserve sizes; whatever the writer accepts, the decoder must give back
// every file once and unchanged, and no cabinet may pass the limit.
//
// Input: byte 0 limit step, byte 1 reserve choice, byte 2 flags (bit 0 no checksums,
// bit 1 mszip folders); then records of 3 bytes: size (2 bytes, scaled), kind (bit 0 starts
// a new folder, bits 1-7 the file's fill byte).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "cabinet/cabinet_decoder.h"
#include "pack/cabinet_writer.h"
#include "payload/payload_reader.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t FirstOutputHandle = 100000;
std::vector<std::vector<uint8_t>> outputs;
std::map<std::string, int> openCount;

int32_t writeMemory(int32_t handle, const void* buffer, uint32_t bytes) {
  if (handle < FirstOutputHandle) return -1;
  auto& out = outputs[size_t(handle - FirstOutputHandle)];
  out.insert(out.end(), static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + bytes);
  return int32_t(bytes);
}
int32_t closeAny(int32_t handle) { return handle >= FirstOutputHandle ? 0 : payload::closeFile(handle); }

struct Walk {
  std::string next;
  bool opened = false;
  std::map<std::string, size_t> handleOf;
};

int32_t notify(int32_t kind, cab::Notification* n) {
  auto& walk = *static_cast<Walk*>(n->user);
  if (kind == cab::CabinetOpened) {
    if (!walk.opened) walk.next = n->text1;
    walk.opened = true;
  } else if (kind == cab::OpenOutput) {
    openCount[n->text1]++;
    outputs.emplace_back();
    walk.handleOf[n->text1] = outputs.size() - 1;
    return FirstOutputHandle + int32_t(outputs.size() - 1);
  } else if (kind == cab::OutputComplete) {
    return 1;
  }
  return 0;
}

std::string setName(int index) { return index == 0 ? "f.cab" : "f" + std::to_string(index + 1) + ".cab"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const std::string dir = (fs::temp_directory_path() / ("cabinet_writer_fuzz_" + std::to_string(getpid()))).string() + "/";
  fs::remove_all(dir);
  fs::create_directories(dir);

  pack::CabinetLayout layout;
  layout.maxCabinetBytes = data[0] == 0 ? 0 : 33000 + uint64_t(data[0]) * 300;
  const uint8_t reserves[4][3] = {{0, 0, 0}, {0, 0, 1}, {40, 3, 0}, {7, 255, 255}};
  layout.headerReserveBytes = reserves[data[1] & 3][0];
  layout.folderReserveBytes = reserves[data[1] & 3][1];
  layout.dataReserveBytes = reserves[data[1] & 3][2];
  layout.checksums = !(data[2] & 1);
  const bool mszip = data[2] & 2;

  struct Expected {
    uint32_t bytes;
    uint8_t fill;
  };
  std::map<std::string, Expected> expected;
  {
    pack::CabinetWriter writer(dir, setName, layout);
    std::vector<uint8_t> buffer;
    bool ok = true;
    for (size_t at = 3; at + 3 <= size && expected.size() < 200 && ok; at += 3) {
      uint32_t raw = data[at] | data[at + 1] << 8;
      // Mostly small files, some around and above the block size.
      uint32_t bytes = raw < 0x4000 ? raw % 64 : raw < 0xc000 ? raw : raw * 3;
      if (raw % 7 == 0) bytes = 0;
      uint8_t kind = data[at + 2];
      if ((kind & 1) && !expected.empty())
        ok = writer.beginFolder(mszip ? pack::makeMszipCompressor(1) : pack::makeStoredCompressor());
      std::string name = "n" + std::to_string(expected.size());
      uint8_t fill = uint8_t(kind >> 1);
      expected[name] = {bytes, fill};
      ok = ok && writer.addFile({name, 0x21, 0, 0x20});
      buffer.assign(bytes, fill);
      for (uint32_t i = 0; i < bytes; i += 97) buffer[i] = uint8_t(i);
      ok = ok && writer.appendData(buffer);
    }
    if (!ok) std::abort();
    // A limit too small for the entries is a refusal, not a fault.
    if (!writer.finish()) {
      if (writer.error().find("too small") == std::string::npos) std::abort();
      fs::remove_all(dir);
      return 0;
    }
    for (const std::string& path : writer.cabinetPaths())
      if (layout.maxCabinetBytes && fs::file_size(path) > layout.maxCabinetBytes) std::abort();
  }

  cab::ErrorRecord errors{};
  cab::DecoderContext* context = cab::create(payload::allocate, payload::release, payload::openPayload,
                                             payload::readPayload, writeMemory, closeAny, payload::seekPayload, &errors);
  outputs.clear();
  openCount.clear();
  Walk walk;
  std::string name = setName(0);
  for (int cabinets = 0; !name.empty(); cabinets++) {
    if (cabinets > 10000) std::abort();
    walk.opened = false;
    walk.next.clear();
    if (!cab::copy(context, name.c_str(), dir.c_str(), 0, notify, nullptr, &walk)) std::abort();
    name = walk.next;
  }
  cab::destroy(context);
  if (openCount.size() != expected.size()) std::abort();
  for (const auto& [file, want] : expected) {
    if (openCount[file] != 1) std::abort();
    const std::vector<uint8_t>& got = outputs[walk.handleOf[file]];
    if (got.size() != want.bytes) std::abort();
    for (uint32_t i = 0; i < want.bytes; i++)
      if (got[i] != (i % 97 == 0 ? uint8_t(i) : want.fill)) std::abort();
  }
  fs::remove_all(dir);
  return 0;
}
