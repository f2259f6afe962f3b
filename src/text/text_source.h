// The interface of every text table: a StringTable loaded from one source, or a
// StringTableSet that asks several tables in turn.
#pragma once

#include <cstdint>

namespace text {

class StreamFactory;

// Flags of `lookupByKey` for a key that is missing.
enum LookupFlags : int32_t {
  LookupEchoKey = 1,        // give back the key itself
  LookupNullIfMissing = 2,  // give null
};

class TextSource {
 public:
  // Loads the table named `name` through a stream of `factory`; `language` is remembered
  // and reported by `language`. Returns the number of entries, 0 on failure or refusal.
  virtual int32_t load(const char* name, StreamFactory* factory, int32_t language) = 0;
  // The text of `id`, or null. Texts belong to the table and live as long as it.
  virtual const char* lookupById(int32_t id) const = 0;
  // The text of `key`; for a missing key see LookupFlags and the tables' own rules.
  virtual const char* lookupByKey(const char* key, int32_t flags) const = 0;
  virtual int32_t language() const = 0;
  // A new, empty source of the same kind on the heap, owned by the caller, or null.
  virtual TextSource* createNew() const = 0;
  virtual ~TextSource() = default;
};

}  // namespace text
