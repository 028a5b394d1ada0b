#include "zamgate/http/status_page.h"

#include <stdio.h>

#include <set>

#include "host/common/text_util.h"
#include "host/common/value_text.h"
#include "host/common/version.h"

namespace zamgate {
namespace {

constexpr int kReloadSeconds = 2;
constexpr size_t kMaxFilterText = 100;

constexpr const char *kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;margin-bottom:1.5em}"
    "td,th{border:1px solid #ccc;padding:.25em .6em;text-align:left}"
    "th{background:#eee}form{margin-bottom:.6em}.good,.up{color:#075}.stale,.demoted{color:#a60}.failed,.lost,.unreachable{color:#b00}";

std::string Seconds(double seconds) {
  char text[32];
  snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// "00:02:05", "3 d 04:00:10".
std::string Uptime(double seconds) {
  long total = seconds < 0 ? 0 : static_cast<long>(seconds);
  char text[48];
  if (total >= 86400) {
    snprintf(text, sizeof text, "%ld d %02ld:%02ld:%02ld", total / 86400, total / 3600 % 24, total / 60 % 60, total % 60);
  } else {
    snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  }
  return text;
}

std::string Millis(const std::optional<double> &ms) {
  if (!ms) return "-";
  char text[32];
  snprintf(text, sizeof text, "%.1f ms", *ms);
  return text;
}

std::string Cell(const std::string &text, const std::string &cls = "") {
  return cls.empty() ? "<td>" + HtmlEscape(text) + "</td>" : "<td class=\"" + cls + "\">" + HtmlEscape(text) + "</td>";
}

// A form that sets the query parameters by GET: it works without scripts.
std::string FilterForm(const StoreSnapshot &snapshot, const PageFilter &filter) {
  std::string form = "<form id=\"filter\" method=\"get\" action=\"/\"><label>station <select name=\"station\">"
                     "<option value=\"\">all</option>";
  std::set<int32_t> stations;
  for (const GateState &gate : snapshot.gates) stations.insert(gate.station);
  for (int32_t station : stations) {
    std::string number = std::to_string(station);
    form += "<option value=\"" + number + "\"" + (filter.station == number ? " selected" : "") + ">" + number + "</option>";
  }
  form += "</select></label> <label>text <input type=\"search\" name=\"q\" maxlength=\"" +
          std::to_string(kMaxFilterText) + "\" value=\"" + HtmlEscape(filter.text) +
          "\"></label> <button type=\"submit\">filter</button></form>";
  return form;
}

}  // namespace

std::string StatusPage(const StoreSnapshot &snapshot, WallClock::time_point now, const PageFilter &filter) {
  std::string page = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"" +
                     std::to_string(kReloadSeconds) + "\"><title>zamgate " + HtmlEscape(snapshot.gatewayId) +
                     "</title><style>" + kStyle + "</style></head><body>";
  page += "<h1>zamgate " + HtmlEscape(snapshot.gatewayId) + "</h1>";
  // The port: open, or lost with its reason and the reopens tried so far.
  std::string port = snapshot.portOpen ? "open"
                                       : "lost: " + snapshot.portText + " (" + std::to_string(snapshot.portRetries) +
                                             (snapshot.portRetries == 1 ? " reopen tried)" : " reopens tried)");
  std::string mqtt = (snapshot.mqttConnected ? "connected to " : "disconnected from ") + snapshot.mqttBroker;
  if (!snapshot.mqttConnected && !snapshot.mqttReason.empty()) mqtt += " (" + snapshot.mqttReason + ")";
  std::string cycle = "-";
  if (snapshot.cycleSeconds >= 0) {
    char text[96];
    snprintf(text, sizeof text, "%.0f ms of %d ms, line busy %.0f %%", snapshot.cycleSeconds * 1000,
             snapshot.intervalMs, 100 * snapshot.lineShare);
    cycle = text;
  }
  page += "<p id=\"summary\">port <span id=\"port\" class=\"" + std::string(snapshot.portOpen ? "up" : "lost") + "\">" +
          HtmlEscape(port) + "</span> &middot; MQTT <span id=\"mqtt\" class=\"" +
          std::string(snapshot.mqttConnected ? "up" : "lost") + "\">" + HtmlEscape(mqtt) +
          "</span> &middot; cycle <span id=\"cycle\">" + HtmlEscape(cycle) + "</span> &middot; " +
          HtmlEscape(IsoTime(now)) + "</p>";
  page += "<p id=\"version\">" + HtmlEscape(n2host::VersionText()) + " &middot; up " +
          HtmlEscape(Uptime(std::chrono::duration<double>(now - snapshot.startedAt).count())) + "</p>";

  page += "<h2>Stations</h2><table id=\"stations\"><tr><th>station</th><th>family</th><th>state</th><th>good</th>"
          "<th>median</th><th>p95</th><th>last reply</th></tr>";
  for (const StationState &station : snapshot.stations) {
    std::string share = "-";
    if (station.goodShare) {
      char text[16];
      snprintf(text, sizeof text, "%.1f %%", 100.0 * *station.goodShare);
      share = text;
    }
    // While the port is lost no station can be reached, whatever its health.
    std::string state = !snapshot.portOpen ? "unreachable" : station.demoted ? "demoted" : "up";
    page += "<tr>" + Cell(std::to_string(station.station)) + Cell(station.family) + Cell(state, state) + Cell(share) +
            Cell(Millis(station.medianMs)) + Cell(Millis(station.p95Ms)) +
            Cell(station.lastReply.empty() ? "never" : station.lastReply) + "</tr>";
  }
  page += "</table>";

  page += "<h2>Gates</h2>" + FilterForm(snapshot, filter);
  page += "<table id=\"gates\"><tr><th>gate</th><th>GAS</th><th>writable</th><th>value</th>"
          "<th>quality</th><th>age</th><th>description</th></tr>";
  const std::string wanted = n2host::Lower(filter.text);
  size_t shown = 0;
  for (const GateState &gate : snapshot.gates) {
    if (!filter.station.empty() && std::to_string(gate.station) != filter.station) continue;
    if (!wanted.empty() && n2host::Lower(gate.name + "\n" + gate.gas + "\n" + gate.meta.unit + "\n" + gate.meta.description)
                                   .find(wanted) == std::string::npos) {
      continue;
    }
    ++shown;
    std::string value = gate.hasValue ? n2host::ValueText(gate.meaning, gate.value) : "-";
    if (gate.hasValue && !gate.meta.unit.empty()) value += " " + gate.meta.unit;
    std::string age = gate.hasValue ? Seconds(std::chrono::duration<double>(now - gate.goodAt).count()) : "-";
    std::string quality = QualityName(gate.quality);
    page += "<tr>" + Cell(gate.name) + Cell(gate.gas) + Cell(gate.writable ? "writable" : "") + Cell(value) +
            Cell(quality, quality) + Cell(age) + Cell(gate.meta.description) + "</tr>";
  }
  page += "</table><p id=\"shown\">" + std::to_string(shown) + " of " + std::to_string(snapshot.gates.size()) +
          " gates shown</p>";

  page += "<h2>Events</h2><table id=\"events\"><tr><th>time</th><th>event</th></tr>";
  for (auto event = snapshot.events.rbegin(); event != snapshot.events.rend(); ++event) {
    page += "<tr>" + Cell(IsoTime(event->time)) + Cell(event->text) + "</tr>";
  }
  page += "</table></body></html>\n";
  return page;
}

}  // namespace zamgate
