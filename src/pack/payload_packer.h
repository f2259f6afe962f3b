// Appends a cabinet to a file (typically the installer's executable image) so the payload
// reader finds it through the 4-byte trailer at the end:
//   prefix | "1CNT" | seed (u32) | cabinet scrambled by the seed's keystream | trailer
//   prefix | cabinet (begins with "MSCF")                                     | trailer
// The trailer (u32, little-endian) is the distance from the payload's start to the end of
// the file, its own 4 bytes included.
#pragma once

#include <cstdint>
#include <string>

namespace pack {

struct PackOptions {
  uint32_t seed = 0;
  bool scrambled = true;  // false: the cabinet is appended as it is
};

// Writes prefix + payload + trailer to `outputPath`. False with a few words in `error` when
// a file cannot be read or written, the cabinet does not begin with "MSCF", or the prefix
// itself begins with a payload tag (the reader would find the prefix instead).
bool packPayload(const std::string& prefixPath, const std::string& cabinetPath,
                 const std::string& outputPath, const PackOptions& options, std::string* error);

}  // namespace pack
