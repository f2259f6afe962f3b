#include "pack/compressor.h"

namespace pack {

// Not available yet.
std::unique_ptr<FolderCompressor> makeMszipCompressor(int) { return nullptr; }

}  // namespace pack
