#include "pack/compressor.h"

#include <charconv>

namespace pack {
namespace {

// Method 0: every block is stored as it is.
class StoredCompressor : public FolderCompressor {
 public:
  uint16_t compressionWord() const override { return uint16_t(Method::Stored); }
  void compressBlock(std::span<const uint8_t> block, bool, std::vector<uint8_t>& out) override {
    out.insert(out.end(), block.begin(), block.end());
  }
};

bool parseNumber(std::string_view text, int* value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::unique_ptr<FolderCompressor> makeStoredCompressor() {
  return std::make_unique<StoredCompressor>();
}

std::unique_ptr<FolderCompressor> makeCompressor(std::string_view method, std::string* error) {
  // Which factory each method name uses, its parameter's range and its default (0: the
  // parameter must be given).
  struct Choice {
    std::string_view name;
    std::unique_ptr<FolderCompressor> (*make)(int);
    int lowest, highest, byDefault;
  };
  static const Choice choices[] = {
      {"mszip", makeMszipCompressor, 1, 9, 9},
      {"lzx", makeLzxCompressor, 15, 21, 0},
      {"quantum", makeQuantumCompressor, 10, 21, 0},
  };
  auto failWith = [&](std::string message) -> std::unique_ptr<FolderCompressor> {
    if (error) *error = std::move(message);
    return nullptr;
  };
  if (method == "none" || method == "stored") return makeStoredCompressor();
  std::string_view name = method.substr(0, method.find(':'));
  for (const Choice& choice : choices) {
    if (name != choice.name) continue;
    int parameter = choice.byDefault;
    bool given = name.size() < method.size();
    if (given) {
      if (!parseNumber(method.substr(name.size() + 1), &parameter))
        return failWith("bad method parameter in \"" + std::string(method) + "\"");
    }
    std::string range = std::string(name) + ":" + std::to_string(choice.lowest) + " to " +
                        std::string(name) + ":" + std::to_string(choice.highest);
    if (!given && parameter == 0) return failWith(std::string(name) + " needs a parameter, " + range);
    if (parameter < choice.lowest || parameter > choice.highest)
      return failWith("method \"" + std::string(method) + "\" out of range, " + range);
    std::unique_ptr<FolderCompressor> compressor = choice.make(parameter);
    if (!compressor)
      return failWith("method " + std::string(name) + " is not available in this build");
    return compressor;
  }
  return failWith("unknown method \"" + std::string(method) +
                  "\" (none, mszip[:LEVEL], lzx:N, quantum:N)");
}

}  // namespace pack
