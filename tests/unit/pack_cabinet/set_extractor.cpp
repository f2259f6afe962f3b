#include "set_extractor.h"

#include <fstream>
#include <iterator>

#include "payload/payload_reader.h"

namespace packtest {
namespace {

// Output handles are indices into this table, above any descriptor the tests open.
constexpr int32_t FirstOutputHandle = 100000;
std::vector<std::vector<uint8_t>*> outputs;

int32_t writeMemory(int32_t handle, const void* buffer, uint32_t bytes) {
  if (handle < FirstOutputHandle) return -1;
  auto* out = outputs[size_t(handle - FirstOutputHandle)];
  auto* data = static_cast<const uint8_t*>(buffer);
  out->insert(out->end(), data, data + bytes);
  return int32_t(bytes);
}

int32_t closeAny(int32_t handle) {
  return handle >= FirstOutputHandle ? 0 : payload::closeFile(handle);
}

struct State {
  ExtractResult* result = nullptr;
  std::string nextName;
  bool opened = false;
};

int32_t notify(int32_t kind, cab::Notification* n) {
  auto& state = *static_cast<State*>(n->user);
  switch (kind) {
    case cab::CabinetOpened:
      if (!state.opened) state.nextName = n->text1;
      state.opened = true;
      return 0;
    case cab::OpenOutput: {
      ExtractedFile& file = state.result->files[n->text1];
      file.bytes.clear();
      file.timesWritten++;
      outputs.push_back(&file.bytes);
      return FirstOutputHandle + int32_t(outputs.size() - 1);
    }
    case cab::OutputComplete: {
      ExtractedFile& file = state.result->files[n->text1];
      file.date = n->date;
      file.time = n->time;
      file.attributes = n->attributes;
      file.runAfterExtraction = n->value;
      return 1;
    }
    default:
      return 0;
  }
}

}  // namespace

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ExtractResult extractSet(const std::string& directory, const std::string& firstName) {
  ExtractResult result;
  cab::ErrorRecord errors{};
  cab::DecoderContext* context =
      cab::create(payload::allocate, payload::release, payload::openPayload, payload::readPayload,
                  writeMemory, closeAny, payload::seekPayload, &errors);
  outputs.clear();
  std::string name = firstName;
  result.ok = true;
  while (!name.empty() && result.cabinets.size() < 1000) {
    State state;
    state.result = &result;
    result.cabinets.push_back(name);
    if (!cab::copy(context, name.c_str(), directory.c_str(), 0, notify, nullptr, &state)) {
      result.ok = false;
      result.errorCode = errors.code;
      break;
    }
    name = state.nextName;
  }
  cab::destroy(context);
  outputs.clear();
  return result;
}

}  // namespace packtest
