// Loads arbitrary bytes as a string table (plain, or scrambled when they start with the
// tag) from memory, then asks it by keys and ids taken from the same bytes. The loader
// reads from an exactly sized buffer, so any read past a text's end is caught.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/stream_factory.h"
#include "text/string_table.h"
#include "text/string_table_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  text::MemoryStreamFactory factory({data, size});
  text::StringTableSet set;
  text::StringTable sample;
  set.attachPrototype(&sample);
  const int32_t entries = set.add("FUZZ\\TABLE", &factory, 0);
  if (entries < 0) __builtin_trap();

  // Keys: every run of bytes between separators, plus their reference forms.
  std::string key;
  for (size_t i = 0; i <= size; ++i) {
    const char c = i < size ? static_cast<char>(data[i]) : '\n';
    if (c != '\t' && c != '\r' && c != '\n' && c != '\0') {
      key += c;
      continue;
    }
    const char* byKey = set.lookupByKey(key.c_str(), text::LookupEchoKey);
    if (byKey == nullptr) __builtin_trap();  // echo mode always answers
    set.lookupByKey(("\\" + key + "\\default").c_str(), text::LookupNullIfMissing);
    set.lookupById(text::StringTable::parseId(key.c_str()));
    key.clear();
  }
  return 0;
}
