#include "zamgate/bacnet/codec.h"

#include <string.h>

namespace bacnet {
namespace {

constexpr int kMaxNesting = 8;  // constructed values inside each other, when skipped

uint32_t Big(const uint8_t *at, size_t count) {
  uint32_t value = 0;
  for (size_t i = 0; i < count; ++i) value = (value << 8) | at[i];
  return value;
}

void PutBig(std::vector<uint8_t> *out, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

int UnsignedOctets(uint32_t value) {
  if (value < 0x100) return 1;
  if (value < 0x10000) return 2;
  if (value < 0x1000000) return 3;
  return 4;
}

int SignedOctets(int32_t value) {
  if (value >= -128 && value <= 127) return 1;
  if (value >= -32768 && value <= 32767) return 2;
  if (value >= -8388608 && value <= 8388607) return 3;
  return 4;
}

}  // namespace

// ---- BVLC

bool DecodeBvlc(const uint8_t *data, size_t size, Bvlc *bvlc) {
  *bvlc = Bvlc{};
  if (size < 4 || data[0] != kBvlcType) return false;
  if (Big(data + 2, 2) != size) return false;
  bvlc->function = data[1];
  bvlc->payload = 4;
  if (bvlc->function == kBvlcForwardedNpdu) {
    if (size < 10) return false;
    memcpy(bvlc->origin, data + 4, 6);
    bvlc->payload = 10;
  }
  return true;
}

std::vector<uint8_t> WithBvlc(uint8_t function, const std::vector<uint8_t> &npdu) {
  std::vector<uint8_t> out = {kBvlcType, function};
  PutBig(&out, static_cast<uint32_t>(npdu.size() + 4), 2);
  out.insert(out.end(), npdu.begin(), npdu.end());
  return out;
}

// ---- NPDU

bool DecodeNpdu(const uint8_t *data, size_t size, Npdu *npdu) {
  *npdu = Npdu{};
  if (size < 2 || data[0] != 0x01) return false;
  const uint8_t control = data[1];
  if (control & 0x50) return false;  // reserved bits
  npdu->networkMessage = control & 0x80;
  npdu->hasDestination = control & 0x20;
  npdu->hasSource = control & 0x08;
  npdu->expectingReply = control & 0x04;
  npdu->priority = control & 0x03;
  size_t at = 2;
  if (npdu->hasDestination) {
    if (size < at + 3) return false;
    npdu->dnet = static_cast<uint16_t>(Big(data + at, 2));
    const size_t length = data[at + 2];
    at += 3;
    if (size < at + length) return false;
    npdu->dadr.assign(data + at, data + at + length);
    at += length;
  }
  if (npdu->hasSource) {
    if (size < at + 3) return false;
    npdu->snet = static_cast<uint16_t>(Big(data + at, 2));
    const size_t length = data[at + 2];
    at += 3;
    // A source is a network and a station on it: never a broadcast.
    if (length == 0 || npdu->snet == 0xFFFF || size < at + length) return false;
    npdu->sadr.assign(data + at, data + at + length);
    at += length;
  }
  if (npdu->hasDestination) {
    if (size < at + 1) return false;
    at += 1;  // hop count
  }
  npdu->apdu = at;
  return true;
}

void EncodeNpdu(std::vector<uint8_t> *out, bool expectingReply, const Npdu *replyTo) {
  out->push_back(0x01);
  const bool routed = replyTo != nullptr && replyTo->hasSource;
  out->push_back(static_cast<uint8_t>((routed ? 0x20 : 0) | (expectingReply ? 0x04 : 0)));
  if (routed) {
    PutBig(out, replyTo->snet, 2);
    out->push_back(static_cast<uint8_t>(replyTo->sadr.size()));
    out->insert(out->end(), replyTo->sadr.begin(), replyTo->sadr.end());
    out->push_back(0xFF);  // hop count
  }
}

// ---- APDU

uint32_t MaxApduOfCode(uint8_t code) {
  static const uint32_t kLengths[] = {50, 128, 206, 480, 1024, 1476};
  return code < 6 ? kLengths[code] : 0;
}

bool DecodeApdu(const uint8_t *data, size_t size, Apdu *apdu) {
  *apdu = Apdu{};
  if (size < 1) return false;
  apdu->type = data[0] >> 4;
  switch (apdu->type) {
    case kConfirmedRequest: {
      apdu->segmented = data[0] & 0x08;
      apdu->moreFollows = data[0] & 0x04;
      apdu->segmentedAccepted = data[0] & 0x02;
      size_t at = apdu->segmented ? 5 : 3;
      if (size < at + 1) return false;
      apdu->maxApdu = MaxApduOfCode(data[1] & 0x0F);
      if (apdu->maxApdu == 0) apdu->maxApdu = 50;  // a reserved code: the least any device takes
      apdu->invokeId = data[2];
      apdu->service = data[at];
      apdu->body = at + 1;
      return true;
    }
    case kUnconfirmedRequest:
      if (size < 2) return false;
      apdu->service = data[1];
      apdu->body = 2;
      return true;
    case kSimpleAck:
      if (size < 3) return false;
      apdu->invokeId = data[1];
      apdu->service = data[2];
      apdu->body = 3;
      return true;
    case kComplexAck: {
      apdu->segmented = data[0] & 0x08;
      size_t at = apdu->segmented ? 4 : 2;
      if (size < at + 1) return false;
      apdu->invokeId = data[1];
      apdu->service = data[at];
      apdu->body = at + 1;
      return true;
    }
    case kSegmentAck:
    case kError:
    case kReject:
    case kAbort:
      if (size < 3) return false;
      apdu->invokeId = data[1];
      apdu->service = data[2];
      apdu->body = 3;
      return true;
    default:
      return false;
  }
}

void EncodeConfirmedHeader(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service) {
  // No segmentation accepted; replies of up to 1476 octets.
  out->insert(out->end(), {0x00, 0x05, invokeId, service});
}

void EncodeUnconfirmedHeader(std::vector<uint8_t> *out, uint8_t service) {
  out->insert(out->end(), {0x10, service});
}

void EncodeSimpleAck(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service) {
  out->insert(out->end(), {0x20, invokeId, service});
}

void EncodeComplexAckHeader(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service) {
  out->insert(out->end(), {0x30, invokeId, service});
}

void EncodeError(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service, uint32_t errorClass,
                 uint32_t errorCode) {
  out->insert(out->end(), {0x50, invokeId, service});
  Writer writer(out);
  writer.Enumerated(errorClass);
  writer.Enumerated(errorCode);
}

void EncodeReject(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t reason) {
  out->insert(out->end(), {0x60, invokeId, reason});
}

void EncodeAbort(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t reason) {
  out->insert(out->end(), {0x71, invokeId, reason});  // sent by the server
}

// ---- object identifiers

uint32_t PackObjectId(ObjectId id) { return (uint32_t{id.type} & 0x3FF) << 22 | (id.instance & kMaxInstance); }

ObjectId UnpackObjectId(uint32_t packed) {
  return {static_cast<uint16_t>(packed >> 22), packed & kMaxInstance};
}

// ---- Reader

bool Reader::Take(size_t count) {
  if (!ok_ || size_ - pos_ < count) return Fail();
  return true;
}

bool Reader::PeekTag(Tag *tag) {
  const size_t start = pos_;
  const bool read = ReadTag(tag);
  if (read) pos_ = start;
  return read;
}

bool Reader::ReadTag(Tag *tag) {
  *tag = Tag{};
  if (!Take(1)) return false;
  const uint8_t first = data_[pos_++];
  tag->number = first >> 4;
  tag->context = first & 0x08;
  if (tag->number == 15) {
    if (!Take(1)) return false;
    tag->number = data_[pos_++];
    if (tag->number == 255) return Fail();
  }
  const uint8_t lvt = first & 0x07;
  if (tag->context && lvt == 6) {
    tag->opening = true;
    return true;
  }
  if (tag->context && lvt == 7) {
    tag->closing = true;
    return true;
  }
  if (!tag->context && lvt > 5) return Fail();
  if (!tag->context && tag->number == kTagBoolean) {
    if (lvt > 1) return Fail();
    tag->length = lvt;
    return true;
  }
  if (lvt < 5) {
    tag->length = lvt;
  } else {
    if (!Take(1)) return false;
    const uint8_t extended = data_[pos_++];
    if (extended < 254) {
      tag->length = extended;
    } else {
      const size_t octets = extended == 254 ? 2 : 4;
      if (!Take(octets)) return false;
      tag->length = Big(data_ + pos_, octets);
      pos_ += octets;
    }
  }
  // The value must be in the buffer.
  if (size_ - pos_ < tag->length) return Fail();
  return true;
}

bool Reader::NextIsContext(uint8_t number) {
  Tag tag;
  if (!ok_ || AtEnd() || !PeekTag(&tag)) return false;
  return tag.context && !tag.opening && !tag.closing && tag.number == number;
}

bool Reader::NextIsOpening(uint8_t number) {
  Tag tag;
  if (!ok_ || AtEnd() || !PeekTag(&tag)) return false;
  return tag.opening && tag.number == number;
}

bool Reader::NextIsClosing(uint8_t number) {
  Tag tag;
  if (!ok_ || AtEnd() || !PeekTag(&tag)) return false;
  return tag.closing && tag.number == number;
}

bool Reader::ReadOpening(uint8_t number) {
  Tag tag;
  if (!ReadTag(&tag) || !tag.opening || tag.number != number) return Fail();
  return true;
}

bool Reader::ReadClosing(uint8_t number) {
  Tag tag;
  if (!ReadTag(&tag) || !tag.closing || tag.number != number) return Fail();
  return true;
}

uint32_t Reader::Unsigned(uint32_t length) {
  if (length < 1 || length > 4) {
    Fail();
    return 0;
  }
  if (!Take(length)) return 0;
  const uint32_t value = Big(data_ + pos_, length);
  pos_ += length;
  return value;
}

int32_t Reader::Signed(uint32_t length) {
  if (length < 1 || length > 4) {
    Fail();
    return 0;
  }
  if (!Take(length)) return 0;
  uint32_t value = Big(data_ + pos_, length);
  pos_ += length;
  if (length < 4 && (value & (1u << (8 * length - 1)))) value |= ~((1u << (8 * length)) - 1);
  return static_cast<int32_t>(value);
}

float Reader::Real(uint32_t length) {
  if (length != 4 || !Take(4)) {
    Fail();
    return 0;
  }
  const uint32_t bits = Big(data_ + pos_, 4);
  pos_ += 4;
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

double Reader::Double(uint32_t length) {
  if (length != 8 || !Take(8)) {
    Fail();
    return 0;
  }
  const uint64_t bits = (uint64_t{Big(data_ + pos_, 4)} << 32) | Big(data_ + pos_ + 4, 4);
  pos_ += 8;
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

bool Reader::CharacterString(uint32_t length, std::string *text) {
  if (length < 1 || !Take(length)) return Fail();
  if (data_[pos_] != 0) {  // a character set other than ANSI X3.4 / UTF-8
    pos_ += length;
    return false;
  }
  text->assign(reinterpret_cast<const char *>(data_ + pos_ + 1), length - 1);
  pos_ += length;
  return true;
}

void Reader::Skip(uint32_t length) {
  if (Take(length)) pos_ += length;
}

bool Reader::ContextUnsigned(uint8_t number, uint32_t *value) {
  Tag tag;
  if (!ReadTag(&tag) || !tag.context || tag.opening || tag.closing || tag.number != number) return Fail();
  *value = Unsigned(tag.length);
  return ok_;
}

bool Reader::ContextObjectId(uint8_t number, ObjectId *id) {
  Tag tag;
  if (!ReadTag(&tag) || !tag.context || tag.opening || tag.closing || tag.number != number || tag.length != 4) {
    return Fail();
  }
  *id = UnpackObjectId(Unsigned(4));
  return ok_;
}

bool Reader::SkipValue() {
  Tag tag;
  if (!ReadTag(&tag) || tag.closing) return Fail();
  if (!tag.opening) {
    if (!(!tag.context && tag.number == kTagBoolean)) Skip(tag.length);
    return ok_;
  }
  // Nested openings and closings must pair, and not too deep.
  uint8_t open[kMaxNesting];
  int depth = 0;
  open[depth++] = tag.number;
  while (depth > 0) {
    if (!ReadTag(&tag)) return false;
    if (tag.opening) {
      if (depth == kMaxNesting) return Fail();
      open[depth++] = tag.number;
    } else if (tag.closing) {
      if (open[--depth] != tag.number) return Fail();
    } else if (!(!tag.context && tag.number == kTagBoolean)) {
      Skip(tag.length);
    }
  }
  return ok_;
}

bool ReadAnyValue(Reader &reader, AnyValue *value) {
  *value = AnyValue{};
  Tag tag;
  if (!reader.ReadTag(&tag)) return false;
  if (tag.context || tag.opening || tag.closing) return reader.Fail();
  value->tag = tag.number;
  switch (tag.number) {
    case kTagNull:
      return tag.length == 0 || reader.Fail();
    case kTagBoolean:
      value->boolean = tag.length == 1;
      return true;
    case kTagUnsigned:
    case kTagEnumerated:
      value->unsignedValue = reader.Unsigned(tag.length);
      return reader.ok();
    case kTagSigned:
      value->signedValue = reader.Signed(tag.length);
      return reader.ok();
    case kTagReal:
      value->real = reader.Real(tag.length);
      return reader.ok();
    case kTagDouble:
      value->real = reader.Double(tag.length);
      return reader.ok();
    default:
      reader.Skip(tag.length);
      return false;
  }
}

// ---- Writer

void Writer::Header(uint8_t number, bool context, uint32_t length) {
  const uint8_t classBit = context ? 0x08 : 0;
  uint8_t first = classBit;
  std::vector<uint8_t> &out = *out_;
  const size_t at = out.size();
  out.push_back(0);
  if (number <= 14) {
    first |= static_cast<uint8_t>(number << 4);
  } else {
    first |= 0xF0;
    out.push_back(number);
  }
  if (length <= 4) {
    first |= static_cast<uint8_t>(length);
  } else {
    first |= 5;
    if (length <= 253) {
      out.push_back(static_cast<uint8_t>(length));
    } else if (length <= 0xFFFF) {
      out.push_back(254);
      PutBig(&out, length, 2);
    } else {
      out.push_back(255);
      PutBig(&out, length, 4);
    }
  }
  out[at] = first;
}

void Writer::UnsignedTagged(uint8_t number, bool context, uint32_t value) {
  const int octets = UnsignedOctets(value);
  Header(number, context, static_cast<uint32_t>(octets));
  PutBig(out_, value, octets);
}

void Writer::Null() { out_->push_back(0x00); }

void Writer::Boolean(bool value) { out_->push_back(value ? 0x11 : 0x10); }

void Writer::Unsigned(uint32_t value) { UnsignedTagged(kTagUnsigned, false, value); }

void Writer::Signed(int32_t value) {
  const int octets = SignedOctets(value);
  Header(kTagSigned, false, static_cast<uint32_t>(octets));
  PutBig(out_, static_cast<uint32_t>(value), octets);
}

void Writer::Real(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  Header(kTagReal, false, 4);
  PutBig(out_, bits, 4);
}

void Writer::Double(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  Header(kTagDouble, false, 8);
  PutBig(out_, static_cast<uint32_t>(bits >> 32), 4);
  PutBig(out_, static_cast<uint32_t>(bits), 4);
}

void Writer::CharacterString(const std::string &text) {
  Header(kTagCharacterString, false, static_cast<uint32_t>(text.size() + 1));
  out_->push_back(0x00);  // ANSI X3.4 / UTF-8
  out_->insert(out_->end(), text.begin(), text.end());
}

void Writer::BitString(const std::vector<bool> &bits) {
  const size_t octets = (bits.size() + 7) / 8;
  Header(kTagBitString, false, static_cast<uint32_t>(octets + 1));
  out_->push_back(static_cast<uint8_t>(octets * 8 - bits.size()));
  for (size_t i = 0; i < octets; ++i) {
    uint8_t octet = 0;
    for (size_t b = 0; b < 8; ++b) {
      if (i * 8 + b < bits.size() && bits[i * 8 + b]) octet |= static_cast<uint8_t>(0x80 >> b);
    }
    out_->push_back(octet);
  }
}

void Writer::Enumerated(uint32_t value) { UnsignedTagged(kTagEnumerated, false, value); }

void Writer::ObjectIdentifier(ObjectId id) {
  Header(kTagObjectId, false, 4);
  PutBig(out_, PackObjectId(id), 4);
}

void Writer::ContextUnsigned(uint8_t number, uint32_t value) { UnsignedTagged(number, true, value); }

void Writer::ContextBoolean(uint8_t number, bool value) {
  Header(number, true, 1);
  out_->push_back(value ? 1 : 0);
}

void Writer::ContextObjectIdentifier(uint8_t number, ObjectId id) {
  Header(number, true, 4);
  PutBig(out_, PackObjectId(id), 4);
}

void Writer::Opening(uint8_t number) {
  if (number <= 14) {
    out_->push_back(static_cast<uint8_t>(number << 4 | 0x0E));
  } else {
    out_->insert(out_->end(), {0xFE, number});
  }
}

void Writer::Closing(uint8_t number) {
  if (number <= 14) {
    out_->push_back(static_cast<uint8_t>(number << 4 | 0x0F));
  } else {
    out_->insert(out_->end(), {0xFF, number});
  }
}

}  // namespace bacnet
