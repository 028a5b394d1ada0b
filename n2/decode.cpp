// Decoding of System 91 read replies into the host's value buffer.
//
// The data field is the reply's text between the leading "A" and the check
// characters: hex digit pairs (multi-byte items low byte first) for memory
// items, decimal digit pairs for clock and schedule values. A station may
// answer with fewer digits than a conversion takes; every conversion here
// stops at the field's terminator and counts the missing digits as '0', so
// nothing beyond the reply is ever read.
#include "n2/decode.h"

#include <string.h>

#include "n2/point_tables.h"
#include "n2/protocol.h"
#include "n2/tag_parse.h"

namespace {

// The text from position pos on, or the empty text at the field's terminator
// when the field ends before pos.
const char *FieldFrom(const char *data, size_t pos) {
  for (size_t i = 0; i < pos; ++i) {
    if (data[i] == '\0') return data + i;
  }
  return data + pos;
}

// Decimal value of up to count digits; stops at the first character that is
// not a digit (the terminator included), so "  " and "AB" give 0.
int32_t DecimalDigits(const char *text, int count) {
  int32_t value = 0;
  for (int i = 0; i < count && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// What "%ld" reads from the start of the field: blanks, an optional sign and
// decimal digits. False when no digit follows (the target then stays as it
// was). Values beyond 32 bits are held at the nearest limit.
bool ScanLong(const char *text, int32_t *value) {
  size_t i = 0;
  while (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')) ++i;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') {
    negative = text[i] == '-';
    ++i;
  }
  if (text[i] < '0' || text[i] > '9') return false;
  int64_t magnitude = 0;
  for (; text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= INT32_MAX) magnitude = magnitude * 10 + (text[i] - '0');
  }
  int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX) result = INT32_MAX;
  if (result < INT32_MIN) result = INT32_MIN;
  *value = static_cast<int32_t>(result);
  return true;
}

// The 16-bit item of the first 4 characters, first byte low.
uint16_t WordItem(const char *text) {
  uint8_t bytes[2];
  AsciiHexToVal(text, bytes, 2);
  return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The 32-bit item of the first 8 characters, first byte lowest.
int32_t LongItem(const char *text) {
  uint8_t bytes[4];
  AsciiHexToVal(text, bytes, 4);
  const uint32_t item = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                        (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  return static_cast<int32_t>(item);
}

// The host's value buffer carries no alignment promise, so values are copied
// in byte-wise.
void StoreWord(void *value, size_t offset, uint16_t word) {
  memcpy(static_cast<uint8_t *>(value) + offset, &word, sizeof word);
}
void StoreReal(void *value, size_t offset, float real) {
  memcpy(static_cast<uint8_t *>(value) + offset, &real, sizeof real);
}
void StoreLong(void *value, size_t offset, int32_t item) {
  memcpy(static_cast<uint8_t *>(value) + offset, &item, sizeof item);
}

bool BlockSizeValid(int32_t items) { return items >= 1 && items <= kMaxBlockItems; }

// The mnemonic part of the upper-cased GAS (empty when the GAS is shorter).
const char *UpperMnemonic(const char *gas, GasCopy &copy) {
  (void)CopyGasUpper(gas, copy);  // a longer GAS is cut to the copy's size
  const size_t length = strlen(copy);
  const size_t position = static_cast<size_t>(kMnemonicPosition);
  return length >= position ? copy + position : copy + length;
}

bool StartsWith(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

void AsciiHexToVal(const char *text, uint8_t *bytes, int n) {
  // Digits give c - '0', anything else c - 55 ('A'..'F' give 10..15); nothing
  // is checked, so lower-case or stray characters give wrong bytes quietly.
  // Past the terminator every digit counts as '0'.
  bool ended = false;
  auto nibble = [&](int index) -> uint8_t {
    if (!ended && text[index] == '\0') ended = true;
    const uint8_t c = ended ? '0' : static_cast<uint8_t>(text[index]);
    return static_cast<uint8_t>(c >= '0' && c <= '9' ? c - '0' : c - 55);
  };
  for (int i = 0; i < n; ++i) {
    const uint8_t high = nibble(2 * i);
    const uint8_t low = nibble(2 * i + 1);
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
}

uint16_t IntPow(uint16_t base, uint16_t n) {
  uint16_t result = 1;
  for (uint16_t i = 0; i < n; ++i) result = static_cast<uint16_t>(result * base);
  return result;
}

float BinaryFraction(uint16_t bits, uint16_t mask) {
  float sum = 0.0f;
  for (uint16_t i = 1; i <= 11; ++i) {
    if ((bits & mask) != 0) sum += 1.0f / IntPow(2, i);
    mask = static_cast<uint16_t>(mask >> 1);
  }
  return sum;
}

float N2FloatToReal(const char *text) {
  // Bits 15..12 exponent e, bit 11 sign, bits 10..0 mantissa m: m x 2^(e-11),
  // sign and magnitude. Every such value is exact in a float.
  const uint16_t item = WordItem(text);
  const bool negative = (item & 0x0800) != 0;
  const uint16_t e = static_cast<uint16_t>(item >> 12);
  const uint16_t m = static_cast<uint16_t>(item & 0x07FF);
  float value;
  if (e >= 11) {
    value = static_cast<float>(static_cast<uint16_t>(m << (e - 11)));
  } else {
    const uint16_t whole = static_cast<uint16_t>(m >> (11 - e));
    const float fraction = BinaryFraction(static_cast<uint16_t>(m & (2047 >> e)),
                                          static_cast<uint16_t>(1024 >> e));
    value = static_cast<float>(whole) + fraction;
  }
  // A set sign over a zero mantissa gives minus zero, as the device means it.
  return negative ? -1.0f * value : value;
}

void DecodeWordField(const char *data, uint16_t type, uint16_t *target) {
  if (data == nullptr || target == nullptr) return;
  uint16_t item;
  if (data[0] != '\0' && data[1] != '\0' && data[2] == '\0') {
    uint8_t byte;
    AsciiHexToVal(data, &byte, 1);
    item = byte;
  } else {
    item = WordItem(data);
  }
  uint16_t value;
  switch (type) {
    case kTypeField0: value = item & 3; break;
    case kTypeField2: value = (item >> 2) & 3; break;
    case kTypeField4: value = (item >> 4) & 3; break;
    case kTypeField6: value = (item >> 6) & 3; break;
    case kTypeField8: value = (item >> 8) & 3; break;
    case kTypeField10: value = (item >> 10) & 3; break;
    case kTypeField12: value = (item >> 12) & 7; break;
    case kTypeMinutes: value = item & 63; break;
    case kTypeHours: value = (item >> 8) & 31; break;
    case kTypeWeekday: value = (item >> 13) & 7; break;
    default: value = item; break;  // 50, 70: the whole item
  }
  *target = value;
}

void DecodeBits(ReadWriteBlock *block, uint16_t type, const char *data) {
  if (block == nullptr || block->value == nullptr || data == nullptr) return;
  const int32_t items = block->itemCount;
  if (!BlockSizeValid(items)) return;
  uint16_t item;
  if (type == kTypeBit8) {
    uint8_t byte;
    AsciiHexToVal(data, &byte, 1);
    item = byte;
  } else {
    item = WordItem(data);
  }
  // Bits from 16 on lie beyond the item and read as 0.
  auto bitOf = [item](uint32_t bit) -> uint16_t {
    return bit < 16 ? static_cast<uint16_t>((item >> bit) & 1) : 0;
  };
  if (items == 1) {
    StoreWord(block->value, 2, bitOf(static_cast<uint16_t>(block->bit)));
    return;
  }
  for (int32_t i = 0; i < items; ++i) {
    StoreWord(block->value, 2 * static_cast<size_t>(i), bitOf(static_cast<uint32_t>(i)));
  }
}

void DecodeLong(ReadWriteBlock *block, const char *data) {
  if (block == nullptr || block->value == nullptr || data == nullptr) return;
  const int32_t items = block->itemCount;
  if (!BlockSizeValid(items)) return;
  if (items != 1) {
    for (int32_t i = 0; i < items; ++i) {
      StoreLong(block->value, 4 * static_cast<size_t>(i), LongItem(FieldFrom(data, 8 * static_cast<size_t>(i))));
    }
    return;
  }

  GasCopy gas;
  const char *mnemonic = UpperMnemonic(block->gas, gas);
  const uint16_t special = static_cast<uint16_t>(block->region);

  if (special == kSpecialSchedule) {
    if (StartsWith(mnemonic, "DAYS")) {
      uint8_t bytes[2];
      AsciiHexToVal(data, bytes, 2);
      StoreLong(block->value, 0, DecodeDays(bytes[0]));
      return;
    }
    // START and END times arrive as decimal minutes then hours; the device
    // shows the end of the day as 24:00, which the host knows as 23:59.
    const int32_t minutes = DecimalDigits(data, 2);
    const int32_t hours = DecimalDigits(FieldFrom(data, 2), 2);
    const int32_t total = (hours == 24 && minutes == 0) ? 1439 : hours * 60 + minutes;
    StoreLong(block->value, 0, total);
    return;
  }

  if (special == kSpecialClock) {
    if (StartsWith(mnemonic, "TIME")) {
      const int32_t hours = DecimalDigits(data, 2);
      const int32_t minutes = DecimalDigits(FieldFrom(data, 2), 2);
      const int32_t seconds = DecimalDigits(FieldFrom(data, 4), 2);
      StoreLong(block->value, 0, hours * 3600 + minutes * 60 + seconds);
      return;
    }
    if (StartsWith(mnemonic, "DATE")) {
      StoreLong(block->value, 0, DecodeDate(data));
      return;
    }
    // CENT, WDAY: a plain decimal number; without one the value stays.
    int32_t value;
    if (ScanLong(data, &value)) StoreLong(block->value, 0, value);
    return;
  }

  StoreLong(block->value, 0, LongItem(data));
}

int32_t DecodeDays(uint8_t mask) {
  // The weekday and all-days classes have numbers of their own.
  if (mask == 0x1F) return 9;
  if (mask == 0x7F) return 0;
  int32_t value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if ((mask >> bit) & 1) value = value * 10 + bit + 1;
  }
  return value;
}

namespace {

constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int32_t kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The devices' years 1980..2038, in which every fourth year is a leap year.
bool IsLeapYear(int32_t year) { return year % 4 == 0; }

}  // namespace

int32_t DecodeDate(const char *text) {
  if (text == nullptr) return 0;
  const int32_t yy = DecimalDigits(text, 2);
  const int32_t month = DecimalDigits(FieldFrom(text, 2), 2);
  const int32_t day = DecimalDigits(FieldFrom(text, 4), 2);

  int32_t year;
  if (yy >= 80 && yy <= 99) {
    year = 1900 + yy;
  } else if (yy <= 38) {
    year = 2000 + yy;
  } else {
    return 0;
  }
  // A month or day the calendar does not have is no date either.
  if (month < 1 || month > 12) return 0;
  const int32_t monthDays = kDaysInMonth[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
  if (day < 1 || day > monthDays) return 0;

  const int32_t leapYearsBefore = (year - 1980 + 3) / 4;  // 1980, 1984, ... below year
  int32_t dayNumber = 365 * (year - 1980) + kDaysBeforeMonth[month - 1] + day + leapYearsBefore;
  if (IsLeapYear(year) && month >= 3) ++dayNumber;
  return dayNumber;
}

size_t DataDigitsNeeded(const ReadWriteBlock *block, uint16_t type) {
  if (block == nullptr) return 0;
  const int32_t items = block->itemCount;
  if (!BlockSizeValid(items)) return 0;
  const size_t count = static_cast<size_t>(items);
  switch (static_cast<uint8_t>(block->dataType)) {
    case kGateInt16:
      // Fields that lie in the high byte need the whole word; the others,
      // and whole words, may come as one byte (DecodeWordField).
      switch (type) {
        case kTypeField8:
        case kTypeField10:
        case kTypeField12:
        case kTypeHours:
        case kTypeWeekday:
          return 4;
        default:
          return 2;
      }
    case kGateReal:
      return 4 * count;
    case kGateDigital:
      return type == kTypeBit8 ? 2 : 4;
    case kGateInt32: {
      if (items != 1) return 8 * count;
      GasCopy gas;
      const char *mnemonic = UpperMnemonic(block->gas, gas);
      const uint16_t special = static_cast<uint16_t>(block->region);
      if (special == kSpecialSchedule) return StartsWith(mnemonic, "DAYS") ? 2 : 4;
      if (special == kSpecialClock) {
        return StartsWith(mnemonic, "TIME") || StartsWith(mnemonic, "DATE") ? 6 : 0;
      }
      return 8;
    }
    default:
      return 0;
  }
}

namespace {

bool AllDecimal(const char *text, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// Two decimal digits at position pos of a field known to hold them.
int32_t PairAt(const char *data, size_t pos) { return DecimalDigits(data + pos, 2); }

}  // namespace

bool DecimalFieldValid(const ReadWriteBlock *block, const char *data, size_t digits) {
  if (block == nullptr || data == nullptr) return false;
  if (static_cast<uint8_t>(block->dataType) != kGateInt32 || block->itemCount != 1) return true;
  GasCopy gas;
  const char *mnemonic = UpperMnemonic(block->gas, gas);
  const uint16_t special = static_cast<uint16_t>(block->region);

  if (special == kSpecialSchedule) {
    if (StartsWith(mnemonic, "DAYS")) return true;  // a hex day mask
    if (digits < 4 || !AllDecimal(data, 4)) return false;
    const int32_t minutes = PairAt(data, 0);
    const int32_t hours = PairAt(data, 2);
    // 24:00 is the device's end of the day; any other hour past 23 is none.
    return minutes <= 59 && (hours <= 23 || (hours == 24 && minutes == 0));
  }
  if (special == kSpecialClock) {
    if (StartsWith(mnemonic, "TIME")) {
      if (digits < 6 || !AllDecimal(data, 6)) return false;
      return PairAt(data, 0) <= 23 && PairAt(data, 2) <= 59 && PairAt(data, 4) <= 59;
    }
    if (StartsWith(mnemonic, "DATE")) return digits >= 6 && AllDecimal(data, 6);
    // CENT, WDAY: a number read from the whole field.
    return digits > 0 && AllDecimal(data, digits);
  }
  return true;
}

bool DataFieldComplete(const ReadWriteBlock *block, uint16_t type, size_t digits) {
  // A 16-bit item comes as one byte or as a whole word: three digits would
  // leave the word's last digit to be made up.
  if (block != nullptr && static_cast<uint8_t>(block->dataType) == kGateInt16 && digits == 3) return false;
  return digits >= DataDigitsNeeded(block, type);
}

void StoreData(ReadWriteBlock *block, const char *data, uint16_t length, uint16_t type) {
  (void)length;  // the field's terminator bounds every conversion
  if (block == nullptr || block->value == nullptr || data == nullptr) return;
  const int32_t items = block->itemCount;
  if (!BlockSizeValid(items)) return;

  switch (static_cast<uint8_t>(block->dataType)) {
    case kGateInt16: {
      uint16_t word = 0;
      DecodeWordField(data, type, &word);
      StoreWord(block->value, 2, word);
      break;
    }
    case kGateReal:
      if (items == 1) {
        StoreReal(block->value, 0, N2FloatToReal(data));
      } else {
        for (int32_t i = 0; i < items; ++i) {
          const size_t at = 4 * static_cast<size_t>(i);
          StoreReal(block->value, at, N2FloatToReal(FieldFrom(data, at)));
        }
      }
      break;
    case kGateInt32:
      DecodeLong(block, data);
      break;
    case kGateDigital:
      DecodeBits(block, type, data);
      break;
    default:
      break;  // no System 91 point serves the other host types
  }
}
