// Fixed sizes of the cabinet format's structures, shared by the reader and the writer.
// Reserve areas, when a cabinet has them, follow the fixed part of each structure.
#pragma once

#include <cstdint>

namespace cab {

inline constexpr uint32_t HeaderBytes = 36;            // signature to cabinet index
inline constexpr uint32_t ReserveSizesBytes = 4;       // header, folder and data reserve sizes
inline constexpr uint32_t FolderEntryFixedBytes = 8;   // first block offset, block count, word
inline constexpr uint32_t FileEntryBytes = 16;         // fixed part, before the name
inline constexpr uint32_t BlockHeaderFixedBytes = 8;   // checksum and the two sizes

}  // namespace cab
