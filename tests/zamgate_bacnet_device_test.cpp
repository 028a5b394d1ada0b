// The BACnet device without sockets: requests in as bytes, answers out as
// bytes. Each case is a fault a client would meet: an answer of the wrong
// kind (Error, Reject, Abort), a write answered before it was carried out
// or answered with success when refused, a command left in its slot after
// a failed write, a subscription not bounded or not notified.
#include <gtest/gtest.h>

#include <map>

#include "driver/requests.h"
#include "zamgate/bacnet/device.h"

namespace {

using namespace bacnet;
using Bytes = std::vector<uint8_t>;

// The gateway's side: records writes; refuses when told to.
class FakeSink : public WriteSink {
 public:
  bool Submit(size_t gate, const std::string &valueText, uint64_t ticket, std::string *reason) override {
    if (!refuse.empty()) {
      *reason = refuse;
      return false;
    }
    writes.push_back({gate, valueText, ticket});
    return true;
  }
  struct Write {
    size_t gate;
    std::string text;
    uint64_t ticket;
  };
  std::vector<Write> writes;
  std::string refuse;
};

class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest() {
    config_.enabled = true;
    config_.deviceInstance = 77;
    config_.deviceName = "dev";
    config_.maxSubscriptions = 2;
    config_.map = {{0, kAnalogInput, 1, "Room", 0.5f, {}, ""},
                   {1, kAnalogValue, 2, "Setpoint", 0, {}, ""},
                   {2, kBinaryValue, 3, "Fan", 0, {}, ""},
                   {3, kAnalogValue, 4, "Count", 0, {}, ""}};
    std::vector<GateReading> gates(4);
    gates[0] = {true, true, 21.5, kGateReal, n2host::PointKind::kPlain, "001AI01AI"};
    gates[1] = {true, true, 19.5, kGateReal, n2host::PointKind::kPlain, "001PM01LSP"};
    gates[2] = {true, true, 0, kGateDigital, n2host::PointKind::kDigital, "005BO001"};
    gates[3] = {true, true, 7, kGateInt16, n2host::PointKind::kPlain, "005AD001"};
    device_ = std::make_unique<Device>(config_, gates);
    device_->SetWriteSink(&sink_);
  }

  // A confirmed request's service data in, the APDU of each answer out.
  std::vector<Bytes> Ask(uint8_t service, const Bytes &body, uint8_t maxApduCode = 5) {
    Bytes npdu = {0x01, 0x04, 0x00, maxApduCode, 0x2A, service};
    npdu.insert(npdu.end(), body.begin(), body.end());
    return Apdus(npdu);
  }
  std::vector<Bytes> Apdus(const Bytes &npdu) {
    std::vector<Outgoing> out;
    device_->Handle(npdu.data(), npdu.size(), peer_, now_, &out);
    return Strip(out);
  }
  static std::vector<Bytes> Strip(const std::vector<Outgoing> &out) {
    std::vector<Bytes> apdus;
    for (const Outgoing &one : out) {
      Npdu npdu;
      EXPECT_TRUE(DecodeNpdu(one.npdu.data(), one.npdu.size(), &npdu));
      apdus.emplace_back(one.npdu.begin() + static_cast<long>(npdu.apdu), one.npdu.end());
    }
    return apdus;
  }
  static Bytes ReadRequest(ObjectId id, uint32_t property) {
    Bytes body;
    Writer writer(&body);
    writer.ContextObjectIdentifier(0, id);
    writer.ContextEnumerated(1, property);
    return body;
  }
  static Bytes WriteRequest(ObjectId id, const std::function<void(Writer &)> &value, uint32_t priority) {
    Bytes body;
    Writer writer(&body);
    writer.ContextObjectIdentifier(0, id);
    writer.ContextEnumerated(1, 85);
    writer.Opening(3);
    value(writer);
    writer.Closing(3);
    writer.ContextUnsigned(4, priority);
    return body;
  }
  static Bytes Error(uint8_t service, uint8_t errorClass, uint8_t code) {
    return {0x50, 0x2A, service, 0x91, errorClass, 0x91, code};
  }

  BacnetConfig config_;
  FakeSink sink_;
  std::unique_ptr<Device> device_;
  Peer peer_{0x7F000001, 50000, false, 0, {}};
  SteadyTime now_ = std::chrono::steady_clock::now();
};

TEST_F(DeviceTest, ReadPropertyAnswersWithTheValueOrTheRightError) {
  // AI 1 present-value 21.5: ack, object, property, value between tags 3.
  EXPECT_EQ(Ask(kReadProperty, ReadRequest({0, 1}, 85)),
            std::vector<Bytes>({{0x30, 0x2A, 0x0C, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x19, 0x55, 0x3E, 0x44, 0x41, 0xAC,
                                 0x00, 0x00, 0x3F}}));
  // The device by the instance that means "this device".
  auto device = Ask(kReadProperty, ReadRequest({8, kMaxInstance}, 75));
  ASSERT_EQ(device.size(), 1u);
  EXPECT_EQ(Bytes(device[0].begin() + 3, device[0].begin() + 8), (Bytes{0x0C, 0x02, 0x00, 0x00, 0x4D}));

  struct Case {
    const char *what;
    Bytes body;
    Bytes answer;
  };
  Bytes indexed = ReadRequest({0, 1}, 85);
  indexed.insert(indexed.end(), {0x29, 0x01});
  Bytes past = ReadRequest({2, 2}, 87);
  past.insert(past.end(), {0x29, 0x11});
  Bytes trailing = ReadRequest({0, 1}, 85);
  trailing.insert(trailing.end(), {0x21, 0x01});
  const Case cases[] = {
      {"unknown object", ReadRequest({0, 9}, 85), Error(kReadProperty, kClassObject, kErrorUnknownObject)},
      {"unknown property", ReadRequest({0, 1}, 4000), Error(kReadProperty, kClassProperty, kErrorUnknownProperty)},
      {"binary property of an analog object", ReadRequest({0, 1}, 84),
       Error(kReadProperty, kClassProperty, kErrorUnknownProperty)},
      {"priority array of an input", ReadRequest({0, 1}, 87),
       Error(kReadProperty, kClassProperty, kErrorUnknownProperty)},
      {"index on a value that is no array", indexed, Error(kReadProperty, kClassProperty, kErrorPropertyIsNotAnArray)},
      {"index 17 of 16 priorities", past, Error(kReadProperty, kClassProperty, kErrorInvalidArrayIndex)},
      {"no property", {0x0C, 0x00, 0x00, 0x00, 0x01}, {0x60, 0x2A, kRejectMissingRequiredParameter}},
      {"a tag past the end", {0x0C, 0x00, 0x00}, {0x60, 0x2A, kRejectInvalidTag}},
      {"a value too many", trailing, {0x60, 0x2A, kRejectTooManyArguments}},
  };
  for (const Case &c : cases) EXPECT_EQ(Ask(kReadProperty, c.body), std::vector<Bytes>{c.answer}) << c.what;
  EXPECT_EQ(Ask(0x1A, {}), std::vector<Bytes>({{0x60, 0x2A, kRejectUnrecognizedService}})) << "ReadRange";
  // A segmented request: this device does not take segments.
  EXPECT_EQ(Apdus({0x01, 0x04, 0x08, 0x05, 0x2A, 0x00, 0x01, 0x0C}),
            std::vector<Bytes>({{0x71, 0x2A, kAbortSegmentationNotSupported}}));
}

TEST_F(DeviceTest, AnAnswerLongerThanTheClientTakesIsAnAbortNotATruncation) {
  // ReadPropertyMultiple of everything of the device, to a client that takes 50 octets.
  Bytes body;
  Writer writer(&body);
  writer.ContextObjectIdentifier(0, {8, 77});
  writer.Opening(1);
  writer.ContextEnumerated(0, 8);
  writer.Closing(1);
  EXPECT_EQ(Ask(kReadPropertyMultiple, body, 0), std::vector<Bytes>({{0x71, 0x2A, kAbortSegmentationNotSupported}}));
  auto whole = Ask(kReadPropertyMultiple, body, 5);
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0][0], 0x30);
}

TEST_F(DeviceTest, ReadPropertyMultipleGivesErrorsInPlaceAndAllRequiredOptional) {
  Bytes body;
  Writer writer(&body);
  writer.ContextObjectIdentifier(0, {0, 1});
  writer.Opening(1);
  writer.ContextEnumerated(0, 105);  // required
  writer.Closing(1);
  writer.ContextObjectIdentifier(0, {0, 9});
  writer.Opening(1);
  writer.ContextEnumerated(0, 85);
  writer.Closing(1);
  auto answer = Ask(kReadPropertyMultiple, body);
  ASSERT_EQ(answer.size(), 1u);
  const Bytes &ack = answer[0];
  // Count the properties of AI 1 (context tag 2) and find the error of AI 9.
  Reader reader(ack.data() + 3, ack.size() - 3);
  std::vector<uint32_t> properties;
  ObjectId id;
  ASSERT_TRUE(reader.ContextObjectId(0, &id));
  ASSERT_TRUE(reader.ReadOpening(1));
  while (!reader.NextIsClosing(1) && reader.ok()) {
    uint32_t property = 0;
    ASSERT_TRUE(reader.ContextUnsigned(2, &property));
    properties.push_back(property);
    ASSERT_TRUE(reader.SkipValue());
  }
  EXPECT_EQ(properties, (std::vector<uint32_t>{75, 77, 79, 85, 111, 36, 81, 117, 371}));
  ASSERT_TRUE(reader.ReadClosing(1));
  ASSERT_TRUE(reader.ContextObjectId(0, &id));
  EXPECT_EQ(id, (ObjectId{0, 9}));
  const Bytes rest(ack.begin() + static_cast<long>(3 + reader.pos()), ack.end());
  EXPECT_EQ(rest, (Bytes{0x1E, 0x29, 0x55, 0x5E, 0x91, 0x01, 0x91, 0x1F, 0x5F, 0x1F}));
}

TEST_F(DeviceTest, AWriteIsAnsweredOnlyOnceCarriedOut) {
  auto real = [](float v) { return [v](Writer &w) { w.Real(v); }; };
  EXPECT_TRUE(Ask(kWriteProperty, WriteRequest({2, 2}, real(22.5f), 8)).empty()) << "no answer before the line";
  ASSERT_EQ(sink_.writes.size(), 1u);
  EXPECT_EQ(sink_.writes[0].gate, 1u);
  EXPECT_EQ(sink_.writes[0].text, "22.5");
  std::vector<Outgoing> out;
  device_->WriteDone(sink_.writes[0].ticket, WriteEnd::kDone, "verified", &out);
  EXPECT_EQ(Strip(out), std::vector<Bytes>({{0x20, 0x2A, 0x0F}}));

  // Refused by the station: an Error, and the command leaves its slot.
  EXPECT_TRUE(Ask(kWriteProperty, WriteRequest({2, 2}, real(30), 4)).empty());
  out.clear();
  device_->WriteDone(sink_.writes[1].ticket, WriteEnd::kRefused, "refused by the station", &out);
  EXPECT_EQ(Strip(out), std::vector<Bytes>{Error(kWriteProperty, kClassDevice, kErrorOperationalProblem)});
  Bytes slot = ReadRequest({2, 2}, 87);
  slot.insert(slot.end(), {0x29, 0x04});
  auto four = Ask(kReadProperty, slot);
  ASSERT_EQ(four.size(), 1u);
  EXPECT_EQ(Bytes(four[0].end() - 3, four[0].end()), (Bytes{0x3E, 0x00, 0x3F})) << "priority 4 is null again";
  // No reply: a communication error.
  EXPECT_TRUE(Ask(kWriteProperty, WriteRequest({2, 2}, real(31), 8)).empty());
  out.clear();
  device_->WriteDone(sink_.writes[2].ticket, WriteEnd::kNoReply, "no reply", &out);
  EXPECT_EQ(Strip(out), std::vector<Bytes>{Error(kWriteProperty, kClassCommunication, kErrorTimeout)});
}

TEST_F(DeviceTest, RefusedWritesNeverReachTheGateway) {
  struct Case {
    const char *what;
    Bytes body;
    Bytes answer;
  };
  auto real = [](float v) { return [v](Writer &w) { w.Real(v); }; };
  auto enumerated = [](uint32_t v) { return [v](Writer &w) { w.Enumerated(v); }; };
  Bytes name;
  {
    Writer w(&name);
    w.ContextObjectIdentifier(0, {2, 2});
    w.ContextEnumerated(1, 77);
    w.Opening(3);
    w.CharacterString("x");
    w.Closing(3);
  }
  const Case cases[] = {
      {"an input", WriteRequest({0, 1}, real(1), 16), Error(kWriteProperty, kClassProperty, kErrorWriteAccessDenied)},
      {"the object name", name, Error(kWriteProperty, kClassProperty, kErrorWriteAccessDenied)},
      {"no such object", WriteRequest({2, 9}, real(1), 16), Error(kWriteProperty, kClassObject, kErrorUnknownObject)},
      {"binary 2", WriteRequest({5, 3}, enumerated(2), 16), Error(kWriteProperty, kClassProperty, kErrorValueOutOfRange)},
      {"a real for a binary", WriteRequest({5, 3}, real(1), 16),
       Error(kWriteProperty, kClassProperty, kErrorInvalidDataType)},
      {"1.5 for an int16", WriteRequest({2, 4}, real(1.5f), 16),
       Error(kWriteProperty, kClassProperty, kErrorValueOutOfRange)},
      {"40000 for an int16", WriteRequest({2, 4}, real(40000), 16),
       Error(kWriteProperty, kClassProperty, kErrorValueOutOfRange)},
      {"priority 17", WriteRequest({2, 2}, real(1), 17), {0x60, 0x2A, kRejectParameterOutOfRange}},
      {"priority 0", WriteRequest({2, 2}, real(1), 0), {0x60, 0x2A, kRejectParameterOutOfRange}},
  };
  for (const Case &c : cases) EXPECT_EQ(Ask(kWriteProperty, c.body), std::vector<Bytes>{c.answer}) << c.what;
  EXPECT_TRUE(sink_.writes.empty());
  // The gateway's own checks refuse: an Error, never a Simple-ACK.
  sink_.refuse = "Setpoint: out of range for an N2 real";
  EXPECT_EQ(Ask(kWriteProperty, WriteRequest({2, 2}, real(40000), 16)),
            std::vector<Bytes>{Error(kWriteProperty, kClassProperty, kErrorValueOutOfRange)});
  sink_.refuse = "the write queue is full";
  EXPECT_EQ(Ask(kWriteProperty, WriteRequest({2, 2}, real(20), 16)),
            std::vector<Bytes>{Error(kWriteProperty, kClassDevice, kErrorDeviceBusy)});
}

TEST_F(DeviceTest, OnlyTheCommandInControlIsWritten) {
  auto real = [](float v) { return [v](Writer &w) { w.Real(v); }; };
  auto null = [](Writer &w) { w.Null(); };
  std::vector<Outgoing> out;
  Ask(kWriteProperty, WriteRequest({2, 2}, real(22), 8));
  device_->WriteDone(sink_.writes.back().ticket, WriteEnd::kDone, "", &out);
  // Priority 12 is below 8: kept, acknowledged at once, not written.
  EXPECT_EQ(Ask(kWriteProperty, WriteRequest({2, 2}, real(18), 12)), std::vector<Bytes>({{0x20, 0x2A, 0x0F}}));
  EXPECT_EQ(sink_.writes.size(), 1u);
  // Relinquishing 8 puts 12 in command: 18 is written.
  EXPECT_TRUE(Ask(kWriteProperty, WriteRequest({2, 2}, null, 8)).empty());
  ASSERT_EQ(sink_.writes.size(), 2u);
  EXPECT_EQ(sink_.writes.back().text, "18");
  device_->WriteDone(sink_.writes.back().ticket, WriteEnd::kDone, "", &out);
  // Relinquishing the last one: no relinquish default, the point keeps its value.
  EXPECT_EQ(Ask(kWriteProperty, WriteRequest({2, 2}, null, 12)), std::vector<Bytes>({{0x20, 0x2A, 0x0F}}));
  EXPECT_EQ(sink_.writes.size(), 2u);
}

TEST(BacnetRelinquish, TheLastCommandRelinquishedReleasesAnOverrideOrWritesTheDefault) {
  BacnetConfig config;
  config.deviceInstance = 1;
  config.deviceName = "dev";
  config.map = {{0, kBinaryValue, 1, "AO1 override", 0, {}, ""}, {1, kAnalogValue, 2, "SP", 0, 21.0, ""}};
  Device device(config, {{true, true, 0, kGateDigital, n2host::PointKind::kOverride, "005AO001_O"},
                         {true, true, 19.5, kGateReal, n2host::PointKind::kPlain, "001PM01LSP"}});
  FakeSink sink;
  device.SetWriteSink(&sink);
  const Peer peer{0x7F000001, 50000, false, 0, {}};
  auto write = [&](ObjectId id, bool isNull, double value) {
    Bytes npdu = {0x01, 0x04, 0x00, 0x05, 0x01, kWriteProperty};
    Writer writer(&npdu);
    writer.ContextObjectIdentifier(0, id);
    writer.ContextEnumerated(1, 85);
    writer.Opening(3);
    if (isNull) {
      writer.Null();
    } else if (id.type == kBinaryValue) {
      writer.Enumerated(static_cast<uint32_t>(value));
    } else {
      writer.Real(static_cast<float>(value));
    }
    writer.Closing(3);
    std::vector<Outgoing> out;
    device.Handle(npdu.data(), npdu.size(), peer, std::chrono::steady_clock::now(), &out);
    device.WriteDone(sink.writes.empty() ? 0 : sink.writes.back().ticket, WriteEnd::kDone, "", &out);
  };
  write({kBinaryValue, 1}, false, 1);
  write({kBinaryValue, 1}, true, 0);
  ASSERT_EQ(sink.writes.size(), 2u);
  EXPECT_EQ(sink.writes[0].text, "1");
  EXPECT_EQ(sink.writes[1].text, "") << "the override is released";
  write({kAnalogValue, 2}, false, 23);
  write({kAnalogValue, 2}, true, 0);
  ASSERT_EQ(sink.writes.size(), 4u);
  EXPECT_EQ(sink.writes[2].text, "23");
  EXPECT_EQ(sink.writes[3].text, "21") << "the relinquish default is written";
}

TEST_F(DeviceTest, SubscriptionsAreNotifiedBoundedAndExpire) {
  auto subscribe = [](uint32_t process, ObjectId id, bool confirmed, uint32_t lifetime) {
    Bytes body;
    Writer writer(&body);
    writer.ContextUnsigned(0, process);
    writer.ContextObjectIdentifier(1, id);
    writer.ContextBoolean(2, confirmed);
    writer.ContextUnsigned(3, lifetime);
    return body;
  };
  // Acknowledged, then the first notification at once.
  auto answer = Ask(kSubscribeCov, subscribe(5, {0, 1}, false, 60));
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_EQ(answer[0], (Bytes{0x20, 0x2A, 0x05}));
  EXPECT_EQ(answer[1],
            (Bytes{0x10, 0x02, 0x09, 0x05, 0x1C, 0x02, 0x00, 0x00, 0x4D, 0x2C, 0x00, 0x00, 0x00, 0x01, 0x39, 0x3C,
                   0x4E, 0x09, 0x55, 0x2E, 0x44, 0x41, 0xAC, 0x00, 0x00, 0x2F, 0x09, 0x6F, 0x2E, 0x82, 0x04, 0x00,
                   0x2F, 0x4F}));
  // A change below the increment (0.5) is not notified; one above is; a fault always.
  std::vector<Outgoing> out;
  GateReading room{true, true, 21.7, kGateReal, n2host::PointKind::kPlain, "001AI01AI"};
  device_->UpdateGate(0, room, now_, &out);
  EXPECT_TRUE(out.empty());
  room.value = 22.1;
  device_->UpdateGate(0, room, now_, &out);
  EXPECT_EQ(out.size(), 1u);
  room.good = false;
  device_->UpdateGate(0, room, now_, &out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Bytes(out[1].npdu.end() - 6, out[1].npdu.end()), (Bytes{0x2E, 0x82, 0x04, 0x40, 0x2F, 0x4F})) << "fault";

  // Bounded: a third subscription is refused; renewing one is not.
  EXPECT_EQ(Ask(kSubscribeCov, subscribe(6, {2, 2}, true, 0)).size(), 2u);
  EXPECT_EQ(Ask(kSubscribeCov, subscribe(7, {2, 2}, true, 0)),
            std::vector<Bytes>{Error(kSubscribeCov, kClassResources, 19)});
  EXPECT_EQ(Ask(kSubscribeCov, subscribe(6, {2, 2}, false, 10)).size(), 2u);
  EXPECT_EQ(device_->subscriptions(), 2u);
  // Lifetimes run out.
  device_->Expire(now_ + std::chrono::seconds(11));
  EXPECT_EQ(device_->subscriptions(), 1u);
  device_->Expire(now_ + std::chrono::seconds(61));
  EXPECT_EQ(device_->subscriptions(), 0u);
  out.clear();
  device_->UpdateGate(0, {true, true, 30, kGateReal, n2host::PointKind::kPlain, ""}, now_, &out);
  EXPECT_TRUE(out.empty());
}

TEST_F(DeviceTest, WhoIsAndWhoHasAnswerOnlyInRange) {
  auto who = [&](const Bytes &apdu) {
    Bytes npdu = {0x01, 0x00};
    npdu.insert(npdu.end(), apdu.begin(), apdu.end());
    return Apdus(npdu);
  };
  const Bytes iAm = {0x10, 0x00, 0xC4, 0x02, 0x00, 0x00, 0x4D, 0x22, 0x05, 0xC4, 0x91, 0x03, 0x21, 0x00};
  EXPECT_EQ(who({0x10, 0x08}), std::vector<Bytes>{iAm});
  EXPECT_EQ(who({0x10, 0x08, 0x09, 0x4D, 0x19, 0x4D}), std::vector<Bytes>{iAm});
  EXPECT_TRUE(who({0x10, 0x08, 0x09, 0x4E, 0x19, 0x60}).empty());
  EXPECT_TRUE(who({0x10, 0x08, 0x09, 0x4D}).empty()) << "a low limit without a high one";
  // Who-Has by name: I-Have with the device, the object and its name.
  EXPECT_EQ(who({0x10, 0x07, 0x3D, 0x04, 0x00, 'F', 'a', 'n'}),
            std::vector<Bytes>({{0x10, 0x01, 0xC4, 0x02, 0x00, 0x00, 0x4D, 0xC4, 0x01, 0x40, 0x00, 0x03, 0x74, 0x00,
                                 'F', 'a', 'n'}}));
  EXPECT_TRUE(who({0x10, 0x07, 0x3C, 0x00, 'F', 'o', 'o'}).empty());
  EXPECT_EQ(who({0x10, 0x07, 0x2C, 0x00, 0x00, 0x00, 0x01}).size(), 1u) << "by object identifier";
}

TEST(BacnetWriteText, GivesTheTextTheGateTakes) {
  std::string text;
  EXPECT_TRUE(WriteText(22.5, kGateReal, &text));
  EXPECT_EQ(text, "22.5");
  EXPECT_TRUE(WriteText(-32768, kGateInt16, &text));
  EXPECT_EQ(text, "-32768");
  EXPECT_FALSE(WriteText(32768, kGateInt16, &text));
  EXPECT_FALSE(WriteText(-1, kGateUInt16, &text));
  EXPECT_FALSE(WriteText(2, kGateDigital, &text));
  EXPECT_FALSE(WriteText(0.5, kGateInt32, &text));
  EXPECT_FALSE(WriteText(std::nan(""), kGateReal, &text));
}

}  // namespace
