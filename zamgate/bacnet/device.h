// The gateway as one BACnet device: the Device object and one object per
// mapped gate, the services it answers, and its COV subscriptions. No
// sockets and no threads here: the server hands each request in with its
// sender and sends what comes out; gate values come in through UpdateGate;
// writes leave through a WriteSink and come back through WriteDone. That
// keeps every answer testable byte by byte.
//
// Objects: a numeric gate is an Analog Input, or an Analog Value when it
// may be written; a digital gate a Binary Input or Binary Value. Writable
// objects are commandable (Priority_Array, Relinquish_Default). Schedule
// times, days and clock fields are numbers like any other (Units minutes or
// seconds where the meaning is a time of day), the meaning in Description.
// Present_Value is the value last read from the station; Status_Flags and
// Reliability tell when that value is not good (communication-failure while
// the station is demoted, the port is lost, or the point never answered).
#ifndef ZAMKT_ZAMGATE_BACNET_DEVICE_H
#define ZAMKT_ZAMGATE_BACNET_DEVICE_H

#include <stdint.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/common/point_meaning.h"
#include "zamgate/bacnet/bacnet_config.h"
#include "zamgate/bacnet/codec.h"

namespace bacnet {

using SteadyTime = std::chrono::steady_clock::time_point;

// Where a request came from and an answer goes: the UDP sender, and the
// BACnet network and address behind it when a router forwarded it.
struct Peer {
  uint32_t ip = 0;  // host order
  uint16_t port = 0;
  bool routed = false;
  uint16_t snet = 0;
  std::vector<uint8_t> sadr;
  bool operator==(const Peer &other) const {
    return ip == other.ip && port == other.port && routed == other.routed && snet == other.snet && sadr == other.sadr;
  }
};

// One datagram to send: the NPDU and APDU (the server adds the BVLC).
struct Outgoing {
  Peer to;
  std::vector<uint8_t> npdu;
};

// A gate's reading as the objects show it.
struct GateReading {
  bool good = false;       // read in the last poll of a healthy station
  bool hasValue = false;   // a good value was read at least once
  double value = 0;
  int type = 0;            // the gate data type
  n2host::PointKind kind = n2host::PointKind::kPlain;
  std::string gas;
};

// What the device needs of the gateway to carry out a write.
class WriteSink {
 public:
  virtual ~WriteSink() = default;
  // Queues a write of the gate (valueText empty: release an override);
  // ticket comes back to Device::WriteDone. False, with the reason, when
  // the gateway's checks refuse it: nothing reaches the line then.
  virtual bool Submit(size_t gate, const std::string &valueText, uint64_t ticket, std::string *reason) = 0;
  // The checks of a value alone, before a command is kept in its slot (a
  // command below the one in control is not written yet, but must be one
  // the point takes). False with the reason.
  virtual bool Check(size_t gate, const std::string &valueText, std::string *reason) {
    (void)gate, (void)valueText, (void)reason;
    return true;
  }
};

// How a queued write ended.
enum class WriteEnd { kDone, kRefused, kNoReply };

struct DeviceCounters {
  uint64_t requests = 0;
  uint64_t errors = 0;   // Error answers
  uint64_t rejects = 0;  // Reject answers
  uint64_t aborts = 0;
  uint64_t dropped = 0;  // malformed datagrams, not answered
  uint64_t notifications = 0;
};

class Device {
 public:
  Device(const BacnetConfig &config, std::vector<GateReading> gates);

  // A datagram's payload after the BVLC header. Appends what to send.
  void Handle(const uint8_t *npdu, size_t size, const Peer &from, SteadyTime now, std::vector<Outgoing> *out);
  // A gate's new reading; COV notifications it causes are appended.
  void UpdateGate(size_t gate, const GateReading &reading, SteadyTime now, std::vector<Outgoing> *out);
  // A queued write has ended: the answer to its request is appended.
  void WriteDone(uint64_t ticket, WriteEnd end, const std::string &text, std::vector<Outgoing> *out);
  // Drops expired subscriptions.
  void Expire(SteadyTime now);

  void SetWriteSink(WriteSink *sink) { sink_ = sink; }
  // I-Am as a broadcast announcement (sent at start).
  std::vector<uint8_t> IAmNpdu() const;
  size_t subscriptions() const { return subscriptions_.size(); }
  size_t objectCount() const { return objects_.size() + 1; }
  const DeviceCounters &counters() const { return counters_; }

 private:
  struct Object {
    ObjectId id;
    std::string name;
    size_t gate = 0;
    bool commandable = false;
    float covIncrement = 0;
    std::optional<double> relinquishDefault;
    std::array<std::optional<double>, 16> priority;
    uint32_t units = 95;  // no-units
    std::string description;
  };
  struct Subscription {
    Peer peer;
    uint32_t processId = 0;
    ObjectId object;
    bool confirmed = false;
    std::optional<SteadyTime> expires;  // none: indefinite
    double lastValue = 0;
    bool lastFault = false;
  };
  struct PendingWrite {
    Peer peer;
    Npdu requestNpdu;
    uint8_t invokeId = 0;
    size_t object = 0;
    int priority = 16;
    std::optional<double> previous;  // the slot before the write, restored when it fails
  };
  // A property's value, or an error.
  struct Result {
    bool ok = true;
    uint32_t errorClass = 0;
    uint32_t errorCode = 0;
  };

  void Confirmed(const Apdu &apdu, Reader &reader, const Peer &from, const Npdu &npdu, SteadyTime now,
                 std::vector<Outgoing> *out);
  void Unconfirmed(const Apdu &apdu, Reader &reader, const Peer &from, std::vector<Outgoing> *out);
  void ReadProperty(const Apdu &apdu, Reader &reader, std::vector<uint8_t> *apduOut);
  void ReadPropertyMultiple(const Apdu &apdu, Reader &reader, std::vector<uint8_t> *apduOut);
  // Returns true when the answer waits for the write.
  bool WriteProperty(const Apdu &apdu, Reader &reader, const Peer &from, const Npdu &npdu,
                     std::vector<uint8_t> *apduOut);
  void SubscribeCov(const Apdu &apdu, Reader &reader, const Peer &from, SteadyTime now, std::vector<uint8_t> *apduOut,
                    std::optional<size_t> *notifyNow);

  // -1: the device; the index of a gate's object; -2: no such object.
  int Find(ObjectId id) const;
  std::vector<uint32_t> PropertiesOf(int object, int which) const;  // which: 0 all, 1 required, 2 optional
  Result EncodeProperty(int object, uint32_t property, std::optional<uint32_t> index, Writer &writer) const;
  void EncodePresentValue(const Object &object, Writer &writer) const;
  bool Fault(const Object &object) const;
  double CommandedValue(const Object &object, bool *any) const;
  void Notify(Subscription &subscription, SteadyTime now, std::vector<Outgoing> *out);

  Outgoing Reply(const Peer &to, const Npdu &request, const std::vector<uint8_t> &apdu) const;

  BacnetConfig config_;
  ObjectId deviceId_;
  uint32_t databaseRevision_ = 0;
  std::vector<Object> objects_;
  std::map<ObjectId, size_t> byId_;
  std::vector<GateReading> gates_;
  std::vector<std::vector<size_t>> objectsOfGate_;
  std::vector<Subscription> subscriptions_;
  std::map<uint64_t, PendingWrite> pending_;
  uint64_t nextTicket_ = 1;
  uint8_t nextInvoke_ = 0;
  WriteSink *sink_ = nullptr;
  DeviceCounters counters_;
};

// Changes whenever the map does: the Device object's Database_Revision.
uint32_t DatabaseRevision(const BacnetConfig &config);

// The value text a write of this number is submitted as, for a gate of
// this data type; false when the number cannot be the gate's (not whole
// where the gate holds whole numbers, or outside its type's range).
bool WriteText(double value, int gateType, std::string *text);

}  // namespace bacnet

#endif  // ZAMKT_ZAMGATE_BACNET_DEVICE_H
