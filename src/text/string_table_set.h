// An ordered set of string tables of one language, asked in the order they were added.
// New tables are made from a prototype, so the set can hold any kind of TextSource.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "text/text_source.h"

namespace text {

class StringTableSet : public TextSource {
 public:
  StringTableSet() = default;
  StringTableSet(const StringTableSet&) = delete;
  StringTableSet& operator=(const StringTableSet&) = delete;
  ~StringTableSet() override = default;

  // Makes a table from the prototype and loads it. Refused (0) for a language other than
  // the one the first loaded table fixed, and without a prototype. A table that loads
  // nothing is discarded and changes nothing. Returns the new table's entry count.
  int32_t add(const char* name, StreamFactory* factory, int32_t language);
  // Same as `add`.
  int32_t load(const char* name, StreamFactory* factory, int32_t language) override;
  // The first table's text that has the id, or null.
  const char* lookupById(int32_t id) const override;
  // The first table's answer to the key. When none answers: null unless mode is
  // LookupEchoKey, which gives the part after the first backslash past the key's first
  // character (the default of KEY\default and \KEY\default), else the key itself.
  const char* lookupByKey(const char* key, int32_t mode) const override;
  // The language fixed by the first table; 0 while the set is empty.
  int32_t language() const override;
  // Sets of sets are not made: always null.
  TextSource* createNew() const override { return nullptr; }

  // Takes sample's createNew as the prototype of new tables: 1. When a prototype is
  // already attached nothing changes: 0. The sample is not kept.
  int32_t attachPrototype(const TextSource* sample);

  size_t tableCount() const { return tables_.size(); }

 private:
  std::vector<std::unique_ptr<TextSource>> tables_;  // every one loaded, in adding order
  std::unique_ptr<TextSource> prototype_;
  int32_t language_ = -1;  // -1 until the first table loads
};

}  // namespace text
