#include "sim/simulator.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <chrono>

#include "sim/n2open_station.h"
#include "sim/system91_station.h"
#include "sim/wire.h"

namespace n2sim {

struct Simulator::Bus {
  PlantSpec plant;
  std::map<int, std::unique_ptr<Station>> stations;
  std::map<int, FaultInjector> stationFaults;
  FaultInjector busFaults;
  // When each System 91 station's last clean acknowledgement went out.
  std::map<int, Clock::time_point> lastCleanAck;
};

namespace {

double SystemSeconds() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Control characters and bytes above 0x7E as \xHH, so that a trace line stays
// one printable line whatever the noise.
std::string Printable(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else if (c == '\r') {
      out += "\\r";
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

int HexPairValue(std::string_view text) {
  Bytes byte;
  if (text.size() != 2 || !ParseHex(text, &byte)) return -1;
  return byte[0];
}

}  // namespace

Simulator::Simulator() : bus_(new Bus), now_(SystemSeconds), random_(1) {}

Simulator::~Simulator() = default;

bool Simulator::LoadPlant(std::string_view text, std::string *error) {
  PlantSpec plant;
  if (!ParsePlant(text, &plant, error)) return false;
  return LoadPlant(plant, error);
}

bool Simulator::LoadPlant(const PlantSpec &plant, std::string *error) {
  std::unique_ptr<Bus> bus(new Bus);
  bus->plant = plant;
  bus->busFaults = FaultInjector(plant.busFaults);
  const double now = Now();
  for (const StationSpec &spec : plant.stations) {
    const bool dynamics = spec.dynamics < 0 ? plant.dynamics : spec.dynamics == 1;
    std::unique_ptr<Station> station;
    if (spec.family == Family::kN2Open) {
      station.reset(new N2OpenStation(spec.address, spec.objects, spec.initRequired, dynamics, now));
    } else {
      station.reset(new System91Station(spec.address, spec.family, dynamics, spec.clockOffsetSeconds, now));
    }
    for (const ValueSetting &value : spec.values) {
      std::string why;
      if (!station->ApplyValue(value, now, &why)) {
        *error = "line " + std::to_string(value.line) + ": " + why;
        return false;
      }
    }
    bus->stationFaults[spec.address] = FaultInjector(spec.faults);
    bus->stations[spec.address] = std::move(station);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  bus_ = std::move(bus);
  return true;
}

ExchangeRecord Simulator::Exchange(std::string_view requestLine) { return Exchange(requestLine, Clock::now()); }

ExchangeRecord Simulator::Exchange(std::string_view requestLine, Clock::time_point arrival) {
  std::lock_guard<std::mutex> lock(mutex_);
  ExchangeRecord record = ExchangeLocked(requestLine, arrival);
  CountLocked(record);
  if (observer_) observer_(record);
  return record;
}

std::string Simulator::Handle(std::string_view requestLine) { return Exchange(requestLine).delivery.Wire(); }

namespace {

// A reply the master takes as a good one and must pause after: an
// acknowledgement of a System 91 station that went out whole, without an
// injected fault. Replies to N2 Open stations carry no pause.
bool IsCleanAcknowledgement(const Station *target, const StationReply &reply, const Delivery &delivery) {
  return target != nullptr && target->family() != Family::kN2Open && !reply.refused && !delivery.silent &&
         delivery.faults == 0 && !delivery.line.empty() && delivery.line[0] == 'A';
}

}  // namespace

void Simulator::ReplySent(const ExchangeRecord &record, Clock::time_point sent) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!record.cleanAck) return;
  // A plant loaded since the exchange has no entry for the station.
  auto it = bus_->lastCleanAck.find(record.station);
  if (it != bus_->lastCleanAck.end() && it->second <= sent) it->second = sent;
}

ExchangeRecord Simulator::ExchangeLocked(std::string_view line, Clock::time_point arrival) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  ExchangeRecord record;
  record.request = std::string(line);
  StationReply reply;
  Station *target = nullptr;
  FaultSet stationFaults = 0;
  const FaultParams *stationParams = &bus_->plant.busFaults.params;
  const int station = line.size() >= 3 && line[0] == '>' ? HexPairValue(line.substr(1, 2)) : -1;
  if (station < 0) {
    // Nobody can tell whom such a line was for; the bus answers it as garbled.
    reply.line = NakReply(kNakDataField);
    reply.refused = true;
    reply.kind = "garbled";
    reply.description = line.empty() || line[0] != '>' ? "no start character" : "no station address";
  } else {
    record.station = station;
    auto it = bus_->stations.find(station);
    if (it == bus_->stations.end()) {
      record.kind = "unaddressed";
      record.description = "no station " + std::to_string(station) + " on the bus";
      record.delivery.silent = true;
      return record;
    }
    target = it->second.get();
    record.family = FamilyName(target->family());
    auto ack = bus_->lastCleanAck.find(station);
    if (ack != bus_->lastCleanAck.end()) {
      const double since = std::chrono::duration<double, std::milli>(arrival - ack->second).count();
      if (since < kStationPauseMs) record.earlyMs = since;
    }
    FaultInjector &injector = bus_->stationFaults[station];
    stationFaults = injector.Draw(random_);
    stationParams = &injector.params();
  }
  const FaultSet busFaults = bus_->busFaults.Draw(random_);
  if (target != nullptr) {
    // The faults are drawn before the station sees the request: a station
    // that restarts now never takes the request in.
    if (((stationFaults | busFaults) & FaultBit(FaultKind::kReset)) != 0) {
      target->Restart();
      reply.kind = "reset";
      reply.description = "station restarted: the request is lost";
    } else {
      reply = target->Handle(line, Now());
    }
  }
  record.kind = reply.kind;
  record.description = reply.description;
  record.delivery = Shape(reply, stationFaults, *stationParams, busFaults, bus_->busFaults.params(), random_);
  record.cleanAck = IsCleanAcknowledgement(target, reply, record.delivery);
  if (record.cleanAck) bus_->lastCleanAck[station] = arrival;
  return record;
}

void Simulator::CountLocked(const ExchangeRecord &record) {
  // The bytes on the line: the request with its CR, and what the reply puts
  // out (noise included, a cut reply only as far as it goes).
  const Delivery &delivery = record.delivery;
  counts_["request-bytes"] += record.request.size() + 1;
  counts_["reply-bytes"] +=
      delivery.silent ? 0 : delivery.noise.size() + std::min(delivery.sendBytes, delivery.line.size() + 1);
  ++counts_["requests"];
  ++counts_[record.kind];
  ++counts_[record.delivery.silent ? "silent" : "answered"];
  if (record.station >= 0) ++counts_["station-" + std::to_string(record.station)];
  if (record.earlyMs >= 0) ++counts_["early-after-ack"];
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    if (record.delivery.faults & (1u << kind)) {
      ++counts_[std::string("fault-") + FaultKindName(static_cast<FaultKind>(kind))];
    }
  }
}

void Simulator::SetTimeSource(std::function<double()> now) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = std::move(now);
}

void Simulator::SetSeed(uint32_t seed) {
  std::lock_guard<std::mutex> lock(mutex_);
  random_.seed(seed);
}

bool Simulator::SetScript(int address, const std::vector<FaultSet> &steps, bool repeats) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (bus_->stations.count(address) == 0) return false;
  bus_->stationFaults[address].SetScript(steps, repeats);
  return true;
}

void Simulator::SetObserver(std::function<void(const ExchangeRecord &)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

int Simulator::baud() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_->plant.baud;
}

PlantSpec Simulator::plant() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bus_->plant;
}

std::map<std::string, uint64_t> Simulator::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

uint64_t Simulator::Count(const std::string &key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = counts_.find(key);
  return it == counts_.end() ? 0 : it->second;
}

std::string Simulator::FormatCounts() const {
  std::map<std::string, uint64_t> counts = Counts();
  std::string text;
  for (const char *first : {"requests", "answered", "silent", "request-bytes", "reply-bytes"}) {
    text += std::string(text.empty() ? "" : " ") + first + "=" + std::to_string(counts[first]);
    counts.erase(first);
  }
  for (const auto &[key, count] : counts) text += " " + key + "=" + std::to_string(count);
  return text;
}

std::string Simulator::FormatTrace(const ExchangeRecord &record) {
  char station[40] = "bus";
  if (record.station >= 0) snprintf(station, sizeof station, "station %d", record.station);
  if (!record.family.empty()) snprintf(station + strlen(station), sizeof station - strlen(station), " %s", record.family.c_str());
  std::string text = std::string(station) + " " + record.kind + ": " + record.description + " | " +
                     Printable(record.request) + " | ";
  const Delivery &d = record.delivery;
  if (d.silent) {
    text += "(silent)";
  } else {
    text += Printable(d.Wire());
  }
  if (d.faults != 0) text += " | fault " + FaultSetName(d.faults);
  if (d.delayMs > 0) text += " delay " + std::to_string(d.delayMs) + " ms";
  if (d.dribbleMs > 0) text += " dribble " + std::to_string(d.dribbleMs) + " ms";
  if (record.earlyMs >= 0) {
    char early[64];
    snprintf(early, sizeof early, " | early %.3f ms after the station's acknowledgement", record.earlyMs);
    text += early;
  }
  return text;
}

void Simulator::WithSystem91(int address, const std::function<void(System91Station *)> &fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = bus_->stations.find(address);
  fn(it == bus_->stations.end() ? nullptr : dynamic_cast<System91Station *>(it->second.get()));
}

void Simulator::WithN2Open(int address, const std::function<void(N2OpenStation *)> &fn) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = bus_->stations.find(address);
  fn(it == bus_->stations.end() ? nullptr : dynamic_cast<N2OpenStation *>(it->second.get()));
}

double Simulator::Now() const { return now_(); }

}  // namespace n2sim
