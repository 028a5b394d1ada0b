// Shared by the write tests: a channel on a pseudo-terminal with a scripted
// station behind it, host value buffers as the host lays them out, and the
// request frames the stations expect, built here from the line format itself
// (not by the driver's framing code) so the driver's frames are checked
// against an independent construction.
#ifndef ZAMKT_TESTS_WRITE_TEST_HELPERS_H
#define ZAMKT_TESTS_WRITE_TEST_HELPERS_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "tests/support/driver_channel.h"
#include "tests/support/pty.h"
#include "tests/support/scripted_device.h"

namespace write_test {

inline std::string Hex(const std::vector<uint8_t> &bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    text += pair;
  }
  return text;
}

inline std::string SumHex(const std::string &text) {
  unsigned sum = 0;
  for (unsigned char c : text) sum += c;
  return Hex({static_cast<uint8_t>(sum & 0xFF)});
}

// A System 91 request line without its CR: ">" + message bytes and the two
// Fletcher check bytes as hex + the frame sum of that hex. The Fletcher sums
// fold only above 255 (a sum of exactly 255 stays 255).
inline std::string S91Frame(std::vector<uint8_t> message) {
  unsigned s1 = 0, s2 = 0;
  for (uint8_t b : message) {
    s1 += b;
    if (s1 > 255) s1 -= 255;
    s2 += s1;
    if (s2 > 255) s2 -= 255;
  }
  unsigned t = s1 + s2;
  if (t > 255) t -= 255;
  message.push_back(static_cast<uint8_t>(255 - t));
  message.push_back(static_cast<uint8_t>(s2));
  const std::string body = Hex(message);
  return ">" + body + SumHex(body);
}

// An N2 Open request line without its CR: no Fletcher check bytes.
inline std::string N2OpenFrame(const std::vector<uint8_t> &message) {
  const std::string body = Hex(message);
  return ">" + body + SumHex(body);
}

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

// What one request did: the status, every line the station received, the
// script mismatches and the messages logged at the driver's level (the
// encoder's level-8 trace lines are kept apart).
struct Outcome {
  int32_t status = -1;
  std::vector<std::string> requests;
  std::vector<std::string> mismatches;
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
class WriteChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("ZAMKT01.int", "030 = XT9100\n045 = TC9100\n005 = N2OPEN\n");
    // A short read time-out (50 ms) keeps the silent cases fast.
    ASSERT_EQ(channel_.Init(pty_.portName(), 5), 0);
  }
  void TearDown() override { channel_.Close(); }

  // Runs one host call against a station that follows the script.
  Outcome Exchange(std::vector<DeviceStep> steps, const std::function<int32_t()> &call) {
    log_.Clear();
    ScriptedDevice device(pty_.master());
    device.Run(std::move(steps));
    Outcome outcome;
    outcome.status = call();
    outcome.requests = device.Finish();
    outcome.mismatches = device.Mismatches();
    for (const std::string &line : log_.Lines()) {
      const size_t tab = line.find('\t');
      const std::string level = line.substr(0, tab);
      const std::string text = tab == std::string::npos ? line : line.substr(tab + 1);
      (level == "8" ? outcome.traces : outcome.messages).push_back(text);
    }
    return outcome;
  }

  // Command 7 as a host sends it: parse the GAS, then write with the results.
  Outcome Write(const std::string &gas, int32_t dataType, HostValue value, std::vector<DeviceStep> steps) {
    return Exchange(std::move(steps), [&] { return channel_.Write(gas, dataType, value.bytes); });
  }

  // Command 7 with a read/write block the test has filled itself.
  Outcome WriteBlock(ReadWriteBlock block, std::vector<DeviceStep> steps) {
    return Exchange(std::move(steps), [&] { return channel_.Call(kCmdSingleWrite, &block); });
  }

  // The read/write block a host builds from a successful parse of gas.
  ReadWriteBlock ParsedBlock(const std::string &gas, int32_t dataType, void *value) {
    ParseBlock parsed;
    EXPECT_EQ(channel_.Parse(gas, dataType, &parsed), 0) << gas;
    return DriverChannel::BlockFromParse(parsed, nullptr, dataType, value, 1);
  }

  LogCapture log_;
  TempWorkDir dir_;
  PtyPair pty_;
  DriverChannel channel_;
};

}  // namespace write_test

#endif  // ZAMKT_TESTS_WRITE_TEST_HELPERS_H
