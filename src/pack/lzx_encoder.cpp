#include "pack/compressor.h"

namespace pack {

// Not available yet.
std::unique_ptr<FolderCompressor> makeLzxCompressor(int) { return nullptr; }

}  // namespace pack
