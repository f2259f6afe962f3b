// Runs the decoder over in-memory cabinets and records what it tells its callbacks.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cabinet/cabinet_decoder.h"
#include "cabinet_builder.h"
#include "memory_files.h"

namespace cabtest {

struct Event {
  int32_t kind;
  int32_t value;
  std::string text1, text2, text3;
  int32_t handle;
  uint16_t date, time, attributes, setId, cabinetIndex, folderIndex;
  int32_t errorCode;
};

struct ReserveEvent {
  int32_t kind;
  Bytes area;
  uint16_t setId;
  int32_t cabinetIndex;
  uint16_t folderIndex;
  uint16_t dataBytes;
  int32_t split;
  uint16_t partOffset;
};

// Output files are named "out/" + the archived name.
inline std::string outputName(const std::string& name) { return "out/" + name; }

class Harness {
 public:
  using Answer = std::function<int32_t(int32_t kind, cab::Notification* n)>;

  Harness() {
    memfs::table().reset();
    current() = this;
    context = cab::create(memfs::allocate, memfs::release, memfs::open, memfs::read,
                          memfs::write, memfs::close, memfs::seek, &errors);
  }
  ~Harness() {
    if (context != nullptr) cab::destroy(context);
    current() = nullptr;
  }

  void addFile(const std::string& name, const Bytes& data) { memfs::table().files[name] = data; }

  // Accepts every file into an output file and closes it when complete.
  static int32_t acceptAll(int32_t kind, cab::Notification* n) {
    if (kind == cab::OpenOutput) return memfs::table().create(outputName(n->text1));
    if (kind == cab::OutputComplete) {
      memfs::close(n->handle);
      return 1;
    }
    return 0;
  }

  int32_t copy(const std::string& name = "a.cab", const std::string& path = "",
               bool withReserveCallback = true) {
    return cab::copy(context, name.c_str(), path.c_str(), 0, notify,
                     withReserveCallback ? reserve : nullptr, this);
  }

  std::vector<int32_t> kinds() const {
    std::vector<int32_t> out;
    for (const Event& e : events) out.push_back(e.kind);
    return out;
  }
  int blockReads() const {
    int count = 0;
    for (const ReserveEvent& e : reserveEvents) count += e.kind == cab::DataReserve ? 1 : 0;
    return count;
  }
  const Bytes* output(const std::string& name) const {
    auto it = memfs::table().files.find(outputName(name));
    return it == memfs::table().files.end() ? nullptr : &it->second;
  }

  cab::ErrorRecord errors{};
  cab::DecoderContext* context = nullptr;
  std::vector<Event> events;
  std::vector<ReserveEvent> reserveEvents;
  Answer answer = acceptAll;
  std::function<int32_t(cab::ReserveRecord*)> reserveAnswer;

 private:
  static Harness*& current() {
    static Harness* instance = nullptr;
    return instance;
  }
  static std::string text(const char* s) { return s == nullptr ? "<null>" : s; }

  static int32_t notify(int32_t kind, cab::Notification* n) {
    Harness& h = *current();
    EXPECT_EQ(n->user, &h);
    h.events.push_back(Event{kind, n->value, text(n->text1), text(n->text2), text(n->text3),
                             n->handle, n->date, n->time, n->attributes, n->setId,
                             n->cabinetIndex, n->folderIndex, n->errorCode});
    return h.answer(kind, n);
  }

  static int32_t reserve(cab::ReserveRecord* r) {
    Harness& h = *current();
    EXPECT_EQ(r->user, &h);
    ReserveEvent e{r->kind, {}, 0, 0, 0, 0, 0, 0};
    if (r->area != nullptr) e.area.assign(r->area, r->area + r->areaBytes);
    EXPECT_EQ(r->area == nullptr, r->areaBytes == 0);
    if (r->kind == cab::HeaderReserve) {
      e.setId = r->setId;
      e.cabinetIndex = r->cabinetIndex;
    } else if (r->kind == cab::FolderReserve) {
      e.folderIndex = r->folderIndex;
    } else {
      e.dataBytes = r->dataBytes;
      e.split = r->split;
      e.partOffset = r->partOffset;
    }
    h.reserveEvents.push_back(e);
    return h.reserveAnswer ? h.reserveAnswer(r) : 0;
  }
};

}  // namespace cabtest
