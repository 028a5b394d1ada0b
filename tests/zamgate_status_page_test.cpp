// The status page's summary and tables from a store snapshot: the port line
// with its reason and live reopen count (never "lost lost"), the broker's
// address and the reason it is not connected, stations unreachable while the
// port is lost, the cycle against the interval and the line's share, version
// and uptime, the writable marker and each station's family; every text
// from outside escaped.
#include <gtest/gtest.h>

#include "host/common/version.h"
#include "tests/zamhost_test_helpers.h"
#include "zamgate/http/status_page.h"

namespace {

using zamgate::GateState;
using zamgate::StationState;
using zamgate::StoreSnapshot;
using zamgate::WallClock;
using zamhost_test::Contains;

StoreSnapshot Plant() {
  StoreSnapshot snapshot;
  snapshot.gatewayId = "bus1";
  snapshot.mqttConnected = true;
  snapshot.mqttBroker = "broker.example:1883";
  snapshot.cycleSeconds = 0.180;
  snapshot.lineShare = 0.42;
  snapshot.intervalMs = 1000;
  snapshot.startedAt = WallClock::now() - std::chrono::seconds(125);
  GateState setpoint;
  setpoint.name = "Setpoint";
  setpoint.gas = "001PM01LSP";
  setpoint.writable = true;
  GateState input;
  input.name = "Input";
  input.gas = "001AI01AI";
  snapshot.gates = {setpoint, input};
  StationState station;
  station.station = 1;
  station.family = "DX9100";
  snapshot.stations = {station};
  return snapshot;
}

TEST(ZamgateStatusPage, TheSummaryAndTablesSayWhatAnOperatorNeeds) {
  struct Case {
    const char *what;
    std::function<void(StoreSnapshot *)> change;
    std::vector<std::string> shown;
    std::vector<std::string> notShown;
  } cases[] = {
      {"all well",
       [](StoreSnapshot *) {},
       {"port <span id=\"port\" class=\"up\">open</span>", "connected to broker.example:1883",
        "<span id=\"cycle\">180 ms of 1000 ms, line busy 42 %</span>", "up 00:02:05", n2host::VersionText(),
        "<td>Setpoint</td><td>001PM01LSP</td><td>writable</td>", "<td>Input</td><td>001AI01AI</td><td></td>",
        "<td>1</td><td>DX9100</td><td class=\"up\">up</td>"},
       {"class=\"unreachable\">"}},
      {"port lost",
       [](StoreSnapshot *s) {
         s->portOpen = false;
         s->portText = "/dev/ttyUSB0 is gone (its device node vanished)";
         s->portRetries = 3;
       },
       {"lost: /dev/ttyUSB0 is gone (its device node vanished) (3 reopens tried)",
        "<td class=\"unreachable\">unreachable</td>"},
       {"lost lost", "lost: lost", "class=\"up\">up</td>"}},
      {"broker away",
       [](StoreSnapshot *s) {
         s->mqttConnected = false;
         s->mqttReason = "Connection refused, reconnecting <now>";
       },
       {"disconnected from broker.example:1883 (Connection refused, reconnecting &lt;now&gt;)"},
       {"<now>"}},
      {"before the first cycle", [](StoreSnapshot *s) { s->cycleSeconds = -1; }, {"<span id=\"cycle\">-</span>"}, {}},
  };
  for (const Case &c : cases) {
    StoreSnapshot snapshot = Plant();
    c.change(&snapshot);
    const std::string page = zamgate::StatusPage(snapshot, WallClock::now());
    for (const std::string &text : c.shown) EXPECT_TRUE(Contains(page, text)) << c.what << ": " << text << "\n" << page;
    for (const std::string &text : c.notShown) EXPECT_FALSE(Contains(page, text)) << c.what << ": " << text;
  }
}

}  // namespace
