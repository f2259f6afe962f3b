// Reads back what the cabinet writer produced: runs the cabinet decoder over every
// cabinet of a set, the way an extracting program does, and collects every file in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cabinet/cabinet_decoder.h"

namespace packtest {

struct ExtractedFile {
  std::vector<uint8_t> bytes;
  uint16_t date = 0, time = 0, attributes = 0;
  int32_t runAfterExtraction = 0;
  int timesWritten = 0;
};

struct ExtractResult {
  bool ok = false;
  int32_t errorCode = 0;
  std::map<std::string, ExtractedFile> files;
  std::vector<std::string> cabinets;  // names in the order they were copied
};

// `directory` ends with '/'.
ExtractResult extractSet(const std::string& directory, const std::string& firstName);

// Little-endian fields of a file's bytes.
std::vector<uint8_t> readFile(const std::filesystem::path& path);
inline uint16_t get16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
inline uint32_t get32(const std::vector<uint8_t>& b, size_t at) { return get16(b, at) | uint32_t(get16(b, at + 2)) << 16; }

}  // namespace packtest
