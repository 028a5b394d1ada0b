// What the fuzz targets share: reading fields from the fuzz input, the
// host's buffers with guard bytes behind them, the station-type table of a
// channel, and the checks of the frames the driver puts on the line.
#ifndef ZAMKT_FUZZ_FUZZ_SUPPORT_H
#define ZAMKT_FUZZ_FUZZ_SUPPORT_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "driver/requests.h"
#include "driver/station_types.h"

// A broken invariant is a finding: say which, and abort so that libFuzzer
// (or the runner under the sanitizers) stops and keeps the input.
#define FUZZ_CHECK(condition, ...)                              \
  do {                                                          \
    if (!(condition)) {                                         \
      fprintf(stderr, "fuzz check failed: %s\n  ", #condition); \
      fprintf(stderr, __VA_ARGS__);                             \
      fprintf(stderr, "\n");                                    \
      abort();                                                  \
    }                                                           \
  } while (0)

namespace fuzz {

// Fields taken from the front of the input; an exhausted input gives zeros.
class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  int16_t Int16() {
    uint16_t low = Byte();
    return static_cast<int16_t>(low | (Byte() << 8));
  }
  // The bytes up to the next '\n' (not included) or the end.
  std::string Line() {
    std::string line;
    while (at_ < size_ && data_[at_] != '\n') line += static_cast<char>(data_[at_++]);
    if (at_ < size_) ++at_;
    return line;
  }
  std::string Rest() {
    std::string rest(reinterpret_cast<const char *>(data_ + at_), size_ - at_);
    at_ = size_;
    return rest;
  }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

// A host text of exactly its length and its terminator on the heap, so that
// the sanitizers see any read past the terminator.
inline std::unique_ptr<char[]> HostText(const std::string &text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

// A host buffer of size bytes followed by guard bytes; the driver may write
// the buffer but never the guard.
class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 16;
  static constexpr uint8_t kGuardByte = 0xE5;

  GuardedBuffer(size_t size, const uint8_t *initial, size_t initialSize)
      : size_(size), bytes_(new uint8_t[size + kGuard]), before_(new uint8_t[size]) {
    memset(bytes_.get(), 0x5A, size);
    memcpy(bytes_.get(), initial, initialSize < size ? initialSize : size);
    memset(bytes_.get() + size, kGuardByte, kGuard);
    memcpy(before_.get(), bytes_.get(), size);
  }

  void *data() { return bytes_.get(); }
  size_t size() const { return size_; }
  bool GuardIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[size_ + i] != kGuardByte) return false;
    }
    return true;
  }
  bool Unchanged() const { return memcmp(bytes_.get(), before_.get(), size_) == 0; }
  template <typename T>
  T At(size_t offset) const {
    T value;
    memcpy(&value, bytes_.get() + offset, sizeof value);
    return value;
  }

 private:
  size_t size_;
  std::unique_ptr<uint8_t[]> bytes_;
  std::unique_ptr<uint8_t[]> before_;
};

// The four families, and four slot contents no start-up ever leaves behind
// (a host may hand over a record that never saw command 1).
inline void SetStationSlot(ChannelContext *context, int32_t station, uint8_t choice) {
  if (station < 0 || station > kLastTypedStation) return;
  char *slot = context->stationTypes[station];
  memset(slot, 0, kStationTypeSize);
  // clang-format off
  switch (choice % 8) {
    case 0: strcpy(slot, kTypeDX9100); break;
    case 1: strcpy(slot, kTypeXT9100); break;
    case 2: strcpy(slot, kTypeTC9100); break;
    case 3: strcpy(slot, kTypeN2Open); break;
    case 4: memcpy(slot, "N2OPEN!!", kStationTypeSize); break;          // no terminator
    case 5: break;                                                       // empty
    case 6: strcpy(slot, "n2open"); break;                               // lower case
    default: memcpy(slot, "DX9100\0X", kStationTypeSize); break;        // junk behind the name
  }
  // clang-format on
}

// The station address in the first three characters of a GAS, or -1.
inline int32_t GasStation(const std::string &gas) {
  if (gas.size() < 3) return -1;
  int32_t station = 0;
  for (int i = 0; i < 3; ++i) {
    if (gas[i] < '0' || gas[i] > '9') return -1;
    station = station * 10 + (gas[i] - '0');
  }
  return station;
}

inline bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

inline uint8_t HexValue(char c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'A' + 10); }

// 8-bit sum of the character codes, as the frames carry it.
inline uint8_t Sum(const std::string &text) {
  uint8_t sum = 0;
  for (char c : text) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

// True when the line ends in two upper-case hex digits that are the sum of
// the characters between its first character and them.
inline bool ReplySumCorrect(const std::string &line) {
  if (line.size() < 3) return false;
  char high = line[line.size() - 2];
  char low = line[line.size() - 1];
  if (!IsUpperHex(high) || !IsUpperHex(low)) return false;
  return Sum(line.substr(1, line.size() - 3)) == (HexValue(high) << 4 | HexValue(low));
}

// Checks one request line the driver wrote: ">", upper-case hex pairs of the
// message (the N2 Open status frame puts "F" in place of a pair), the frame
// sum and a carriage return; the first message byte names the station. With
// fletcher set the message ends in the two Fletcher check bytes of the bytes
// before them. Returns what is wrong, or "" when nothing is.
inline std::string FrameFault(const std::string &frame, int32_t station, bool fletcher) {
  if (frame.size() < 6 || frame[0] != '>' || frame.back() != '\r') return "not a frame";
  std::string body = frame.substr(1, frame.size() - 4);
  std::string sum = frame.substr(frame.size() - 3, 2);
  for (char c : body + sum) {
    if (!IsUpperHex(c)) return "not upper-case hex";
  }
  if ((HexValue(sum[0]) << 4 | HexValue(sum[1])) != Sum(body)) return "wrong frame sum";
  if ((HexValue(body[0]) << 4 | HexValue(body[1])) != (station & 0xFF)) return "names another station";
  if (body.size() == 3 && body[2] == 'F') return "";  // the N2 Open status frame
  if (body.size() % 2 != 0) return "odd number of hex digits";
  if (!fletcher) return "";
  size_t n = body.size() / 2;
  if (n < 3) return "no Fletcher check bytes";
  uint16_t s1 = 0, s2 = 0;
  for (size_t i = 0; i + 2 < n; ++i) {
    s1 = static_cast<uint16_t>(s1 + (HexValue(body[2 * i]) << 4 | HexValue(body[2 * i + 1])));
    if (s1 > 255) s1 = static_cast<uint16_t>(s1 - 255);
    s2 = static_cast<uint16_t>(s2 + s1);
    if (s2 > 255) s2 = static_cast<uint16_t>(s2 - 255);
  }
  uint16_t total = static_cast<uint16_t>(s1 + s2);
  if (total > 255) total = static_cast<uint16_t>(total - 255);
  uint8_t c0 = static_cast<uint8_t>(HexValue(body[2 * n - 4]) << 4 | HexValue(body[2 * n - 3]));
  uint8_t c1 = static_cast<uint8_t>(HexValue(body[2 * n - 2]) << 4 | HexValue(body[2 * n - 1]));
  if (c0 != 255 - total || c1 != s2) return "wrong Fletcher check bytes";
  return "";
}

}  // namespace fuzz

#endif  // ZAMKT_FUZZ_FUZZ_SUPPORT_H
