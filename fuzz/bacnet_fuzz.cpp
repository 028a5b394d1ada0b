// zamgate's BACnet/IP decoder and device as a hostile datagram meets them:
// the input is one UDP payload, taken through the BVLC and handed to a
// device of a few objects of each kind, as the server does; then the
// write it may have queued is ended, refused or not, and a gate reading
// arrives for its subscriptions.
//
// The checks: every datagram the device sends decodes as an NPDU with an
// APDU, is at most 1476 octets, and there are at most two per request (an
// answer and a first COV notification); a write is queued only for a
// commandable object's gate, with a value text its type takes.
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "driver/requests.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "zamgate/bacnet/codec.h"
#include "zamgate/bacnet/device.h"

namespace {

using namespace bacnet;

class Sink : public WriteSink {
 public:
  bool Submit(size_t gate, const std::string &valueText, uint64_t ticket, std::string *reason) override {
    FUZZ_CHECK(gate == 1 || gate == 2 || gate == 4, "a write queued for gate %zu, which is not writable", gate);
    FUZZ_CHECK(valueText.size() < 32, "value text '%s'", valueText.c_str());
    if (refuse) {
      *reason = "refused";
      return false;
    }
    tickets.push_back(ticket);
    return true;
  }
  bool refuse = false;
  std::vector<uint64_t> tickets;
};

BacnetConfig Config() {
  BacnetConfig config;
  config.enabled = true;
  config.deviceInstance = 77;
  config.deviceName = "dev";
  config.maxSubscriptions = 4;
  config.map = {{0, kAnalogInput, 1, "Room", 0.5f, {}, ""},
                {1, kAnalogValue, 2, "Setpoint", 0, 20.0, ""},
                {2, kBinaryValue, 3, "Fan", 0, {}, ""},
                {3, kBinaryInput, 4, "Alarm", 0, {}, ""},
                {4, kAnalogValue, 5, "Count", 0, {}, ""}};
  return config;
}

std::vector<GateReading> Gates() {
  return {{true, true, 21.5, kGateReal, n2host::PointKind::kPlain, "001AI01AI"},
          {true, true, 19.5, kGateReal, n2host::PointKind::kPlain, "001PM01LSP"},
          {false, true, 1, kGateDigital, n2host::PointKind::kDigital, "005BO001"},
          {false, false, 0, kGateDigital, n2host::PointKind::kDigital, "005BI001"},
          {true, true, 7, kGateInt16, n2host::PointKind::kOverride, "005AD001"}};
}

void CheckSent(const std::vector<Outgoing> &out, size_t most) {
  FUZZ_CHECK(out.size() <= most, "%zu datagrams for one request", out.size());
  for (const Outgoing &one : out) {
    Npdu npdu;
    FUZZ_CHECK(DecodeNpdu(one.npdu.data(), one.npdu.size(), &npdu), "an NPDU that does not decode");
    Apdu apdu;
    FUZZ_CHECK(DecodeApdu(one.npdu.data() + npdu.apdu, one.npdu.size() - npdu.apdu, &apdu),
               "an APDU that does not decode");
    FUZZ_CHECK(one.npdu.size() - npdu.apdu <= kMaxApdu, "an APDU of %zu octets", one.npdu.size() - npdu.apdu);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const BacnetConfig config = Config();
  if (size < 1) return 0;
  Sink sink;
  sink.refuse = data[0] & 1;
  Device device(config, Gates());
  device.SetWriteSink(&sink);
  const SteadyTime now = std::chrono::steady_clock::now();
  Peer peer{0x7F000001, 47808, false, 0, {}};
  std::vector<Outgoing> out;

  Bvlc bvlc;
  if (DecodeBvlc(data + 1, size - 1, &bvlc)) {
    FUZZ_CHECK(bvlc.payload <= size - 1, "payload at %zu of %zu", bvlc.payload, size - 1);
    device.Handle(data + 1 + bvlc.payload, size - 1 - bvlc.payload, peer, now, &out);
  } else {
    // The device takes the bytes as an NPDU too, as if the BVLC had been good.
    device.Handle(data + 1, size - 1, peer, now, &out);
  }
  CheckSent(out, 2);
  out.clear();
  for (uint64_t ticket : sink.tickets) device.WriteDone(ticket, (data[0] & 2) ? WriteEnd::kDone : WriteEnd::kRefused, "", &out);
  CheckSent(out, sink.tickets.size());
  out.clear();
  device.UpdateGate(0, {true, true, 30, kGateReal, n2host::PointKind::kPlain, "001AI01AI"}, now, &out);
  device.Expire(now + std::chrono::hours(1000));
  FUZZ_CHECK(device.subscriptions() <= 4, "%zu subscriptions", device.subscriptions());
  return 0;
}
