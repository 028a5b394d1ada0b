// The host's value buffer of a gate, as the end-to-end tests hand it to the
// driver.
#ifndef ZAMKT_TESTS_SUPPORT_HOST_VALUE_H
#define ZAMKT_TESTS_SUPPORT_HOST_VALUE_H

#include <stdint.h>
#include <string.h>

// The host's value buffer of a gate: room for a block of 32 items of four
// bytes, filled with a pattern so that a read that stores nothing shows.
struct HostValue {
  alignas(8) unsigned char bytes[4 * 32];

  HostValue() { memset(bytes, 0xEE, sizeof bytes); }
  static HostValue Real(float value) {
    HostValue v;
    memcpy(v.bytes, &value, sizeof value);
    return v;
  }
  // 16-bit gates (data types 0 and 6) keep their word at offset 2.
  static HostValue Word(uint16_t value) {
    HostValue v;
    memcpy(v.bytes + 2, &value, sizeof value);
    return v;
  }
  static HostValue Long(uint32_t value) {
    HostValue v;
    memcpy(v.bytes, &value, sizeof value);
    return v;
  }

  void *data() { return bytes; }
  float real(int index = 0) const {
    float value;
    memcpy(&value, bytes + 4 * index, sizeof value);
    return value;
  }
  uint32_t number(int index = 0) const {
    uint32_t value;
    memcpy(&value, bytes + 4 * index, sizeof value);
    return value;
  }
  uint16_t word() const {
    uint16_t value;
    memcpy(&value, bytes + 2, sizeof value);
    return value;
  }
  // Digital items of a block: one 16-bit value per item from offset 0.
  uint16_t digital(int index) const {
    uint16_t value;
    memcpy(&value, bytes + 2 * index, sizeof value);
    return value;
  }
};

#endif  // ZAMKT_TESTS_SUPPORT_HOST_VALUE_H
