#include "zamgate/bacnet/device.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "driver/requests.h"

namespace bacnet {
namespace {

// Property identifiers.
enum Property : uint32_t {
  kApduTimeout = 11,
  kApplicationSoftwareVersion = 12,
  kCovIncrement = 22,
  kDescription = 28,
  kDeviceAddressBinding = 30,
  kEventState = 36,
  kFirmwareRevision = 44,
  kLocation = 58,
  kMaxApduLengthAccepted = 62,
  kModelName = 70,
  kNumberOfApduRetries = 73,
  kObjectIdentifier = 75,
  kObjectList = 76,
  kObjectName = 77,
  kObjectType = 79,
  kOptional = 80,
  kOutOfService = 81,
  kPolarity = 84,
  kPresentValue = 85,
  kPriorityArray = 87,
  kProtocolObjectTypesSupported = 96,
  kProtocolServicesSupported = 97,
  kProtocolVersion = 98,
  kReliability = 103,
  kRelinquishDefault = 104,
  kRequired = 105,
  kSegmentationSupported = 107,
  kStatusFlags = 111,
  kSystemStatus = 112,
  kUnits = 117,
  kVendorIdentifier = 120,
  kVendorName = 121,
  kProtocolRevision = 139,
  kDatabaseRevision = 155,
  kPropertyList = 371,
  kAll = 8,
};

constexpr uint32_t kNoSegmentation = 3;
constexpr uint32_t kReliabilityNoFault = 0;
constexpr uint32_t kReliabilityCommunicationFailure = 12;
constexpr uint32_t kUnitsNoUnits = 95;
constexpr uint32_t kUnitsMinutes = 72;
constexpr uint32_t kUnitsSeconds = 73;
constexpr uint32_t kErrorNoSpaceToAddListElement = 19;
constexpr uint32_t kErrorOptionalFunctionalityNotSupported = 45;
constexpr uint32_t kProtocolRevisionClaimed = 14;
constexpr uint32_t kVendorId = 0;  // no identifier of the project's own

bool IsBinary(uint16_t type) { return type == kBinaryInput || type == kBinaryValue; }

std::vector<uint32_t> DeviceProperties(bool required, bool optional, bool hasLocation) {
  std::vector<uint32_t> list;
  if (required) {
    list = {kObjectIdentifier, kObjectName, kObjectType, kSystemStatus, kVendorName, kVendorIdentifier, kModelName,
            kFirmwareRevision, kApplicationSoftwareVersion, kProtocolVersion, kProtocolRevision,
            kProtocolServicesSupported, kProtocolObjectTypesSupported, kObjectList, kMaxApduLengthAccepted,
            kSegmentationSupported, kApduTimeout, kNumberOfApduRetries, kDeviceAddressBinding, kDatabaseRevision,
            kPropertyList};
  }
  if (optional) {
    list.push_back(kDescription);
    if (hasLocation) list.push_back(kLocation);
  }
  return list;
}

const char *MeaningName(n2host::PointKind kind) {
  switch (kind) {
    case n2host::PointKind::kDigital: return "on/off";
    case n2host::PointKind::kScheduleTime: return "schedule time, minutes since midnight";
    case n2host::PointKind::kScheduleDays: return "schedule days, digits 1..7 naming Monday..Sunday";
    case n2host::PointKind::kClockTime: return "clock time, seconds since midnight";
    case n2host::PointKind::kClockDate: return "clock date, day 1 = 1980-01-01";
    case n2host::PointKind::kOverride: return "override state, 1 while overridden";
    default: return "";
  }
}

Peer PeerOf(const Peer &from, const Npdu &npdu) {
  Peer peer = from;
  peer.routed = npdu.hasSource;
  peer.snet = npdu.snet;
  peer.sadr = npdu.sadr;
  return peer;
}

// The NPDU header that reaches a peer: through its router when it sits behind one.
void NpduTo(const Peer &peer, bool expectingReply, std::vector<uint8_t> *out) {
  Npdu route;
  route.hasSource = peer.routed;
  route.snet = peer.snet;
  route.sadr = peer.sadr;
  EncodeNpdu(out, expectingReply, &route);
}

}  // namespace

bool WriteText(double value, int gateType, std::string *text) {
  if (!std::isfinite(value)) return false;
  char buffer[32];
  if (gateType == kGateReal) {
    if (fabs(value) > 3.4e38) return false;
    snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(static_cast<float>(value)));
    *text = buffer;
    return true;
  }
  // Whole numbers within the gate's type, as the object shows them: an
  // int16 gate's -32768..32767, not the bit patterns above.
  double low = -2147483648.0, high = 2147483647.0;
  if (gateType == kGateDigital) low = 0, high = 1;
  if (gateType == kGateInt16) low = -32768, high = 32767;
  if (gateType == kGateUInt16) low = 0, high = 65535;
  if (value != floor(value) || value < low || value > high) return false;
  snprintf(buffer, sizeof buffer, "%.0f", value);
  *text = buffer;
  return true;
}

uint32_t DatabaseRevision(const BacnetConfig &config) {
  uint32_t hash = 2166136261u;
  auto mix = [&hash](uint32_t value) {
    for (int i = 0; i < 4; ++i) hash = (hash ^ ((value >> (8 * i)) & 0xFF)) * 16777619u;
  };
  mix(config.deviceInstance);
  for (const MapEntry &entry : config.map) {
    mix(entry.type);
    mix(entry.instance);
    mix(static_cast<uint32_t>(entry.gate));
    for (char c : entry.name) mix(static_cast<unsigned char>(c));
  }
  return hash & 0xFFFF;  // small enough to read at a glance
}

Device::Device(const BacnetConfig &config, std::vector<GateReading> gates)
    : config_(config), deviceId_{kDevice, config.deviceInstance}, databaseRevision_(DatabaseRevision(config)),
      gates_(std::move(gates)), objectsOfGate_(gates_.size()) {
  for (const MapEntry &entry : config_.map) {
    if (entry.gate >= gates_.size()) continue;
    Object object;
    object.id = {entry.type, entry.instance};
    object.name = entry.name;
    object.gate = entry.gate;
    object.commandable = entry.type == kAnalogValue || entry.type == kBinaryValue;
    object.covIncrement = entry.covIncrement;
    object.relinquishDefault = entry.relinquishDefault;
    const GateReading &gate = gates_[entry.gate];
    object.units = kUnitsNoUnits;
    if (gate.kind == n2host::PointKind::kScheduleTime) object.units = kUnitsMinutes;
    if (gate.kind == n2host::PointKind::kClockTime) object.units = kUnitsSeconds;
    object.description = "N2 " + gate.gas;
    const std::string meaning = MeaningName(gate.kind);
    if (!meaning.empty()) object.description += " (" + meaning + ")";
    byId_[object.id] = objects_.size();
    objectsOfGate_[entry.gate].push_back(objects_.size());
    objects_.push_back(std::move(object));
  }
}

Outgoing Device::Reply(const Peer &to, const Npdu &request, const std::vector<uint8_t> &apdu) const {
  Outgoing out;
  out.to = PeerOf(to, request);
  EncodeNpdu(&out.npdu, false, &request);
  out.npdu.insert(out.npdu.end(), apdu.begin(), apdu.end());
  return out;
}

std::vector<uint8_t> Device::IAmNpdu() const {
  std::vector<uint8_t> npdu;
  EncodeNpdu(&npdu, false, nullptr);
  EncodeUnconfirmedHeader(&npdu, kIAm);
  Writer writer(&npdu);
  writer.ObjectIdentifier(deviceId_);
  writer.Unsigned(kMaxApdu);
  writer.Enumerated(kNoSegmentation);
  writer.Unsigned(kVendorId);
  return npdu;
}

void Device::Handle(const uint8_t *data, size_t size, const Peer &from, SteadyTime now, std::vector<Outgoing> *out) {
  Npdu npdu;
  if (!DecodeNpdu(data, size, &npdu) || npdu.networkMessage) {
    ++counters_.dropped;  // network layer messages are for routers
    return;
  }
  // A request for another network passes through us only if we route; we do not.
  if (npdu.hasDestination && npdu.dnet != 0xFFFF) {
    ++counters_.dropped;
    return;
  }
  Apdu apdu;
  if (!DecodeApdu(data + npdu.apdu, size - npdu.apdu, &apdu)) {
    ++counters_.dropped;
    return;
  }
  const uint8_t *body = data + npdu.apdu + apdu.body;
  Reader reader(body, size - npdu.apdu - apdu.body);
  ++counters_.requests;
  if (apdu.type == kConfirmedRequest) {
    Confirmed(apdu, reader, from, npdu, now, out);
  } else if (apdu.type == kUnconfirmedRequest) {
    Peer peer = PeerOf(from, npdu);
    Unconfirmed(apdu, reader, peer, out);
  }
  // Acknowledgements of our confirmed notifications need nothing: they are
  // not retried.
}

void Device::Confirmed(const Apdu &apdu, Reader &reader, const Peer &from, const Npdu &npdu, SteadyTime now,
                       std::vector<Outgoing> *out) {
  std::vector<uint8_t> answer;
  std::optional<size_t> notify;
  if (apdu.segmented) {
    EncodeAbort(&answer, apdu.invokeId, kAbortSegmentationNotSupported);
  } else {
    switch (apdu.service) {
      case kReadProperty:
        ReadProperty(apdu, reader, &answer);
        break;
      case kReadPropertyMultiple:
        ReadPropertyMultiple(apdu, reader, &answer);
        break;
      case kWriteProperty:
        if (WriteProperty(apdu, reader, from, npdu, &answer)) return;  // answered when the write ends
        break;
      case kSubscribeCov:
        SubscribeCov(apdu, reader, PeerOf(from, npdu), now, &answer, &notify);
        break;
      default:
        EncodeReject(&answer, apdu.invokeId, kRejectUnrecognizedService);
        break;
    }
  }
  // An answer longer than the requester takes, or than a datagram holds,
  // would need segmentation, which this device does not do.
  if (answer.size() > std::min(apdu.maxApdu, kMaxApdu)) {
    answer.clear();
    EncodeAbort(&answer, apdu.invokeId, kAbortSegmentationNotSupported);
  }
  switch (answer[0] >> 4) {
    case kError: ++counters_.errors; break;
    case kReject: ++counters_.rejects; break;
    case kAbort: ++counters_.aborts; break;
    default: break;
  }
  out->push_back(Reply(from, npdu, answer));
  if (notify) {
    for (Subscription &subscription : subscriptions_) {
      if (subscription.peer == PeerOf(from, npdu) && byId_.count(subscription.object) &&
          byId_.at(subscription.object) == *notify) {
        Notify(subscription, now, out);
      }
    }
  }
}

void Device::Unconfirmed(const Apdu &apdu, Reader &reader, const Peer &from, std::vector<Outgoing> *out) {
  uint32_t low = 0, high = kMaxInstance;
  auto readRange = [&]() {
    if (reader.NextIsContext(0)) {
      if (!reader.ContextUnsigned(0, &low) || !reader.ContextUnsigned(1, &high)) return false;
      if (low > kMaxInstance || high > kMaxInstance) return false;
    }
    return reader.ok();
  };
  if (apdu.service == kWhoIs) {
    if (!readRange() || !reader.AtEnd()) {
      ++counters_.dropped;
      return;
    }
    if (config_.deviceInstance < low || config_.deviceInstance > high) return;
    Outgoing reply;
    reply.to = from;
    NpduTo(from, false, &reply.npdu);
    std::vector<uint8_t> iAm = IAmNpdu();
    reply.npdu.insert(reply.npdu.end(), iAm.begin() + 2, iAm.end());  // past our own NPDU header
    out->push_back(std::move(reply));
  } else if (apdu.service == kWhoHas) {
    if (!readRange()) {
      ++counters_.dropped;
      return;
    }
    int found = -2;
    if (reader.NextIsContext(2)) {
      ObjectId id;
      if (!reader.ContextObjectId(2, &id)) return;
      found = Find(id);
    } else {
      Tag tag;
      std::string name;
      if (!reader.ReadTag(&tag) || !tag.context || tag.number != 3 || !reader.CharacterString(tag.length, &name)) {
        ++counters_.dropped;
        return;
      }
      if (name == config_.deviceName) found = -1;
      for (size_t i = 0; i < objects_.size(); ++i) {
        if (objects_[i].name == name) found = static_cast<int>(i);
      }
    }
    if (found == -2 || !reader.AtEnd() || config_.deviceInstance < low || config_.deviceInstance > high) return;
    Outgoing reply;
    reply.to = from;
    NpduTo(from, false, &reply.npdu);
    EncodeUnconfirmedHeader(&reply.npdu, kIHave);
    Writer writer(&reply.npdu);
    writer.ObjectIdentifier(deviceId_);
    writer.ObjectIdentifier(found == -1 ? deviceId_ : objects_[static_cast<size_t>(found)].id);
    writer.CharacterString(found == -1 ? config_.deviceName : objects_[static_cast<size_t>(found)].name);
    out->push_back(std::move(reply));
  }
}

int Device::Find(ObjectId id) const {
  if (id.type == kDevice && (id.instance == config_.deviceInstance || id.instance == kMaxInstance)) return -1;
  auto found = byId_.find(id);
  return found == byId_.end() ? -2 : static_cast<int>(found->second);
}

std::vector<uint32_t> Device::PropertiesOf(int index, int which) const {
  const bool required = which != 2, optional = which != 1;
  if (index < 0) return DeviceProperties(required, optional, !config_.location.empty());
  const Object &object = objects_[static_cast<size_t>(index)];
  std::vector<uint32_t> list;
  if (required) {
    list = {kObjectIdentifier, kObjectName, kObjectType, kPresentValue, kStatusFlags, kEventState, kOutOfService};
    if (!IsBinary(object.id.type)) list.push_back(kUnits);
    if (object.id.type == kBinaryInput) list.push_back(kPolarity);
    if (object.commandable) {
      list.push_back(kPriorityArray);
      list.push_back(kRelinquishDefault);
    }
    list.push_back(kPropertyList);
  }
  if (optional) {
    list.push_back(kDescription);
    list.push_back(kReliability);
    if (!IsBinary(object.id.type)) list.push_back(kCovIncrement);
  }
  return list;
}

bool Device::Fault(const Object &object) const {
  const GateReading &gate = gates_[object.gate];
  return !gate.good || !gate.hasValue;
}

double Device::CommandedValue(const Object &object, bool *any) const {
  for (const std::optional<double> &slot : object.priority) {
    if (slot) {
      *any = true;
      return *slot;
    }
  }
  *any = false;
  return object.relinquishDefault.value_or(0);
}

void Device::EncodePresentValue(const Object &object, Writer &writer) const {
  const double value = gates_[object.gate].value;
  if (IsBinary(object.id.type)) {
    writer.Enumerated(value != 0 ? 1 : 0);
  } else {
    writer.Real(static_cast<float>(value));
  }
}

Device::Result Device::EncodeProperty(int index, uint32_t property, std::optional<uint32_t> arrayIndex,
                                      Writer &writer) const {
  const std::vector<uint32_t> known = PropertiesOf(index, 0);
  if (std::find(known.begin(), known.end(), property) == known.end()) {
    return {false, kClassProperty, kErrorUnknownProperty};
  }
  const bool isArray = property == kObjectList || property == kPriorityArray || property == kPropertyList;
  if (arrayIndex && !isArray) return {false, kClassProperty, kErrorPropertyIsNotAnArray};

  // The arrays: an index of 0 gives their length.
  if (isArray) {
    std::vector<std::function<void()>> items;
    if (property == kPropertyList) {
      for (uint32_t id : known) {
        if (id != kObjectIdentifier && id != kObjectName && id != kObjectType && id != kPropertyList) {
          items.push_back([&writer, id] { writer.Enumerated(id); });
        }
      }
    } else if (property == kObjectList) {
      items.push_back([&writer, this] { writer.ObjectIdentifier(deviceId_); });
      for (const Object &object : objects_) items.push_back([&writer, &object] { writer.ObjectIdentifier(object.id); });
    } else {
      const Object &object = objects_[static_cast<size_t>(index)];
      for (const std::optional<double> &slot : object.priority) {
        items.push_back([&writer, &object, slot] {
          if (!slot) {
            writer.Null();
          } else if (IsBinary(object.id.type)) {
            writer.Enumerated(*slot != 0 ? 1 : 0);
          } else {
            writer.Real(static_cast<float>(*slot));
          }
        });
      }
    }
    if (!arrayIndex) {
      for (auto &item : items) item();
    } else if (*arrayIndex == 0) {
      writer.Unsigned(static_cast<uint32_t>(items.size()));
    } else if (*arrayIndex <= items.size()) {
      items[*arrayIndex - 1]();
    } else {
      return {false, kClassProperty, kErrorInvalidArrayIndex};
    }
    return {};
  }

  if (index < 0) {
    switch (property) {
      case kObjectIdentifier: writer.ObjectIdentifier(deviceId_); break;
      case kObjectName: writer.CharacterString(config_.deviceName); break;
      case kObjectType: writer.Enumerated(kDevice); break;
      case kSystemStatus: writer.Enumerated(0); break;  // operational
      case kVendorName: writer.CharacterString("ZAMKT"); break;
      case kVendorIdentifier: writer.Unsigned(kVendorId); break;
      case kModelName: writer.CharacterString("zamgate N2 gateway"); break;
      case kFirmwareRevision: writer.CharacterString("1"); break;
      case kApplicationSoftwareVersion: writer.CharacterString("zamgate"); break;
      case kProtocolVersion: writer.Unsigned(1); break;
      case kProtocolRevision: writer.Unsigned(kProtocolRevisionClaimed); break;
      case kProtocolServicesSupported: {
        std::vector<bool> bits(41);
        for (int service : {1, 5, 12, 14, 15, 26, 27, 28, 33, 34}) bits[static_cast<size_t>(service)] = true;
        writer.BitString(bits);
        break;
      }
      case kProtocolObjectTypesSupported: {
        std::vector<bool> bits(55);
        for (int type : {kAnalogInput, kAnalogValue, kBinaryInput, kBinaryValue, kDevice}) {
          bits[static_cast<size_t>(type)] = true;
        }
        writer.BitString(bits);
        break;
      }
      case kMaxApduLengthAccepted: writer.Unsigned(kMaxApdu); break;
      case kSegmentationSupported: writer.Enumerated(kNoSegmentation); break;
      case kApduTimeout: writer.Unsigned(10000); break;
      case kNumberOfApduRetries: writer.Unsigned(0); break;
      case kDeviceAddressBinding: break;  // an empty list
      case kDatabaseRevision: writer.Unsigned(databaseRevision_); break;
      case kDescription: writer.CharacterString("N2 bus gateway"); break;
      case kLocation: writer.CharacterString(config_.location); break;
      default: return {false, kClassProperty, kErrorUnknownProperty};
    }
    return {};
  }

  const Object &object = objects_[static_cast<size_t>(index)];
  const bool fault = Fault(object);
  switch (property) {
    case kObjectIdentifier: writer.ObjectIdentifier(object.id); break;
    case kObjectName: writer.CharacterString(object.name); break;
    case kObjectType: writer.Enumerated(object.id.type); break;
    case kPresentValue: EncodePresentValue(object, writer); break;
    case kStatusFlags: writer.BitString({false, fault, false, false}); break;
    case kEventState: writer.Enumerated(0); break;  // normal: no alarms are evaluated
    case kOutOfService: writer.Boolean(false); break;
    case kUnits: writer.Enumerated(object.units); break;
    case kPolarity: writer.Enumerated(0); break;  // normal
    case kRelinquishDefault:
      if (IsBinary(object.id.type)) {
        writer.Enumerated(object.relinquishDefault.value_or(0) != 0 ? 1 : 0);
      } else {
        writer.Real(static_cast<float>(object.relinquishDefault.value_or(0)));
      }
      break;
    case kDescription: writer.CharacterString(object.description); break;
    case kReliability: writer.Enumerated(fault ? kReliabilityCommunicationFailure : kReliabilityNoFault); break;
    case kCovIncrement: writer.Real(object.covIncrement); break;
    default: return {false, kClassProperty, kErrorUnknownProperty};
  }
  return {};
}

void Device::ReadProperty(const Apdu &apdu, Reader &reader, std::vector<uint8_t> *answer) {
  ObjectId id;
  uint32_t property = 0;
  std::optional<uint32_t> index;
  if (!reader.ContextObjectId(0, &id) || !reader.ContextUnsigned(1, &property)) {
    EncodeReject(answer, apdu.invokeId, reader.AtEnd() ? kRejectMissingRequiredParameter : kRejectInvalidTag);
    return;
  }
  if (reader.NextIsContext(2)) {
    uint32_t value = 0;
    if (reader.ContextUnsigned(2, &value)) index = value;
  }
  if (!reader.ok()) {
    EncodeReject(answer, apdu.invokeId, kRejectInvalidTag);
    return;
  }
  if (!reader.AtEnd()) {
    EncodeReject(answer, apdu.invokeId, kRejectTooManyArguments);
    return;
  }
  const int object = Find(id);
  if (object == -2) {
    EncodeError(answer, apdu.invokeId, kReadProperty, kClassObject, kErrorUnknownObject);
    return;
  }
  if (property == kAll || property == kRequired || property == kOptional) {
    // Only ReadPropertyMultiple takes these.
    EncodeError(answer, apdu.invokeId, kReadProperty, kClassProperty, kErrorUnknownProperty);
    return;
  }
  std::vector<uint8_t> value;
  Writer writer(&value);
  Result result = EncodeProperty(object, property, index, writer);
  if (!result.ok) {
    EncodeError(answer, apdu.invokeId, kReadProperty, result.errorClass, result.errorCode);
    return;
  }
  EncodeComplexAckHeader(answer, apdu.invokeId, kReadProperty);
  Writer out(answer);
  out.ContextObjectIdentifier(0, object < 0 ? deviceId_ : objects_[static_cast<size_t>(object)].id);
  out.ContextEnumerated(1, property);
  if (index) out.ContextUnsigned(2, *index);
  out.Opening(3);
  answer->insert(answer->end(), value.begin(), value.end());
  out.Closing(3);
}

void Device::ReadPropertyMultiple(const Apdu &apdu, Reader &reader, std::vector<uint8_t> *answer) {
  std::vector<uint8_t> results;
  Writer out(&results);
  int objectsRead = 0;
  // The answer can never be longer than a datagram: stop building it there.
  while (!reader.AtEnd() && results.size() <= kMaxApdu) {
    ObjectId id;
    if (!reader.ContextObjectId(0, &id) || !reader.ReadOpening(1)) break;
    const int object = Find(id);
    out.ContextObjectIdentifier(0, object == -1 ? deviceId_ : id);
    out.Opening(1);
    int references = 0;
    while (reader.ok() && !reader.NextIsClosing(1)) {
      uint32_t property = 0;
      std::optional<uint32_t> index;
      if (!reader.ContextUnsigned(0, &property)) break;
      if (reader.NextIsContext(1)) {
        uint32_t value = 0;
        if (reader.ContextUnsigned(1, &value)) index = value;
      }
      ++references;
      std::vector<uint32_t> properties;
      if (object != -2 && (property == kAll || property == kRequired || property == kOptional)) {
        properties = PropertiesOf(object, property == kAll ? 0 : property == kRequired ? 1 : 2);
        if (index) properties.clear();
      } else {
        properties = {property};
      }
      for (uint32_t one : properties) {
        if (results.size() > kMaxApdu) break;
        out.ContextEnumerated(2, one);
        if (index) out.ContextUnsigned(3, *index);
        std::vector<uint8_t> value;
        Writer valueWriter(&value);
        Result result = object == -2 ? Result{false, kClassObject, kErrorUnknownObject}
                                     : EncodeProperty(object, one, index, valueWriter);
        if (result.ok) {
          out.Opening(4);
          results.insert(results.end(), value.begin(), value.end());
          out.Closing(4);
        } else {
          out.Opening(5);
          out.Enumerated(result.errorClass);
          out.Enumerated(result.errorCode);
          out.Closing(5);
        }
      }
    }
    if (!reader.ok() || !reader.ReadClosing(1) || references == 0) break;
    out.Closing(1);
    ++objectsRead;
  }
  if (!reader.ok() || objectsRead == 0 || (!reader.AtEnd() && results.size() <= kMaxApdu)) {
    EncodeReject(answer, apdu.invokeId, reader.ok() ? kRejectMissingRequiredParameter : kRejectInvalidTag);
    return;
  }
  EncodeComplexAckHeader(answer, apdu.invokeId, kReadPropertyMultiple);
  answer->insert(answer->end(), results.begin(), results.end());
}

bool Device::WriteProperty(const Apdu &apdu, Reader &reader, const Peer &from, const Npdu &npdu,
                           std::vector<uint8_t> *answer) {
  ObjectId id;
  uint32_t property = 0;
  std::optional<uint32_t> index;
  AnyValue value;
  uint32_t priority = 16;
  bool valueRead = false;
  if (reader.ContextObjectId(0, &id) && reader.ContextUnsigned(1, &property)) {
    if (reader.NextIsContext(2)) {
      uint32_t number = 0;
      if (reader.ContextUnsigned(2, &number)) index = number;
    }
    if (reader.ReadOpening(3)) {
      valueRead = ReadAnyValue(reader, &value);
      if (!valueRead && reader.ok()) {
        // A value of a kind no property here takes: skip it to the closing tag.
        while (reader.ok() && !reader.NextIsClosing(3)) reader.SkipValue();
      }
      reader.ReadClosing(3);
    }
    if (reader.ok() && reader.NextIsContext(4)) reader.ContextUnsigned(4, &priority);
  }
  if (!reader.ok()) {
    EncodeReject(answer, apdu.invokeId, reader.AtEnd() ? kRejectMissingRequiredParameter : kRejectInvalidTag);
    return false;
  }
  if (!reader.AtEnd()) {
    EncodeReject(answer, apdu.invokeId, kRejectTooManyArguments);
    return false;
  }
  if (priority < 1 || priority > 16) {
    EncodeReject(answer, apdu.invokeId, kRejectParameterOutOfRange);
    return false;
  }
  auto error = [&](uint32_t errorClass, uint32_t errorCode) {
    EncodeError(answer, apdu.invokeId, kWriteProperty, errorClass, errorCode);
    return false;
  };
  const int found = Find(id);
  if (found == -2) return error(kClassObject, kErrorUnknownObject);
  const std::vector<uint32_t> known = PropertiesOf(found, 0);
  if (std::find(known.begin(), known.end(), property) == known.end()) {
    return error(kClassProperty, kErrorUnknownProperty);
  }
  if (found < 0 || property != kPresentValue || !objects_[static_cast<size_t>(found)].commandable) {
    return error(kClassProperty, kErrorWriteAccessDenied);
  }
  if (index) return error(kClassProperty, kErrorPropertyIsNotAnArray);
  Object &object = objects_[static_cast<size_t>(found)];
  const GateReading &gate = gates_[object.gate];
  std::optional<double> number;
  if (!valueRead) return error(kClassProperty, kErrorInvalidDataType);
  if (value.tag != kTagNull) {
    if (IsBinary(object.id.type)) {
      if (value.tag != kTagEnumerated) return error(kClassProperty, kErrorInvalidDataType);
      if (value.unsignedValue > 1) return error(kClassProperty, kErrorValueOutOfRange);
      number = value.unsignedValue;
    } else if (value.tag == kTagReal || value.tag == kTagDouble) {
      number = value.real;
    } else if (value.tag == kTagUnsigned) {
      number = value.unsignedValue;
    } else if (value.tag == kTagSigned) {
      number = value.signedValue;
    } else {
      return error(kClassProperty, kErrorInvalidDataType);
    }
  }

  if (number) {
    std::string candidate, why;
    if (!WriteText(*number, gate.type, &candidate) || (sink_ != nullptr && !sink_->Check(object.gate, candidate, &why))) {
      return error(kClassProperty, kErrorValueOutOfRange);
    }
  }

  // The command goes into its slot; the point is written only when the
  // slot's value is the one in command.
  const size_t slot = priority - 1;
  const std::optional<double> previous = object.priority[slot];
  bool wasActive = false;
  bool anyBefore = false;
  const double before = CommandedValue(object, &anyBefore);
  for (size_t k = 0; k < slot; ++k) wasActive = wasActive || object.priority[k].has_value();
  const bool higherHolds = wasActive;
  object.priority[slot] = number;
  if (higherHolds) {
    EncodeSimpleAck(answer, apdu.invokeId, kWriteProperty);
    return false;
  }
  bool anyAfter = false;
  const double after = CommandedValue(object, &anyAfter);
  std::string text;
  if (anyAfter) {
    if (!WriteText(after, gate.type, &text)) {
      object.priority[slot] = previous;
      return error(kClassProperty, kErrorValueOutOfRange);
    }
  } else if (gate.kind == n2host::PointKind::kOverride) {
    text = "";  // the last command relinquished: the override is released
  } else if (object.relinquishDefault && anyBefore) {
    if (!WriteText(after, gate.type, &text)) {
      object.priority[slot] = previous;
      return error(kClassProperty, kErrorValueOutOfRange);
    }
  } else {
    // Nothing to carry to the point: it keeps the last value commanded.
    EncodeSimpleAck(answer, apdu.invokeId, kWriteProperty);
    return false;
  }
  (void)before;
  std::string reason;
  const uint64_t ticket = nextTicket_++;
  if (sink_ == nullptr || !sink_->Submit(object.gate, text, ticket, &reason)) {
    object.priority[slot] = previous;
    if (reason.find("full") != std::string::npos) return error(kClassDevice, kErrorDeviceBusy);
    return error(kClassProperty, kErrorValueOutOfRange);
  }
  PendingWrite pending;
  pending.peer = from;
  pending.requestNpdu = npdu;
  pending.invokeId = apdu.invokeId;
  pending.object = static_cast<size_t>(found);
  pending.priority = static_cast<int>(priority);
  pending.previous = previous;
  pending_[ticket] = std::move(pending);
  return true;
}

void Device::WriteDone(uint64_t ticket, WriteEnd end, const std::string &text, std::vector<Outgoing> *out) {
  (void)text;
  auto found = pending_.find(ticket);
  if (found == pending_.end()) return;
  const PendingWrite pending = std::move(found->second);
  pending_.erase(found);
  std::vector<uint8_t> answer;
  if (end == WriteEnd::kDone) {
    EncodeSimpleAck(&answer, pending.invokeId, kWriteProperty);
  } else {
    // The command did not reach the point: it does not stay in its slot.
    objects_[pending.object].priority[static_cast<size_t>(pending.priority - 1)] = pending.previous;
    if (end == WriteEnd::kNoReply) {
      EncodeError(&answer, pending.invokeId, kWriteProperty, kClassCommunication, kErrorTimeout);
    } else {
      EncodeError(&answer, pending.invokeId, kWriteProperty, kClassDevice, kErrorOperationalProblem);
    }
    ++counters_.errors;
  }
  out->push_back(Reply(pending.peer, pending.requestNpdu, answer));
}

void Device::SubscribeCov(const Apdu &apdu, Reader &reader, const Peer &from, SteadyTime now,
                          std::vector<uint8_t> *answer, std::optional<size_t> *notifyNow) {
  uint32_t processId = 0;
  ObjectId id;
  std::optional<bool> confirmed;
  std::optional<uint32_t> lifetime;
  if (reader.ContextUnsigned(0, &processId) && reader.ContextObjectId(1, &id)) {
    if (reader.NextIsContext(2)) {
      Tag tag;
      reader.ReadTag(&tag);
      confirmed = reader.Unsigned(tag.length) != 0;
    }
    if (reader.ok() && reader.NextIsContext(3)) {
      uint32_t seconds = 0;
      if (reader.ContextUnsigned(3, &seconds)) lifetime = seconds;
    }
  }
  if (!reader.ok()) {
    EncodeReject(answer, apdu.invokeId, reader.AtEnd() ? kRejectMissingRequiredParameter : kRejectInvalidTag);
    return;
  }
  if (!reader.AtEnd()) {
    EncodeReject(answer, apdu.invokeId, kRejectTooManyArguments);
    return;
  }
  const int found = Find(id);
  if (found == -2) {
    EncodeError(answer, apdu.invokeId, kSubscribeCov, kClassObject, kErrorUnknownObject);
    return;
  }
  if (found == -1) {
    EncodeError(answer, apdu.invokeId, kSubscribeCov, kClassObject, kErrorOptionalFunctionalityNotSupported);
    return;
  }
  auto same = std::find_if(subscriptions_.begin(), subscriptions_.end(), [&](const Subscription &s) {
    return s.peer == from && s.processId == processId && s.object == objects_[static_cast<size_t>(found)].id;
  });
  if (!confirmed && !lifetime) {
    // A cancellation; one that finds nothing is answered alike.
    if (same != subscriptions_.end()) subscriptions_.erase(same);
    EncodeSimpleAck(answer, apdu.invokeId, kSubscribeCov);
    return;
  }
  if (!confirmed) {
    EncodeReject(answer, apdu.invokeId, kRejectMissingRequiredParameter);
    return;
  }
  if (same == subscriptions_.end()) {
    if (subscriptions_.size() >= static_cast<size_t>(config_.maxSubscriptions)) {
      EncodeError(answer, apdu.invokeId, kSubscribeCov, kClassResources, kErrorNoSpaceToAddListElement);
      return;
    }
    subscriptions_.push_back({});
    same = subscriptions_.end() - 1;
  }
  same->peer = from;
  same->processId = processId;
  same->object = objects_[static_cast<size_t>(found)].id;
  same->confirmed = *confirmed;
  same->expires.reset();
  if (lifetime && *lifetime > 0) same->expires = now + std::chrono::seconds(*lifetime);
  EncodeSimpleAck(answer, apdu.invokeId, kSubscribeCov);
  *notifyNow = static_cast<size_t>(found);
}

void Device::Notify(Subscription &subscription, SteadyTime now, std::vector<Outgoing> *out) {
  const Object &object = objects_[byId_.at(subscription.object)];
  Outgoing note;
  note.to = subscription.peer;
  NpduTo(subscription.peer, subscription.confirmed, &note.npdu);
  if (subscription.confirmed) {
    EncodeConfirmedHeader(&note.npdu, nextInvoke_++, kConfirmedCovNotification);
  } else {
    EncodeUnconfirmedHeader(&note.npdu, kUnconfirmedCovNotification);
  }
  Writer writer(&note.npdu);
  writer.ContextUnsigned(0, subscription.processId);
  writer.ContextObjectIdentifier(1, deviceId_);
  writer.ContextObjectIdentifier(2, object.id);
  uint32_t remaining = 0;
  if (subscription.expires) {
    remaining = static_cast<uint32_t>(
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(*subscription.expires - now).count()));
  }
  writer.ContextUnsigned(3, remaining);
  writer.Opening(4);
  writer.ContextEnumerated(0, kPresentValue);
  writer.Opening(2);
  EncodePresentValue(object, writer);
  writer.Closing(2);
  writer.ContextEnumerated(0, kStatusFlags);
  writer.Opening(2);
  writer.BitString({false, Fault(object), false, false});
  writer.Closing(2);
  writer.Closing(4);
  subscription.lastValue = gates_[object.gate].value;
  subscription.lastFault = Fault(object);
  ++counters_.notifications;
  out->push_back(std::move(note));
}

void Device::UpdateGate(size_t gate, const GateReading &reading, SteadyTime now, std::vector<Outgoing> *out) {
  if (gate >= gates_.size()) return;
  gates_[gate] = reading;
  Expire(now);
  for (size_t index : objectsOfGate_[gate]) {
    const Object &object = objects_[index];
    for (Subscription &subscription : subscriptions_) {
      if (!(subscription.object == object.id)) continue;
      const bool fault = Fault(object);
      const double value = reading.value;
      bool changed = fault != subscription.lastFault;
      if (IsBinary(object.id.type)) {
        changed = changed || (value != 0) != (subscription.lastValue != 0);
      } else {
        changed = changed || fabs(value - subscription.lastValue) >= std::max<double>(object.covIncrement, 1e-30);
      }
      if (changed) Notify(subscription, now, out);
    }
  }
}

void Device::Expire(SteadyTime now) {
  subscriptions_.erase(std::remove_if(subscriptions_.begin(), subscriptions_.end(),
                                      [now](const Subscription &s) { return s.expires && *s.expires <= now; }),
                       subscriptions_.end());
}

}  // namespace bacnet
