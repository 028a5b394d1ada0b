// The bench of the tests that go end to end through ZamMain: one driver
// channel on the slave side of a pseudo-terminal, a scripted station on the
// master side, and the driver's log captured.
#ifndef ZAMKT_TESTS_SUPPORT_EXCHANGE_FIXTURE_H
#define ZAMKT_TESTS_SUPPORT_EXCHANGE_FIXTURE_H

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/requests.h"
#include "tests/support/driver_channel.h"
#include "tests/support/pty.h"
#include "tests/support/scripted_device.h"

// What one host call did on the line.
struct Outcome {
  int32_t status = -1;                  // the driver's status
  std::vector<std::string> sent;        // every request line the station received, in order
  std::vector<std::string> mismatches;  // where they differed from the script
};

// The host's value buffer: room for a block read of 32 items, filled with a
// pattern so that the bytes a call must not touch can be checked. A single
// read or write keeps a real or a 32-bit item at offset 0 and a 16-bit one at
// offset 2; a block read lays its items one after another from offset 0.
struct ValueBuffer {
  unsigned char bytes[256];

  ValueBuffer() { memset(bytes, 0xAA, sizeof bytes); }
  template <typename T>
  T At(size_t offset) const {
    T value;
    memcpy(&value, bytes + offset, sizeof value);
    return value;
  }
  float Real() const { return At<float>(0); }
  uint16_t Word() const { return At<uint16_t>(2); }
  int32_t Long() const { return At<int32_t>(0); }
  void SetReal(float value) { memcpy(bytes, &value, sizeof value); }
  void SetWord(uint16_t value) { memcpy(bytes + 2, &value, sizeof value); }
  // True when bytes [from, to) still hold the pattern.
  bool Untouched(size_t from, size_t to) const {
    for (size_t i = from; i < to; ++i) {
      if (bytes[i] != 0xAA) return false;
    }
    return true;
  }
};

// The read/write block as a host fills it for a gate it has parsed before
// (bit 255: none), for the tests that set the parse results themselves.
inline ReadWriteBlock HostBlock(const char *gas, int32_t station, int32_t region, int32_t element, int32_t dataType,
                                void *value, int32_t items = 1, int32_t bit = 255) {
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas;
  block.station = station;
  block.region = region;
  block.element = element;
  block.bit = bit;
  block.dataType = dataType;
  block.itemCount = items;
  block.value = value;
  return block;
}

// Starts channel 1 on the pseudo-terminal (9600 8N1) in a temporary working
// folder that holds the station-type file ZAMKT01.int with the given text,
// then clears the log. The reply time-out of 20 x 10 ms keeps silent attempts
// short and still gives the scripted station's thread room on a loaded
// machine: a reply that comes later than the time-out is a retry, and the
// tests count the frames sent. The channel is closed after each test.
class ExchangeFixture : public testing::Test {
 protected:
  explicit ExchangeFixture(std::string stationTypes) : stationTypes_(std::move(stationTypes)) {}

  void SetUp() override {
    dir_.WriteFile("ZAMKT01.int", stationTypes_);
    ASSERT_EQ(channel_.Init(pty_.portName(), 20), 0);
    log_.Clear();
  }
  void TearDown() override { channel_.Close(); }

  // Plays the script on the station's side while the host call runs.
  template <typename Call>
  Outcome Exchange(std::vector<DeviceStep> script, Call call) {
    ScriptedDevice device(pty_.master());
    device.Run(std::move(script));
    int32_t status = call();
    std::vector<std::string> sent = device.Finish(200);
    return Outcome{status, sent, device.Mismatches()};
  }

  TempWorkDir dir_;
  LogCapture log_;
  PtyPair pty_;
  DriverChannel channel_;

 private:
  std::string stationTypes_;
};

#endif  // ZAMKT_TESTS_SUPPORT_EXCHANGE_FIXTURE_H
