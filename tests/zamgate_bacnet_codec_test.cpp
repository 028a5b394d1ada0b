// The BACnet/IP codec against byte vectors worked out by hand from the
// protocol's encoding rules (tag octet: number in the high nibble, class
// bit, length/value/type in the low three bits; extended numbers and
// lengths; BVLC, NPDU and APDU headers as laid out octet by octet), and the
// decoder against the malformed inputs a hostile datagram brings.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "zamgate/bacnet/codec.h"

namespace {

using namespace bacnet;
using Bytes = std::vector<uint8_t>;

Bytes Encoded(const std::function<void(Writer &)> &write) {
  Bytes out;
  Writer writer(&out);
  write(writer);
  return out;
}

struct EncodingCase {
  const char *what;
  std::function<void(Writer &)> write;
  Bytes expected;
};

TEST(BacnetCodec, EncodesTaggedValuesAsTheRulesLayThemOut) {
  const EncodingCase cases[] = {
      {"null", [](Writer &w) { w.Null(); }, {0x00}},
      {"boolean true: the value in the tag", [](Writer &w) { w.Boolean(true); }, {0x11}},
      {"unsigned 0 takes one octet", [](Writer &w) { w.Unsigned(0); }, {0x21, 0x00}},
      {"unsigned 256: two octets, high first", [](Writer &w) { w.Unsigned(256); }, {0x22, 0x01, 0x00}},
      {"unsigned 1476", [](Writer &w) { w.Unsigned(1476); }, {0x22, 0x05, 0xC4}},
      {"unsigned 2^32-1", [](Writer &w) { w.Unsigned(0xFFFFFFFF); }, {0x24, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"signed -1", [](Writer &w) { w.Signed(-1); }, {0x31, 0xFF}},
      {"signed -129 needs two octets", [](Writer &w) { w.Signed(-129); }, {0x32, 0xFF, 0x7F}},
      {"signed 128 needs two octets", [](Writer &w) { w.Signed(128); }, {0x32, 0x00, 0x80}},
      {"real 21.5", [](Writer &w) { w.Real(21.5f); }, {0x44, 0x41, 0xAC, 0x00, 0x00}},
      {"double 1.0: extended length 8", [](Writer &w) { w.Double(1.0); },
       {0x55, 0x08, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
      {"character string: length counts the set octet", [](Writer &w) { w.CharacterString("AI"); },
       {0x73, 0x00, 'A', 'I'}},
      {"character string of 7: extended length", [](Writer &w) { w.CharacterString("zamgate"); },
       {0x75, 0x08, 0x00, 'z', 'a', 'm', 'g', 'a', 't', 'e'}},
      {"status flags with fault", [](Writer &w) { w.BitString({false, true, false, false}); }, {0x82, 0x04, 0x40}},
      {"bit string of 9 bits", [](Writer &w) { w.BitString({true, false, false, false, false, false, false, false, true}); },
       {0x83, 0x07, 0x80, 0x80}},
      {"enumerated 85", [](Writer &w) { w.Enumerated(85); }, {0x91, 0x55}},
      {"object id device 1234", [](Writer &w) { w.ObjectIdentifier({8, 1234}); }, {0xC4, 0x02, 0x00, 0x04, 0xD2}},
      {"object id analog-value 4194302", [](Writer &w) { w.ObjectIdentifier({2, 4194302}); },
       {0xC4, 0x00, 0xBF, 0xFF, 0xFE}},
      {"context 1 enumerated 371: two octets", [](Writer &w) { w.ContextEnumerated(1, 371); }, {0x1A, 0x01, 0x73}},
      {"context tag 20: extended number", [](Writer &w) { w.ContextUnsigned(20, 1); }, {0xF9, 0x14, 0x01}},
      {"context boolean", [](Writer &w) { w.ContextBoolean(2, true); }, {0x29, 0x01}},
      {"opening and closing 3", [](Writer &w) { w.Opening(3); w.Closing(3); }, {0x3E, 0x3F}},
      {"opening 20: extended number", [](Writer &w) { w.Opening(20); }, {0xFE, 0x14}},
  };
  for (const EncodingCase &c : cases) EXPECT_EQ(Encoded(c.write), c.expected) << c.what;
}

TEST(BacnetCodec, LongValuesTakeTheTwoAndFourOctetLengths) {
  Bytes out;
  Writer writer(&out);
  writer.CharacterString(std::string(299, 'x'));  // 300 with the set octet
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x75, 0xFE, 0x01, 0x2C}));
  Reader reader(out.data(), out.size());
  Tag tag;
  ASSERT_TRUE(reader.ReadTag(&tag));
  EXPECT_EQ(tag.length, 300u);
}

TEST(BacnetCodec, ReadsBackWhatItWrites) {
  Bytes out;
  Writer writer(&out);
  writer.Signed(-8388609);
  writer.Real(-0.25f);
  writer.Unsigned(70000);
  writer.ContextObjectIdentifier(0, {3, 17});
  Reader reader(out.data(), out.size());
  Tag tag;
  ASSERT_TRUE(reader.ReadTag(&tag));
  EXPECT_EQ(reader.Signed(tag.length), -8388609);
  ASSERT_TRUE(reader.ReadTag(&tag));
  EXPECT_EQ(reader.Real(tag.length), -0.25f);
  ASSERT_TRUE(reader.ReadTag(&tag));
  EXPECT_EQ(reader.Unsigned(tag.length), 70000u);
  ObjectId id;
  ASSERT_TRUE(reader.ContextObjectId(0, &id));
  EXPECT_EQ(id, (ObjectId{3, 17}));
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_TRUE(reader.ok());
}

TEST(BacnetCodec, DecodesTheHeadersOfAWhoIsDatagram) {
  // Original-Broadcast-NPDU, 12 octets; NPDU version 1, no routing; Who-Is 3..5.
  const Bytes datagram = {0x81, 0x0B, 0x00, 0x0C, 0x01, 0x00, 0x10, 0x08, 0x09, 0x03, 0x19, 0x05};
  Bvlc bvlc;
  ASSERT_TRUE(DecodeBvlc(datagram.data(), datagram.size(), &bvlc));
  EXPECT_EQ(bvlc.function, kBvlcOriginalBroadcast);
  EXPECT_EQ(bvlc.payload, 4u);
  Npdu npdu;
  ASSERT_TRUE(DecodeNpdu(datagram.data() + 4, datagram.size() - 4, &npdu));
  EXPECT_FALSE(npdu.networkMessage);
  EXPECT_EQ(npdu.apdu, 2u);
  Apdu apdu;
  ASSERT_TRUE(DecodeApdu(datagram.data() + 6, datagram.size() - 6, &apdu));
  EXPECT_EQ(apdu.type, kUnconfirmedRequest);
  EXPECT_EQ(apdu.service, kWhoIs);
  Reader reader(datagram.data() + 6 + apdu.body, datagram.size() - 6 - apdu.body);
  uint32_t low = 0, high = 0;
  EXPECT_TRUE(reader.ContextUnsigned(0, &low));
  EXPECT_TRUE(reader.ContextUnsigned(1, &high));
  EXPECT_EQ(low, 3u);
  EXPECT_EQ(high, 5u);
}

TEST(BacnetCodec, DecodesAConfirmedRequestHeaderAndTheForwardedOrigin) {
  // ReadProperty analog-input 5 present-value, invoke id 1, replies up to 1476.
  const Bytes request = {0x00, 0x05, 0x01, 0x0C, 0x0C, 0x00, 0x00, 0x00, 0x05, 0x19, 0x55};
  Apdu apdu;
  ASSERT_TRUE(DecodeApdu(request.data(), request.size(), &apdu));
  EXPECT_EQ(apdu.type, kConfirmedRequest);
  EXPECT_EQ(apdu.maxApdu, 1476u);
  EXPECT_EQ(apdu.invokeId, 1);
  EXPECT_EQ(apdu.service, kReadProperty);
  EXPECT_EQ(apdu.body, 4u);
  // Max APDU code 0 is 50 octets; a segmented request has two more octets.
  const Bytes segmented = {0x08, 0x00, 0x07, 0x00, 0x01, 0x0E};
  ASSERT_TRUE(DecodeApdu(segmented.data(), segmented.size(), &apdu));
  EXPECT_TRUE(apdu.segmented);
  EXPECT_EQ(apdu.maxApdu, 50u);
  EXPECT_EQ(apdu.service, kReadPropertyMultiple);

  // Forwarded-NPDU from 192.168.1.10:47808.
  const Bytes forwarded = {0x81, 0x04, 0x00, 0x0E, 0xC0, 0xA8, 0x01, 0x0A, 0xBA, 0xC0, 0x01, 0x00, 0x10, 0x08};
  Bvlc bvlc;
  ASSERT_TRUE(DecodeBvlc(forwarded.data(), forwarded.size(), &bvlc));
  EXPECT_EQ(bvlc.payload, 10u);
  EXPECT_EQ(Bytes(bvlc.origin, bvlc.origin + 6), (Bytes{0xC0, 0xA8, 0x01, 0x0A, 0xBA, 0xC0}));
}

TEST(BacnetCodec, AnswersARoutedRequestThroughItsSourceNetwork) {
  // Expecting a reply, from network 5, MAC address 7.
  const Bytes routed = {0x01, 0x0C, 0x00, 0x05, 0x01, 0x07, 0x00};
  Npdu npdu;
  ASSERT_TRUE(DecodeNpdu(routed.data(), routed.size(), &npdu));
  EXPECT_TRUE(npdu.hasSource);
  EXPECT_TRUE(npdu.expectingReply);
  EXPECT_EQ(npdu.snet, 5);
  EXPECT_EQ(npdu.sadr, Bytes{0x07});
  EXPECT_EQ(npdu.apdu, 6u);
  Bytes reply;
  EncodeNpdu(&reply, false, &npdu);
  EXPECT_EQ(reply, (Bytes{0x01, 0x20, 0x00, 0x05, 0x01, 0x07, 0xFF}));
  reply.clear();
  EncodeNpdu(&reply, true, nullptr);
  EXPECT_EQ(reply, (Bytes{0x01, 0x04}));
}

TEST(BacnetCodec, EncodesTheAnswerHeaders) {
  Bytes out;
  EncodeError(&out, 1, kReadProperty, kClassObject, kErrorUnknownObject);
  EXPECT_EQ(out, (Bytes{0x50, 0x01, 0x0C, 0x91, 0x01, 0x91, 0x1F}));
  out.clear();
  EncodeReject(&out, 2, kRejectUnrecognizedService);
  EXPECT_EQ(out, (Bytes{0x60, 0x02, 0x09}));
  out.clear();
  EncodeAbort(&out, 3, kAbortSegmentationNotSupported);
  EXPECT_EQ(out, (Bytes{0x71, 0x03, 0x04}));
  out.clear();
  EncodeSimpleAck(&out, 4, kWriteProperty);
  EXPECT_EQ(out, (Bytes{0x20, 0x04, 0x0F}));
  EXPECT_EQ(WithBvlc(kBvlcOriginalUnicast, {0x01, 0x00}), (Bytes{0x81, 0x0A, 0x00, 0x06, 0x01, 0x00}));
}

struct Malformed {
  const char *what;
  Bytes bytes;
};

TEST(BacnetCodec, RefusesMalformedHeaders) {
  const Malformed bvlcs[] = {
      {"too short", {0x81, 0x0A, 0x00}},
      {"not BACnet/IP", {0x82, 0x0A, 0x00, 0x06, 0x01, 0x00}},
      {"length longer than the datagram", {0x81, 0x0A, 0x00, 0x08, 0x01, 0x00}},
      {"length shorter than the datagram", {0x81, 0x0A, 0x00, 0x05, 0x01, 0x00}},
      {"forwarded without its origin", {0x81, 0x04, 0x00, 0x08, 0xC0, 0xA8, 0x01, 0x0A}},
  };
  for (const Malformed &m : bvlcs) {
    Bvlc bvlc;
    EXPECT_FALSE(DecodeBvlc(m.bytes.data(), m.bytes.size(), &bvlc)) << m.what;
  }
  const Malformed npdus[] = {
      {"version 2", {0x02, 0x00}},
      {"destination cut short", {0x01, 0x20, 0x00}},
      {"destination address past the end", {0x01, 0x20, 0x00, 0x05, 0x06, 0x01}},
      {"source of length 0", {0x01, 0x08, 0x00, 0x05, 0x00}},
      {"no hop count", {0x01, 0x20, 0x00, 0x05, 0x00}},
      {"reserved bit", {0x01, 0x40}},
  };
  for (const Malformed &m : npdus) {
    Npdu npdu;
    EXPECT_FALSE(DecodeNpdu(m.bytes.data(), m.bytes.size(), &npdu)) << m.what;
  }
  const Malformed apdus[] = {
      {"empty", {}},
      {"confirmed without its service", {0x00, 0x05, 0x01}},
      {"segmented without its sequence", {0x08, 0x05, 0x01, 0x00}},
      {"unconfirmed without its service", {0x10}},
      {"type 8", {0x80, 0x00, 0x00}},
  };
  for (const Malformed &m : apdus) {
    Apdu apdu;
    EXPECT_FALSE(DecodeApdu(m.bytes.data(), m.bytes.size(), &apdu)) << m.what;
  }
}

TEST(BacnetCodec, AReaderNeverReadsPastItsBuffer) {
  const Malformed cases[] = {
      {"length 4 with 2 octets left", {0x24, 0x01, 0x02}},
      {"extended length past the end", {0x65, 0x10, 0x00}},
      {"two-octet length cut short", {0x65, 0xFE, 0x01}},
      {"four-octet length of 4 GB", {0x65, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"extended tag number cut short", {0xF9}},
      {"application tag with lvt 6", {0x26}},
      {"boolean with value 2", {0x12}},
  };
  for (const Malformed &m : cases) {
    Reader reader(m.bytes.data(), m.bytes.size());
    Tag tag;
    if (reader.ReadTag(&tag)) reader.Skip(tag.length);
    EXPECT_FALSE(reader.ok()) << m.what;
  }
}

TEST(BacnetCodec, SkipsConstructedValuesOnlyWhenTheirTagsPair) {
  const Bytes good = {0x3E, 0x1E, 0x21, 0x01, 0x1F, 0x3F, 0x21, 0x02};
  Reader reader(good.data(), good.size());
  EXPECT_TRUE(reader.SkipValue());
  EXPECT_EQ(reader.pos(), 6u);

  const Bytes crossed = {0x3E, 0x1E, 0x3F, 0x1F};
  Reader crossedReader(crossed.data(), crossed.size());
  EXPECT_FALSE(crossedReader.SkipValue());

  const Bytes unclosed = {0x3E, 0x21, 0x01};
  Reader unclosedReader(unclosed.data(), unclosed.size());
  EXPECT_FALSE(unclosedReader.SkipValue());

  // Nesting deeper than the reader follows is refused, not recursed into.
  Bytes deep(64, 0x1E);
  deep.insert(deep.end(), 64, 0x1F);
  Reader deepReader(deep.data(), deep.size());
  EXPECT_FALSE(deepReader.SkipValue());
}

TEST(BacnetCodec, ReadsTheValuesAWriteCarries) {
  const Bytes values = {0x44, 0x41, 0xAC, 0x00, 0x00, 0x91, 0x01, 0x00, 0x75, 0x02, 0x00, 'x'};
  Reader reader(values.data(), values.size());
  AnyValue value;
  ASSERT_TRUE(ReadAnyValue(reader, &value));
  EXPECT_EQ(value.tag, kTagReal);
  EXPECT_EQ(value.real, 21.5);
  ASSERT_TRUE(ReadAnyValue(reader, &value));
  EXPECT_EQ(value.tag, kTagEnumerated);
  EXPECT_EQ(value.unsignedValue, 1u);
  ASSERT_TRUE(ReadAnyValue(reader, &value));
  EXPECT_EQ(value.tag, kTagNull);
  EXPECT_FALSE(ReadAnyValue(reader, &value)) << "a string is no value a write takes";
  EXPECT_TRUE(reader.AtEnd());
}

}  // namespace
