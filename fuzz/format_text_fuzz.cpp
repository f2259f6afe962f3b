// Fills the placeholders of arbitrary texts with arbitrary arguments. The first byte
// splits the input into argument and text; the result buffer is sized exactly, so any
// write past the counted length is caught.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "text/text_helper.h"
#include "text/text_source.h"

namespace {

// A source holding one text under id 1.
class OneText : public text::TextSource {
 public:
  explicit OneText(std::string text) : text_(std::move(text)) {}
  int32_t load(const char*, text::StreamFactory*, int32_t) override { return 0; }
  const char* lookupById(int32_t id) const override { return id == 1 ? text_.c_str() : nullptr; }
  const char* lookupByKey(const char*, int32_t) const override { return nullptr; }
  int32_t language() const override { return 0; }
  text::TextSource* createNew() const override { return nullptr; }

 private:
  std::string text_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t argumentBytes = std::min<size_t>(data[0], size - 1);
  // Texts and arguments are NUL-terminated: anything after a NUL is simply not seen.
  const std::string argument(reinterpret_cast<const char*>(data + 1), argumentBytes);
  const std::string pattern(reinterpret_cast<const char*>(data + 1 + argumentBytes),
                            size - 1 - argumentBytes);
  OneText source(pattern);
  text::TextHelper helper(&source);

  char* out = nullptr;
  const bool nullArgument = argumentBytes == 0 && size > 1 && (data[1] & 1);
  if (helper.formatText(&out, 1, nullArgument ? nullptr : argument.c_str()) != 1) __builtin_trap();
  std::unique_ptr<char[]> owned(out);
  const size_t length =
      text::TextHelper::fillPlaceholders(pattern.c_str(), argument.c_str(), nullptr);
  if (std::strlen(out) != length) __builtin_trap();
  // Filling can only grow a text by the argument per placeholder; it never loses a
  // character that is not part of a placeholder.
  if (length > std::strlen(pattern.c_str()) * (1 + std::strlen(argument.c_str()))) __builtin_trap();
  return 0;
}
