// BACnet/IP on the wire: the BVLC header of every datagram, the NPDU (network
// layer) header, the APDU headers, and the tagged values of application and
// context tags. Pure functions over byte buffers: nothing here touches a
// socket or the gateway, so that every rule can be checked against byte
// vectors worked out by hand and the decoder can be fuzzed alone.
//
// Decoding never reads past the end of its buffer: a Reader that runs out or
// meets a malformed tag turns bad and stays bad, and every value read after
// that is zero.
#ifndef ZAMKT_ZAMGATE_BACNET_CODEC_H
#define ZAMKT_ZAMGATE_BACNET_CODEC_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace bacnet {

// ---- numbers of the protocol used here

constexpr uint8_t kBvlcType = 0x81;  // BACnet/IP
enum BvlcFunction : uint8_t {
  kBvlcResult = 0x00,
  kBvlcForwardedNpdu = 0x04,
  kBvlcRegisterForeignDevice = 0x05,
  kBvlcDistributeBroadcast = 0x09,
  kBvlcOriginalUnicast = 0x0A,
  kBvlcOriginalBroadcast = 0x0B,
};

enum ApduType : uint8_t {
  kConfirmedRequest = 0,
  kUnconfirmedRequest = 1,
  kSimpleAck = 2,
  kComplexAck = 3,
  kSegmentAck = 4,
  kError = 5,
  kReject = 6,
  kAbort = 7,
};

enum ConfirmedService : uint8_t {
  kConfirmedCovNotification = 1,
  kSubscribeCov = 5,
  kReadProperty = 12,
  kReadPropertyMultiple = 14,
  kWriteProperty = 15,
};

enum UnconfirmedService : uint8_t {
  kIAm = 0,
  kIHave = 1,
  kUnconfirmedCovNotification = 2,
  kWhoHas = 7,
  kWhoIs = 8,
};

enum ApplicationTag : uint8_t {
  kTagNull = 0,
  kTagBoolean = 1,
  kTagUnsigned = 2,
  kTagSigned = 3,
  kTagReal = 4,
  kTagDouble = 5,
  kTagOctetString = 6,
  kTagCharacterString = 7,
  kTagBitString = 8,
  kTagEnumerated = 9,
  kTagDate = 10,
  kTagTime = 11,
  kTagObjectId = 12,
};

enum ErrorClass : uint32_t {
  kClassDevice = 0,
  kClassObject = 1,
  kClassProperty = 2,
  kClassResources = 3,
  kClassServices = 5,
  kClassCommunication = 7,
};

enum ErrorCode : uint32_t {
  kErrorOther = 0,
  kErrorDeviceBusy = 3,
  kErrorInvalidDataType = 9,
  kErrorOperationalProblem = 25,
  kErrorServiceRequestDenied = 29,
  kErrorTimeout = 30,
  kErrorUnknownObject = 31,
  kErrorUnknownProperty = 32,
  kErrorValueOutOfRange = 37,
  kErrorWriteAccessDenied = 40,
  kErrorInvalidArrayIndex = 42,
  kErrorPropertyIsNotAnArray = 50,
  kErrorUnknownSubscription = 79,
};

enum RejectReason : uint8_t {
  kRejectOther = 0,
  kRejectInvalidTag = 4,
  kRejectMissingRequiredParameter = 5,
  kRejectParameterOutOfRange = 6,
  kRejectTooManyArguments = 7,
  kRejectUnrecognizedService = 9,
};

enum AbortReason : uint8_t {
  kAbortOther = 0,
  kAbortBufferOverflow = 1,
  kAbortSegmentationNotSupported = 4,
};

constexpr uint32_t kMaxInstance = 0x3FFFFF;  // 4194303: also "this device" in a request
constexpr uint32_t kMaxApdu = 1476;          // the largest APDU over BACnet/IP

// ---- the BVLC header

struct Bvlc {
  uint8_t function = 0;
  // Forwarded-NPDU: the original sender's IPv4 address and port.
  uint8_t origin[6] = {};
  size_t payload = 0;  // where the NPDU (or the function's data) starts
};

// False when the datagram is not BACnet/IP, or its length field disagrees
// with its size.
bool DecodeBvlc(const uint8_t *data, size_t size, Bvlc *bvlc);
// Prepends the BVLC header of this function to an NPDU.
std::vector<uint8_t> WithBvlc(uint8_t function, const std::vector<uint8_t> &npdu);

// ---- the NPDU header

struct Npdu {
  bool networkMessage = false;  // a network layer message, not an APDU
  bool expectingReply = false;
  uint8_t priority = 0;
  bool hasDestination = false;
  uint16_t dnet = 0;
  std::vector<uint8_t> dadr;
  bool hasSource = false;
  uint16_t snet = 0;
  std::vector<uint8_t> sadr;
  size_t apdu = 0;  // where the APDU starts
};

bool DecodeNpdu(const uint8_t *data, size_t size, Npdu *npdu);
// The header of an APDU sent back: to the source network of the request when
// it came through a router.
void EncodeNpdu(std::vector<uint8_t> *out, bool expectingReply, const Npdu *replyTo);

// ---- the APDU headers

struct Apdu {
  uint8_t type = 0;
  bool segmented = false;
  bool moreFollows = false;
  bool segmentedAccepted = false;
  uint32_t maxApdu = 0;  // the requester accepts replies this long (confirmed requests)
  uint8_t invokeId = 0;
  uint8_t service = 0;
  size_t body = 0;  // where the service's parameters start
};

bool DecodeApdu(const uint8_t *data, size_t size, Apdu *apdu);
// The maximum APDU length that the 4-bit code of a confirmed request
// names; 0 for a reserved code.
uint32_t MaxApduOfCode(uint8_t code);

void EncodeConfirmedHeader(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service);
void EncodeUnconfirmedHeader(std::vector<uint8_t> *out, uint8_t service);
void EncodeSimpleAck(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service);
void EncodeComplexAckHeader(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service);
void EncodeError(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t service, uint32_t errorClass,
                 uint32_t errorCode);
void EncodeReject(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t reason);
void EncodeAbort(std::vector<uint8_t> *out, uint8_t invokeId, uint8_t reason);

// ---- tagged values

struct ObjectId {
  uint16_t type = 0;
  uint32_t instance = 0;
  bool operator==(const ObjectId &other) const { return type == other.type && instance == other.instance; }
  bool operator<(const ObjectId &other) const {
    return type != other.type ? type < other.type : instance < other.instance;
  }
};
uint32_t PackObjectId(ObjectId id);
ObjectId UnpackObjectId(uint32_t packed);

struct Tag {
  uint8_t number = 0;
  bool context = false;
  bool opening = false;
  bool closing = false;
  uint32_t length = 0;  // of the value that follows; application booleans: the value itself
};

// Reads tags and values from a buffer.
class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return pos_ >= size_; }
  size_t pos() const { return pos_; }
  size_t left() const { return ok_ ? size_ - pos_ : 0; }
  bool Fail() { return ok_ = false; }

  // The next tag, without moving past it. False at the end or on a bad tag.
  bool PeekTag(Tag *tag);
  bool ReadTag(Tag *tag);
  // True (and moves past it) when the next tag is this context tag.
  bool NextIsContext(uint8_t number);
  bool NextIsOpening(uint8_t number);
  bool NextIsClosing(uint8_t number);
  bool ReadOpening(uint8_t number);
  bool ReadClosing(uint8_t number);

  // The value of a tag just read.
  uint32_t Unsigned(uint32_t length);
  int32_t Signed(uint32_t length);
  float Real(uint32_t length);
  double Double(uint32_t length);
  // A character string (ANSI X3.4 / UTF-8 only); false for other sets.
  bool CharacterString(uint32_t length, std::string *text);
  void Skip(uint32_t length);

  // A context-tagged unsigned, enumerated or object id of this number.
  bool ContextUnsigned(uint8_t number, uint32_t *value);
  bool ContextObjectId(uint8_t number, ObjectId *id);

  // One whole value (primitive, or constructed from its opening to its
  // closing tag), skipped; nesting is bounded.
  bool SkipValue();

 private:
  bool Take(size_t count);
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// An application-tagged value as the gateway takes it for a write.
struct AnyValue {
  uint8_t tag = kTagNull;
  bool boolean = false;
  uint32_t unsignedValue = 0;  // unsigned and enumerated
  int32_t signedValue = 0;
  double real = 0;  // real and double
};
// Reads one application-tagged primitive value; false for a constructed or
// context value, or one of a kind a write never takes (strings, dates ...).
bool ReadAnyValue(Reader &reader, AnyValue *value);

// Appends encoded values.
class Writer {
 public:
  explicit Writer(std::vector<uint8_t> *out) : out_(out) {}

  void Null();
  void Boolean(bool value);
  void Unsigned(uint32_t value);
  void Signed(int32_t value);
  void Real(float value);
  void Double(double value);
  void CharacterString(const std::string &text);  // UTF-8
  // bits[i] is bit i of the string (the first bit sent).
  void BitString(const std::vector<bool> &bits);
  void Enumerated(uint32_t value);
  void ObjectIdentifier(ObjectId id);

  void ContextUnsigned(uint8_t number, uint32_t value);
  void ContextEnumerated(uint8_t number, uint32_t value) { ContextUnsigned(number, value); }
  void ContextBoolean(uint8_t number, bool value);
  void ContextObjectIdentifier(uint8_t number, ObjectId id);
  void Opening(uint8_t number);
  void Closing(uint8_t number);

  std::vector<uint8_t> &bytes() { return *out_; }

 private:
  void Header(uint8_t number, bool context, uint32_t length);
  void UnsignedTagged(uint8_t number, bool context, uint32_t value);
  std::vector<uint8_t> *out_;
};

}  // namespace bacnet

#endif  // ZAMKT_ZAMGATE_BACNET_CODEC_H
