// Quantum decompressor.
//
// A data block is one bit sequence, each byte read from its most significant bit down. Its
// first 16 bits load the arithmetic decoder's code register; from then on the decoder's
// renormalising shifts and the raw extra bits of lengths and distances take bits from the
// same sequence, in the order they are wanted. One item is:
//
//   selector symbol (selector model), then by selector:
//   0-3  literal symbol (literal model 0-3)          byte = symbol + 64 × selector
//   4    position slot (length-3 model), PX raw bits  length 3
//   5    position slot (length-4 model), PX raw bits  length 4
//   6    length slot (length model), LX raw bits,     length = LB + raw + 5
//        position slot (longer model), PX raw bits
//   distance = PB + raw + 1, counted back from the byte about to be written.
//
// A block is exactly as long as its bits: a bit wanted after its last byte, even by the
// renormalisation after the last item, fails the block.
#include "cabinet/quantum.h"

#include <bit>
#include <cstring>

#include "cabinet/quantum_constants.h"
#include "cabinet/quantum_model.h"

namespace quantum {
namespace {

constexpr uint32_t ContextTag = 0x43494451;  // "QDIC" in little-endian byte order
// Slack the caller adds to its input buffer beyond the block limit.
constexpr uint32_t InputSlackBytes = 10240;

struct Context {
  uint32_t tag;
  AllocateFn allocate;
  ReleaseFn release;
  uint32_t blockLimit;
};

// Everything that outlives one block. There is one per process: the cabinet reader keeps a
// single decompressor, and every operation makes its context the current one.
struct DecodingState {
  Context* current = nullptr;
  // The context whose window this is. A second `create` takes the state over; the first
  // context can then only be destroyed.
  Context* owner = nullptr;
  uint8_t* window = nullptr;
  uint8_t* windowEnd = nullptr;
  uint8_t* writePosition = nullptr;
  uint32_t total = 0;  // bytes produced since the last reset
  uint32_t windowMask = 0;
  uint32_t windowSize = 0;
  uint8_t windowBits = 0;
  QuantumModelSet models;
};

DecodingState state;

void releaseWindow() {
  if (state.owner != nullptr && state.window != nullptr) state.owner->release(state.window);
  state.window = nullptr;
  state.owner = nullptr;
}

Context* checkedContext(void* handle) {
  auto* context = static_cast<Context*>(handle);
  if (context == nullptr || context->tag != ContextTag) return nullptr;
  state.current = context;
  return context;
}

// Decodes one data block. The window, the total and the models live in `state`; the
// arithmetic decoder, the bit input and the output bookkeeping start afresh every block.
class BlockDecoder {
 public:
  BlockDecoder(const uint8_t* input, uint32_t inputBytes, uint8_t* output, uint32_t wantedBytes)
      : input_(input), inputLeft_(inputBytes), output_(output), remaining_(wantedBytes) {}

  bool run() {
    code_ = readBits(16);
    while (remaining_ > 0 && !exhausted_) decodeItem();
    return !exhausted_ && !overrun_;
  }

 private:
  // `count` bits (0 to 24), the first one most significant. Bits wanted after the block's
  // last byte are 0 and mark the block exhausted.
  uint32_t readBits(uint32_t count) {
    if (count == 0) return 0;
    if (bitCount_ < count) refill();
    if (bitCount_ < count) {
      exhausted_ = true;
      bitCount_ = count;  // the missing bits below the real ones are zeros already
    }
    const uint32_t value = static_cast<uint32_t>(bitBuffer_ >> (64 - count));
    bitBuffer_ <<= count;
    bitCount_ -= count;
    return value;
  }

  // Tops the buffer up with whole bytes while the block has any.
  void refill() {
    while (bitCount_ <= 56 && inputLeft_ > 0) {
      bitBuffer_ |= static_cast<uint64_t>(*input_++) << (56 - bitCount_);
      bitCount_ += 8;
      --inputLeft_;
    }
  }

  int32_t decodeSymbol(QuantumModel& model) {
    const uint32_t total = model.cumulative[0];
    const uint32_t range = high_ - low_ + 1;
    const uint32_t target = ((code_ - low_ + 1) * total - 1) / range;
    // cumulative[symbolCount] is 0, which ends the scan at the last entry at the latest.
    int32_t index = 0;
    while (model.cumulative[index + 1] > target) ++index;

    const uint32_t base = low_;
    high_ = (base + (range * model.cumulative[index]) / total - 1) & 0xFFFF;
    low_ = (base + (range * model.cumulative[index + 1]) / total) & 0xFFFF;
    renormalise();

    const int32_t symbol = model.symbol[index];
    model.update(index);
    return symbol;
  }

  // Shifts out the leading bits low and high agree on. Then, while the interval straddles
  // the middle within the second and third quarters, drops the second-highest bit instead,
  // so that the interval can keep growing: code ^= 0x4000, low &= 0x3FFF, high |= 0x4000,
  // shift. (After such a shift the top bits differ again, so the two kinds never mix.)
  // Every shift brings one bit into the code register.
  void renormalise() {
    const uint32_t equalBits = static_cast<uint32_t>(std::countl_zero(static_cast<uint16_t>(low_ ^ high_)));
    if (equalBits > 0) shift(equalBits);
    while ((low_ & 0x4000) != 0 && (high_ & 0x4000) == 0) {
      code_ ^= 0x4000;
      low_ &= 0x3FFF;
      high_ |= 0x4000;
      shift(1);
    }
  }

  void shift(uint32_t count) {
    low_ = (low_ << count) & 0xFFFF;
    high_ = ((high_ << count) | ((1u << count) - 1)) & 0xFFFF;
    code_ = ((code_ << count) | readBits(count)) & 0xFFFF;
  }

  void decodeItem() {
    const int32_t selector = decodeSymbol(state.models.selector);
    if (selector < LiteralModelCount) {
      const int32_t symbol = decodeSymbol(state.models.literal[selector]);
      putLiteral(static_cast<uint8_t>(symbol + LiteralSymbols * selector));
      return;
    }
    uint32_t length;
    int32_t slot;
    if (selector == SelectorMatch3) {
      length = 3;
      slot = decodeSymbol(state.models.match3Position);
    } else if (selector == SelectorMatch4) {
      length = 4;
      slot = decodeSymbol(state.models.match4Position);
    } else {
      const SlotRow& lengthSlot = LengthSlots[decodeSymbol(state.models.length)];
      length = lengthSlot.base + readBits(lengthSlot.extraBits) + LongerMatchOffset;
      slot = decodeSymbol(state.models.longerPosition);
    }
    const SlotRow& positionSlot = PositionSlots[slot];
    const uint32_t distance = positionSlot.base + readBits(positionSlot.extraBits) + 1;
    copyMatch(length, distance);
  }

  void putLiteral(uint8_t byte) {
    *state.writePosition++ = byte;
    if (state.writePosition == state.windowEnd) state.writePosition = state.window;
    *output_++ = byte;
    --remaining_;
    ++state.total;
  }

  // A match longer than the bytes still wanted writes nothing and fails the block.
  void copyMatch(uint32_t length, uint32_t distance) {
    if (remaining_ < length) {
      remaining_ = 0;
      overrun_ = true;
      return;
    }
    remaining_ -= length;
    const uint8_t* source = state.window + ((state.total - distance) & state.windowMask);
    uint8_t* target = state.writePosition;
    state.total += length;

    if (source + length <= state.windowEnd && target + length <= state.windowEnd) {
      // Neither end wraps. Byte by byte, so that an overlapping copy repeats bytes.
      for (uint32_t k = 0; k < length; ++k) {
        const uint8_t byte = source[k];
        target[k] = byte;
        output_[k] = byte;
      }
      target += length;
      output_ += length;
    } else {
      for (uint32_t k = 0; k < length; ++k) {
        const uint8_t byte = *source++;
        *target++ = byte;
        *output_++ = byte;
        if (source == state.windowEnd) source = state.window;
        if (target == state.windowEnd) target = state.window;
      }
    }
    if (target == state.windowEnd) target = state.window;
    state.writePosition = target;
  }

  // Bit input: the next unread bits stand at the top of the buffer.
  const uint8_t* input_;
  uint32_t inputLeft_;
  uint64_t bitBuffer_ = 0;
  uint32_t bitCount_ = 0;
  bool exhausted_ = false;
  // Arithmetic decoder registers, 16 bits each.
  uint32_t low_ = 0;
  uint32_t high_ = 0xFFFF;
  uint32_t code_ = 0;
  // Output of this block.
  uint8_t* output_;
  uint32_t remaining_;
  bool overrun_ = false;
};

}  // namespace

DecoderResult create(uint32_t* blockLimit, uint32_t windowBits, AllocateFn allocate,
                     ReleaseFn release, uint32_t* bufferNeed, void** handle) {
  if (windowBits < MinWindowBits || windowBits > MaxWindowBits) return cab::BadWindow;
  if (blockLimit == nullptr || bufferNeed == nullptr) return cab::BadSize;
  if (*blockLimit == 0 || *blockLimit > cab::MaxBlockBytes) *blockLimit = cab::MaxBlockBytes;
  *bufferNeed = *blockLimit + InputSlackBytes;
  if (handle == nullptr) return cab::Ok;

  *handle = nullptr;
  if (allocate == nullptr || release == nullptr) return cab::OutOfMemory;
  auto* context = static_cast<Context*>(allocate(sizeof(Context)));
  if (context == nullptr) return cab::OutOfMemory;
  context->allocate = allocate;
  context->release = release;
  context->blockLimit = *blockLimit;
  context->tag = ContextTag;
  state.current = context;

  // Taking over from a context still alive: its window goes back through its own callbacks.
  releaseWindow();
  state.windowBits = static_cast<uint8_t>(windowBits);
  state.windowSize = 1u << windowBits;
  state.windowMask = state.windowSize - 1;
  state.total = 0;
  state.window = static_cast<uint8_t*>(context->allocate(static_cast<int32_t>(state.windowSize)));
  if (state.window == nullptr) {
    context->tag = 0;
    context->release(context);
    state.current = nullptr;
    return cab::OutOfMemory;
  }
  // A distance reaching before the folder's start reads the ring as it stands; cleared,
  // it gives zeros rather than whatever the heap held.
  std::memset(state.window, 0, state.windowSize);
  state.owner = context;
  state.windowEnd = state.window + state.windowSize;
  state.writePosition = state.window;
  state.models.setUp(state.windowBits);

  *handle = context;
  return cab::Ok;
}

DecoderResult decompress(void* handle, const uint8_t* input, uint32_t inputBytes,
                         uint8_t* output, uint32_t* outputBytes) {
  Context* context = checkedContext(handle);
  if (context == nullptr || context != state.owner) return cab::BadHandle;
  if (outputBytes == nullptr || *outputBytes > context->blockLimit) return cab::BadSize;
  BlockDecoder block(input, inputBytes, output, *outputBytes);
  return block.run() ? cab::Ok : cab::DataError;
}

DecoderResult reset(void* handle) {
  Context* context = checkedContext(handle);
  if (context == nullptr || context != state.owner) return cab::BadHandle;
  state.total = 0;
  state.writePosition = state.window;
  state.models.setUp(state.windowBits);
  return cab::Ok;
}

DecoderResult destroy(void* handle) {
  Context* context = checkedContext(handle);
  if (context == nullptr) return cab::BadHandle;
  if (context == state.owner) releaseWindow();
  context->tag = 0;
  state.current = nullptr;
  context->release(context);
  return cab::Ok;
}

}  // namespace quantum
