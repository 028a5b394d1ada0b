#include "host/common/value_buffer.h"

#include <string.h>

#include "driver/requests.h"

namespace n2host {
namespace {

constexpr int kWordOffset = 2;

template <typename T>
T Load(const uint8_t *bytes, int offset) {
  T value;
  memcpy(&value, bytes + offset, sizeof value);
  return value;
}

}  // namespace

GateValue ValueBuffer::Single(int type) const { return Item(type, 0); }

GateValue ValueBuffer::Item(int type, int index) const {
  GateValue value;
  value.type = type;
  const int offset = index * 4;
  switch (type) {
    case kGateReal:
      value.real = Load<float>(bytes, offset);
      break;
    case kGateInt32:
      value.integer = Load<int32_t>(bytes, offset);
      break;
    case kGateInt16:
      value.integer = Load<int16_t>(bytes, kWordOffset);
      break;
    default:  // uint16 and digital
      value.integer = Load<uint16_t>(bytes, kWordOffset);
      break;
  }
  return value;
}

void ValueBuffer::Store(const GateValue &value) {
  memset(bytes, 0, sizeof bytes);
  if (value.type == kGateReal) {
    float real = static_cast<float>(value.real);
    memcpy(bytes, &real, sizeof real);
  } else if (value.type == kGateInt32) {
    uint32_t number = static_cast<uint32_t>(value.integer);
    memcpy(bytes, &number, sizeof number);
  } else {
    uint16_t word = static_cast<uint16_t>(value.integer);
    memcpy(bytes + kWordOffset, &word, sizeof word);
  }
}

}  // namespace n2host
