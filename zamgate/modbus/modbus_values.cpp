#include "zamgate/modbus/modbus_values.h"

#include <math.h>
#include <string.h>

#include "driver/requests.h"

namespace zamgate {
namespace {

void SplitWords(uint32_t bits, WordOrder order, uint16_t words[2]) {
  uint16_t high = static_cast<uint16_t>(bits >> 16);
  uint16_t low = static_cast<uint16_t>(bits & 0xFFFF);
  words[0] = order == WordOrder::kHighWordFirst ? high : low;
  words[1] = order == WordOrder::kHighWordFirst ? low : high;
}

uint32_t JoinWords(const uint16_t *words, WordOrder order) {
  uint32_t high = order == WordOrder::kHighWordFirst ? words[0] : words[1];
  uint32_t low = order == WordOrder::kHighWordFirst ? words[1] : words[0];
  return (high << 16) | low;
}

}  // namespace

int EncodeRegisters(const n2host::GateValue &value, int type, WordOrder order, uint16_t words[2]) {
  switch (type) {
    case kGateReal: {
      float single = static_cast<float>(value.real);
      uint32_t bits;
      memcpy(&bits, &single, sizeof bits);
      SplitWords(bits, order, words);
      return 2;
    }
    case kGateInt32:
      SplitWords(static_cast<uint32_t>(static_cast<int32_t>(value.integer)), order, words);
      return 2;
    default:  // int16 and uint16 alike: the low 16 bits, two's complement for int16
      words[0] = static_cast<uint16_t>(value.integer & 0xFFFF);
      return 1;
  }
}

bool DecodeRegisters(int type, WordOrder order, const uint16_t *words, n2host::GateValue *value, std::string *why) {
  *value = n2host::GateValue{};
  value->type = type;
  switch (type) {
    case kGateReal: {
      uint32_t bits = JoinWords(words, order);
      float single;
      memcpy(&single, &bits, sizeof single);
      if (!isfinite(single)) {
        *why = "the registers hold no finite real";
        return false;
      }
      value->real = single;
      return true;
    }
    case kGateInt32:
      value->integer = static_cast<int32_t>(JoinWords(words, order));
      return true;
    case kGateInt16:
      value->integer = static_cast<int16_t>(words[0]);
      return true;
    case kGateUInt16:
      value->integer = words[0];
      return true;
    default:
      *why = "a digital gate is written as a coil";
      return false;
  }
}

bool EncodeBit(const n2host::GateValue &value) { return value.integer != 0; }

n2host::GateValue DecodeBit(bool on) {
  n2host::GateValue value;
  value.type = kGateDigital;
  value.integer = on ? 1 : 0;
  return value;
}

}  // namespace zamgate
