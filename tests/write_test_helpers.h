// Shared by the write tests: a channel on a pseudo-terminal with the write
// tests' stations behind it, what one write did with the lines it logged, and
// host value buffers as the host lays them out. The request frames the
// stations expect come from tests/support/expected_frames.h, built from the
// line format itself and not by the driver's framing code.
#ifndef ZAMKT_TESTS_WRITE_TEST_HELPERS_H
#define ZAMKT_TESTS_WRITE_TEST_HELPERS_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/requests.h"
#include "tests/support/driver_channel.h"
#include "tests/support/exchange_fixture.h"
#include "tests/support/expected_frames.h"
#include "tests/support/scripted_device.h"

namespace write_test {

// The value buffer of a write as the host fills it: reals and 32-bit
// integers at offset 0, 16-bit values (integers and digital) at offset 2.
struct HostValue {
  alignas(4) uint8_t bytes[8] = {};

  static HostValue Word(uint16_t word) {
    HostValue v;
    memcpy(v.bytes + 2, &word, sizeof word);
    return v;
  }
  static HostValue Real(float real) {
    HostValue v;
    memcpy(v.bytes, &real, sizeof real);
    return v;
  }
  static HostValue Long(int32_t number) {
    HostValue v;
    memcpy(v.bytes, &number, sizeof number);
    return v;
  }
};

// What one request did on the line, and the messages it logged at the
// driver's level (the encoder's level-8 trace lines are kept apart).
struct WriteOutcome : Outcome {
  std::vector<std::string> messages;
  std::vector<std::string> traces;
};

inline std::vector<std::string> Repeat(const std::string &text, int times) {
  return std::vector<std::string>(static_cast<size_t>(times), text);
}

template <typename T>
std::vector<T> Concat(std::vector<std::vector<T>> parts) {
  std::vector<T> all;
  for (auto &part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Stations of the channel: 1 is a DX9100 (the default), 30 an XT9100,
// 45 a TC9100 and 5 an N2 Open station.
class WriteChannelTest : public ExchangeFixture {
 protected:
  WriteChannelTest() : ExchangeFixture("030 = XT9100\n045 = TC9100\n005 = N2OPEN\n") {}

  // Runs one host call against a station that follows the script, with the
  // log of that call alone.
  template <typename Call>
  WriteOutcome Exchange(std::vector<DeviceStep> steps, Call call) {
    log_.Clear();
    WriteOutcome outcome;
    static_cast<Outcome &>(outcome) = ExchangeFixture::Exchange(std::move(steps), call);
    for (const std::string &line : log_.Lines()) {
      const size_t tab = line.find('\t');
      const std::string level = line.substr(0, tab);
      const std::string text = tab == std::string::npos ? line : line.substr(tab + 1);
      (level == "8" ? outcome.traces : outcome.messages).push_back(text);
    }
    return outcome;
  }

  // Command 7 as a host sends it: parse the GAS, then write with the results.
  WriteOutcome Write(const std::string &gas, int32_t dataType, HostValue value, std::vector<DeviceStep> steps) {
    return Exchange(std::move(steps), [&] { return channel_.Write(gas, dataType, value.bytes); });
  }

  // Command 7 with a read/write block the test has filled itself.
  WriteOutcome WriteBlock(ReadWriteBlock block, std::vector<DeviceStep> steps) {
    return Exchange(std::move(steps), [&] { return channel_.Call(kCmdSingleWrite, &block); });
  }

  // The read/write block a host builds from a successful parse of gas.
  ReadWriteBlock ParsedBlock(const std::string &gas, int32_t dataType, void *value) {
    ParseBlock parsed;
    EXPECT_EQ(channel_.Parse(gas, dataType, &parsed), 0) << gas;
    return DriverChannel::BlockFromParse(parsed, nullptr, dataType, value, 1);
  }
};

}  // namespace write_test

#endif  // ZAMKT_TESTS_WRITE_TEST_HELPERS_H
