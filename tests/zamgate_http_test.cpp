// zamgate's HTTP face against the simulator: /metrics in the Prometheus text
// format with the exchanges, failures and station states the poll saw,
// /api/state as strict JSON, nothing that writes, and the status page as a
// real headless Chromium renders it, with the plant's values and a demoted
// station.
#include <gtest/gtest.h>
#include <httplib.h>

#include <regex>

#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

const std::string kGates =
    "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\nwritable = true\n"
    "[[gate]]\nname = \"Start\"\ngas = \"001TS01START1\"\n"
    "[[gate]]\nname = \"Absent\"\ngas = \"030AI01HR\"\ntype = \"real\"\n";  // nobody at 30

// The value of one sample line "name{labels} value".
std::optional<double> Sample(const std::string &text, const std::string &nameAndLabels) {
  for (const std::string &line : LinesWith(text, nameAndLabels + " ")) {
    if (line.rfind(nameAndLabels + " ", 0) == 0) return atof(line.c_str() + nameAndLabels.size() + 1);
  }
  return std::nullopt;
}

class ZamgateHttp : public ::testing::Test {
 protected:
  ZamgateHttp() : sim_({"--static", "--set", "value 1 PM01 LSP 23.25"}) {}
  void SetUp() override {
    ASSERT_FALSE(sim_.port().empty());
    gateway_ = std::make_unique<Gateway>(GatewayConfigText("bus7", sim_, broker_.port(), kGates));
    ASSERT_GT(gateway_->httpPort(), 0) << gateway_->Log();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", gateway_->httpPort());
    client_->set_read_timeout(5, 0);
    // Station 30 demoted: two requests without reply.
    ASSERT_TRUE(WaitUntil([&] { return Contains(gateway_->Log(), "station 30 gave no reply"); }, 15000))
        << gateway_->Log();
  }
  std::string Get(const std::string &path) {
    auto response = client_->Get(path.c_str());
    if (!response || response->status != 200) return "";
    return response->body;
  }

  Broker broker_;
  Simulator sim_;
  std::unique_ptr<Gateway> gateway_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(ZamgateHttp, MetricsCountTheExchangesFailuresAndStations) {
  std::string text = Get("/metrics");
  ASSERT_FALSE(text.empty());
  const std::string gw = "gateway=\"bus7\"";
  EXPECT_GT(Sample(text, "zamgate_exchanges_total{" + gw + ",station=\"1\"}").value_or(0), 1);
  EXPECT_GE(Sample(text, "zamgate_failures_total{" + gw + ",kind=\"no_reply\",station=\"30\"}").value_or(0), 2);
  EXPECT_EQ(Sample(text, "zamgate_failures_total{" + gw + ",kind=\"no_reply\",station=\"1\"}"), 0);
  EXPECT_EQ(Sample(text, "zamgate_station_up{" + gw + ",station=\"1\"}"), 1);
  EXPECT_EQ(Sample(text, "zamgate_station_up{" + gw + ",station=\"30\"}"), 0);
  EXPECT_EQ(Sample(text, "zamgate_mqtt_connected{" + gw + "}"), 1);
  EXPECT_GT(Sample(text, "zamgate_mqtt_messages_published_total{" + gw + "}").value_or(0), 0);
  EXPECT_GT(Sample(text, "zamgate_cycle_duration_seconds_count{" + gw + "}").value_or(0), 0);
  EXPECT_TRUE(Sample(text, "zamgate_line_utilisation_ratio{" + gw + "}").has_value());
  EXPECT_TRUE(Contains(text, "zamgate_response_time_seconds_bucket{" + gw)) << text;
  // Every sample line is "name{labels} number" or "name number".
  const std::regex sample(R"([a-z_]+(\{[^}]*\})? -?[0-9.e+-]+|[a-z_]+(\{[^}]*\})? (\+Inf|NaN))");
  for (const std::string &line : LinesWith(text, "zamgate_")) {
    if (line[0] == '#') continue;
    EXPECT_TRUE(std::regex_match(line, sample)) << line;
  }
}

TEST_F(ZamgateHttp, ApiStateIsTheStoreAsJsonAndNothingWrites) {
  json state = json::parse(Get("/api/state"));
  EXPECT_EQ(state["gateway"], "bus7");
  EXPECT_EQ(state["port"], "open");
  EXPECT_EQ(state["mqtt"], "connected");
  ASSERT_EQ(state["gates"].size(), 3u);
  EXPECT_EQ(state["gates"][0]["name"], "Setpoint");
  EXPECT_EQ(state["gates"][0]["value"], 23.25);
  EXPECT_EQ(state["gates"][0]["quality"], "good");
  EXPECT_EQ(state["gates"][1]["text"], "450 (07:30)");
  EXPECT_EQ(state["gates"][2]["quality"], "failed");
  bool demoted = false;
  for (const json &station : state["stations"]) demoted = demoted || (station["station"] == 30 && station["state"] == "demoted");
  EXPECT_TRUE(demoted) << state["stations"];
  EXPECT_FALSE(state["events"].empty());

  for (const char *path : {"/", "/api/state", "/api/write", "/metrics"}) {
    auto post = client_->Post(path, "{\"gate\":\"Setpoint\",\"value\":1}", "application/json");
    ASSERT_TRUE(post) << path;
    EXPECT_GE(post->status, 400) << path;
  }
  EXPECT_EQ(CountOf(sim_.Log(), "mem-write:"), 0);
}

TEST_F(ZamgateHttp, StatusPageRendersInAHeadlessBrowser) {
  if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "no chromium";
  TempFolder profile;
  RunOptions options;
  options.timeoutMs = 90000;
  RunResult browser = RunProgram(
      "/usr/bin/chromium",
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--user-data-dir=" + profile.path(), "--dump-dom",
       "http://127.0.0.1:" + std::to_string(gateway_->httpPort()) + "/"},
      options);
  ASSERT_EQ(browser.exitCode, 0) << browser.err;
  const std::string &dom = browser.out;
  EXPECT_TRUE(Contains(dom, "zamgate bus7")) << dom;
  EXPECT_TRUE(Contains(dom, "<td>Setpoint</td><td>001PM01LSP</td><td>writable</td><td>23.25</td>"
                            "<td class=\"good\">good</td>")) << dom;
  EXPECT_TRUE(Contains(dom, "<td>Start</td><td>001TS01START1</td><td></td><td>450 (07:30)</td>")) << dom;
  EXPECT_TRUE(Contains(dom, "<td>30</td><td>DX9100</td><td class=\"demoted\">demoted</td>")) << dom;
  EXPECT_TRUE(Contains(dom, "<td>1</td><td>DX9100</td><td class=\"up\">up</td>")) << dom;
  EXPECT_TRUE(Contains(dom, "station 30 gave no reply")) << dom;
}

}  // namespace
