// StringTableSet: tables of one language asked in the order they were added.
#include "text/string_table_set.h"

#include <cstring>

namespace text {

int32_t StringTableSet::attachPrototype(const TextSource* sample) {
  if (prototype_ != nullptr || sample == nullptr) return 0;
  prototype_.reset(sample->createNew());
  language_ = -1;
  return prototype_ != nullptr ? 1 : 0;
}

int32_t StringTableSet::add(const char* name, StreamFactory* factory, int32_t language) {
  if (language_ != -1 && language_ != language) return 0;
  if (prototype_ == nullptr) return 0;
  std::unique_ptr<TextSource> table(prototype_->createNew());
  if (table == nullptr) return 0;
  const int32_t entries = table->load(name, factory, language);
  if (entries <= 0) return 0;
  tables_.push_back(std::move(table));
  if (language_ == -1) language_ = language;
  return entries;
}

int32_t StringTableSet::load(const char* name, StreamFactory* factory, int32_t language) {
  return add(name, factory, language);
}

const char* StringTableSet::lookupById(int32_t id) const {
  for (const auto& table : tables_) {
    if (const char* found = table->lookupById(id)) return found;
  }
  return nullptr;
}

const char* StringTableSet::lookupByKey(const char* key, int32_t mode) const {
  if (key == nullptr) return nullptr;
  for (const auto& table : tables_) {
    if (const char* found = table->lookupByKey(key, LookupNullIfMissing)) return found;
  }
  if (mode != LookupEchoKey) return nullptr;
  // The default part of KEY\default or \KEY\default; a key with no backslash past its
  // first character, \KEY included, is given back whole.
  if (key[0] != '\0') {
    if (const char* separator = std::strchr(key + 1, '\\')) return separator + 1;
  }
  return key;
}

int32_t StringTableSet::language() const { return tables_.empty() ? 0 : language_; }

}  // namespace text
