#include "pack/payload_packer.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "payload/keystream.h"

namespace pack {
namespace {

std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

void putLittle32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; i++) out[i] = uint8_t(value >> (8 * i));
}

}  // namespace

bool packPayload(const std::string& prefixPath, const std::string& cabinetPath,
                 const std::string& outputPath, const PackOptions& options, std::string* error) {
  auto failWith = [&](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  std::ifstream prefix(pathOf(prefixPath), std::ios::binary);
  if (!prefix) return failWith("cannot open " + prefixPath);
  std::ifstream cabinet(pathOf(cabinetPath), std::ios::binary);
  if (!cabinet) return failWith("cannot open " + cabinetPath);

  std::error_code failure;
  uint64_t cabinetBytes = std::filesystem::file_size(pathOf(cabinetPath), failure);
  if (failure) return failWith("cannot read " + cabinetPath);
  const uint64_t tagBytes = options.scrambled ? 8 : 0;
  if (cabinetBytes + tagBytes + 4 > 0xffffffffull) return failWith("cabinet above 4 GB");

  char signature[4] = {};
  cabinet.read(signature, 4);
  if (!cabinet || std::memcmp(signature, "MSCF", 4) != 0)
    return failWith(cabinetPath + " is not a cabinet");
  cabinet.seekg(0);

  std::vector<char> buffer(1 << 16);
  prefix.read(buffer.data(), 4);
  if (prefix.gcount() == 4 &&
      (std::memcmp(buffer.data(), "MSCF", 4) == 0 || std::memcmp(buffer.data(), "1CNT", 4) == 0))
    return failWith(prefixPath + " begins with a payload tag and would hide the payload");
  prefix.clear();
  prefix.seekg(0);

  std::ofstream out(pathOf(outputPath), std::ios::binary | std::ios::trunc);
  if (!out) return failWith("cannot create " + outputPath);
  while (prefix) {
    prefix.read(buffer.data(), std::streamsize(buffer.size()));
    out.write(buffer.data(), prefix.gcount());
  }
  if (prefix.bad()) return failWith("cannot read " + prefixPath);

  payload::Keystream keystream;
  if (options.scrambled) {
    uint8_t tag[8] = {'1', 'C', 'N', 'T'};
    putLittle32(tag + 4, options.seed);
    out.write(reinterpret_cast<const char*>(tag), 8);
    keystream.fill(options.seed);
  }
  uint64_t position = 0;
  while (cabinet) {
    cabinet.read(buffer.data(), std::streamsize(buffer.size()));
    auto bytes = uint32_t(cabinet.gcount());
    if (options.scrambled)
      keystream.scramble(reinterpret_cast<uint8_t*>(buffer.data()), bytes, uint32_t(position));
    out.write(buffer.data(), bytes);
    position += bytes;
  }
  if (cabinet.bad() || position != cabinetBytes) return failWith("cannot read " + cabinetPath);

  uint8_t trailer[4];
  putLittle32(trailer, uint32_t(tagBytes + cabinetBytes + 4));
  out.write(reinterpret_cast<const char*>(trailer), 4);
  out.close();
  if (!out) return failWith("cannot write " + outputPath);
  return true;
}

}  // namespace pack
