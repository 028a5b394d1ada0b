// A gate list as zamgate and zamhost read it from a file, metadata columns
// included, and what the gateway makes of each gate it takes: the Home
// Assistant discovery configs, the /metrics text and the status page.
//
// Input: the file's text.
// The checks: nothing throws; a refusal names its line; every gate taken has
// a GAS without blanks, limits that are finite with min <= max, a positive
// step, decimals 0..9; its discovery configs dump as JSON that parses back;
// the metrics text holds one value series per gate at most and no raw
// newline inside a label; the page holds no unescaped "<script".
#include <cmath>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "host/common/gate_list.h"
#include "zamgate/core/gate_metrics.h"
#include "zamgate/mqtt/ha_discovery.h"
#include "zamgate/core/payloads.h"
#include "zamgate/http/status_page.h"

extern const char *const kFuzzSeeds[] = {
    "name,gas,type\nRoom,001AI01AI,real\n",
    "name,gas,type,unit,description,decimals,min,max,step,kind,poll\nRoom,001AI01AI,real,\xc2\xb0" "C,\"a, b\",1,5,30,0.5,"
    "temperature,fast\n",
    "name;gas;unit;min\nRoom;001AI01AI;%;1e308\n",
    "name,gas,kind,max\n\"<script>\",001GCDCO3,occupancy,nan\n",
    "Room,001AI01AI,real,extra\n",
    nullptr};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4096) return 0;
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<n2host::GateSpec> specs;
  std::string error;
  if (!n2host::ParseGateList(text, "f.csv", &specs, &error)) {
    FUZZ_CHECK(error.rfind("f.csv:", 0) == 0, "a refusal without its line: %s", error.c_str());
    return 0;
  }
  std::vector<zamgate::GateState> gates;
  std::vector<std::string> topics;
  for (size_t i = 0; i < specs.size(); ++i) {
    const n2host::GateMeta &meta = specs[i].meta;
    FUZZ_CHECK(!specs[i].gas.empty() && specs[i].gas.find_first_of(" \t") == std::string::npos, "a GAS with blanks");
    if (meta.min) FUZZ_CHECK(std::isfinite(*meta.min), "min not finite");
    if (meta.max) FUZZ_CHECK(std::isfinite(*meta.max), "max not finite");
    if (meta.min && meta.max) FUZZ_CHECK(*meta.min <= *meta.max, "min above max");
    if (meta.step) FUZZ_CHECK(*meta.step > 0, "a step not above 0");
    if (meta.decimals) FUZZ_CHECK(*meta.decimals >= 0 && *meta.decimals <= 9, "decimals out of range");
    zamgate::GateState gate;
    gate.name = specs[i].name;
    gate.gas = specs[i].gas;
    gate.station = static_cast<int32_t>(i % 3);
    gate.typeName = i % 2 ? "real" : "digital";
    gate.meaning.kind = i % 2 ? n2host::PointKind::kPlain : n2host::PointKind::kDigital;
    gate.writable = i % 4 < 2;
    gate.meta = meta;
    gate.hasValue = i % 3 != 0;
    gate.value.type = i % 2 ? kGateReal : kGateDigital;
    gate.value.real = 21.5;
    gate.value.integer = 1;
    gate.quality = i % 3 == 0 ? zamgate::Quality::kFailed : zamgate::Quality::kGood;
    gates.push_back(gate);
    topics.push_back("n2/bus1/" + gate.name);
  }
  zamgate::HomeAssistantConfig config;
  config.discovery = true;
  for (const zamgate::DiscoveryMessage &message :
       zamgate::DiscoveryMessages(config, "bus1", "n2/bus1/status", gates, topics)) {
    const std::string dumped = zamgate::Dump(message.payload);
    FUZZ_CHECK(!nlohmann::json::parse(dumped, nullptr, false).is_discarded(), "a config that is not JSON");
  }
  zamgate::StoreSnapshot snapshot;
  snapshot.gatewayId = "bus1";
  snapshot.gates = gates;
  const std::string metrics = zamgate::GateMetricsText(snapshot, zamgate::WallClock::now());
  size_t series = 0;
  for (size_t at = metrics.find("\nzamgate_gate_value{"); at != std::string::npos;
       at = metrics.find("\nzamgate_gate_value{", at + 1)) {
    ++series;
  }
  FUZZ_CHECK(series <= gates.size(), "%zu value series for %zu gates", series, gates.size());
  for (size_t start = 0; start < metrics.size();) {
    size_t end = metrics.find('\n', start);
    const std::string line = metrics.substr(start, end - start);
    FUZZ_CHECK(line.empty() || line[0] == '#' || line.rfind("zamgate_gate_", 0) == 0, "a broken line: %s", line.c_str());
    start = end == std::string::npos ? metrics.size() : end + 1;
  }
  zamgate::PageFilter filter;
  filter.text = text.substr(0, 20);
  const std::string page = zamgate::StatusPage(snapshot, zamgate::WallClock::now(), filter);
  FUZZ_CHECK(page.find("<script") == std::string::npos, "an unescaped script on the page");
  return 0;
}
