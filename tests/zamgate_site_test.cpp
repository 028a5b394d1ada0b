// zamgate as a site runs it: a broker that asks for a user name and password
// (wrong ones refused, right ones accepted), a broker that speaks TLS only
// with a CA and certificates the test makes with openssl and a client
// certificate it requires, and three gateways on three simulated buses
// against one broker.
#include <gtest/gtest.h>

#include "tests/zamgate_test_helpers.h"

namespace {

using namespace zamgate_test;

const std::string kGates = "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\n";

int Shell(const std::string &command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

TEST(ZamgateSite, WrongCredentialsAreRefusedRightOnesAccepted) {
  TempFolder keys;
  ASSERT_EQ(Shell("mosquitto_passwd -c -b " + keys.File("passwd") + " gate s3cret"), 0);
  Broker broker("allow_anonymous false\npassword_file " + keys.File("passwd") + "\n");
  Simulator sim({"--static", "--set", "value 1 PM01 LSP 19.5"});
  ASSERT_FALSE(sim.port().empty());
  Subscriber watcher(broker.port(), "test/#", {"gate", "s3cret", ""});
  ASSERT_TRUE(watcher.subscribed());

  Gateway refused(GatewayConfigText("bus1", sim, broker.port(), kGates, "username = \"gate\"\npassword = \"wrong\"\n"));
  EXPECT_TRUE(WaitUntil([&] { return Contains(refused.Log(), "the MQTT broker refused the connection"); }, 10000))
      << refused.Log();
  EXPECT_EQ(refused.Stop(), 0);
  EXPECT_TRUE(watcher.Messages().empty());

  WriteFile(keys.File("password"), "s3cret\n");
  Gateway accepted(GatewayConfigText("bus1", sim, broker.port(), kGates,
                                     "username = \"gate\"\npassword_file = \"" + keys.File("password") + "\"\n"));
  EXPECT_TRUE(watcher.WaitFor("test/bus1/Setpoint", [](const json &m) { return m["value"] == 19.5; }))
      << accepted.Log();
}

TEST(ZamgateSite, SpeaksTlsWithTheSitesCaAndAClientCertificate) {
  TempFolder pki;
  const std::string at = "cd " + pki.path() + " && ";
  // A CA, a server certificate for 127.0.0.1 and a client certificate, both signed by it.
  ASSERT_EQ(Shell(at + "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj /CN=zamgate-test-ca"), 0);
  ASSERT_EQ(Shell(at + "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=127.0.0.1"), 0);
  WriteFile(pki.File("san.ext"), "subjectAltName=IP:127.0.0.1\n");
  ASSERT_EQ(Shell(at + "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt "
                       "-days 2 -extfile san.ext"), 0);
  ASSERT_EQ(Shell(at + "openssl req -newkey rsa:2048 -nodes -keyout client.key -out client.csr -subj /CN=bus1"), 0);
  ASSERT_EQ(Shell(at + "openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out client.crt -days 2"), 0);

  // TLS with a required client certificate on the gateway's port; a plain
  // listener beside it for the test's subscriber.
  const int plainPort = FreePort();
  Broker broker("allow_anonymous true\ncafile " + pki.File("ca.crt") + "\ncertfile " + pki.File("server.crt") +
                "\nkeyfile " + pki.File("server.key") + "\nrequire_certificate true\nlistener " +
                std::to_string(plainPort) + " 127.0.0.1\n");
  WaitUntil([&] { return Accepts(plainPort); }, 5000);
  Simulator sim({"--static", "--set", "value 1 PM01 LSP 17.5"});
  Subscriber watcher(plainPort, "test/#");
  ASSERT_TRUE(watcher.subscribed());

  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(), kGates,
                                    "[mqtt.tls]\nca_file = \"" + pki.File("ca.crt") + "\"\ncert_file = \"" +
                                        pki.File("client.crt") + "\"\nkey_file = \"" + pki.File("client.key") + "\"\n"));
  EXPECT_TRUE(watcher.WaitFor("test/bus1/Setpoint", [](const json &m) { return m["value"] == 17.5; }))
      << gateway.Log() << broker.Log();
  EXPECT_EQ(watcher.Last("test/bus1/status")["state"], "online");
}

TEST(ZamgateSite, ThreeGatewaysOnThreeBusesShareOneBroker) {
  Broker broker;
  Subscriber watcher(broker.port(), "test/#");
  std::vector<std::unique_ptr<Simulator>> buses;
  std::vector<std::unique_ptr<Gateway>> gateways;
  for (int bus = 1; bus <= 3; ++bus) {
    buses.push_back(std::make_unique<Simulator>(
        std::vector<std::string>{"--static", "--set", "value 1 PM01 LSP " + std::to_string(10 * bus) + ".5"}));
    ASSERT_FALSE(buses.back()->port().empty());
    gateways.push_back(std::make_unique<Gateway>(
        GatewayConfigText("bus" + std::to_string(bus), *buses.back(), broker.port(), kGates)));
  }
  for (int bus = 1; bus <= 3; ++bus) {
    const std::string base = "test/bus" + std::to_string(bus) + "/";
    const double value = 10 * bus + 0.5;
    EXPECT_TRUE(watcher.WaitFor(base + "Setpoint", [&](const json &m) { return m["value"] == value; }))
        << gateways[static_cast<size_t>(bus - 1)]->Log();
    EXPECT_EQ(watcher.Last(base + "status")["state"], "online");
  }
  // One stops: its status alone goes offline.
  EXPECT_EQ(gateways[1]->Stop(), 0);
  EXPECT_TRUE(watcher.WaitFor("test/bus2/status", [](const json &m) { return m["state"] == "offline"; }, 5000));
  EXPECT_EQ(watcher.Last("test/bus1/status")["state"], "online");
  EXPECT_EQ(watcher.Last("test/bus3/status")["state"], "online");
}

}  // namespace

namespace {

using namespace zamgate_test;

TEST(ZamgateSite, AGatewayStartedBeforeItsBrokerConnectsWhenItComes) {
  Simulator sim({"--static", "--set", "value 1 PM01 LSP 16.5"});
  const int port = FreePort();
  Gateway gateway(GatewayConfigText("bus1", sim, port, kGates));
  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway.Log(), "cannot reach the MQTT broker"); }, 5000)) << gateway.Log();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  Broker broker("allow_anonymous true\n", port);
  Subscriber watcher(broker.port(), "test/#");
  EXPECT_TRUE(watcher.WaitFor("test/bus1/Setpoint", [](const json &m) { return m["value"] == 16.5; }, 20000))
      << gateway.Log();
}

TEST(ZamgateSite, ADeadbandHoldsBackSmallChangesOfAReal) {
  // The analog input drifts half a degree around its value: every read
  // differs a little. One gate on it without deadband, one with a wide one.
  Simulator sim;
  Broker broker;
  Subscriber watcher(broker.port(), "test/#");
  Gateway gateway(GatewayConfigText("bus1", sim, broker.port(),
                                    "[[gate]]\nname = \"Raw\"\ngas = \"001AI01AI\"\ntype = \"real\"\n"
                                    "[[gate]]\nname = \"Banded\"\ngas = \"001AI01AI\"\ntype = \"real\"\ndeadband = 5\n"));
  ASSERT_TRUE(WaitUntil([&] { return watcher.On("test/bus1/Raw").size() >= 3; }, 20000)) << gateway.Log();
  EXPECT_EQ(watcher.On("test/bus1/Banded").size(), 1u);
  for (const Message &message : watcher.On("test/bus1/Raw")) EXPECT_EQ(json::parse(message.payload)["quality"], "good");
}

TEST(ZamgateSite, WritesTheStationRefusesOrNobodyAnswersAreAnsweredSo) {
  Simulator sim({"--static"});
  Broker broker;
  Subscriber results(broker.port(), "test/bus1/+/set/result");
  Gateway gateway(GatewayConfigText(
      "bus1", sim, broker.port(),
      "[[gate]]\nname = \"Ghost\"\ngas = \"005AO020\"\ntype = \"real\"\nwritable = true\n"  // no object 20
      "[[gate]]\nname = \"Absent\"\ngas = \"030PM01LSP\"\ntype = \"real\"\nwritable = true\n"));  // nobody at 30
  ASSERT_TRUE(WaitOnline(broker.port(), "bus1")) << gateway.Log();
  results.Publish("test/bus1/Ghost/set", "1.5");
  results.Publish("test/bus1/Absent/set", "1.5");
  ASSERT_TRUE(WaitUntil([&] { return results.Messages().size() >= 2; }, 20000)) << gateway.Log();
  json ghost = results.Last("test/bus1/Ghost/set/result");
  EXPECT_EQ(ghost["outcome"], "refused by the station") << ghost;
  EXPECT_TRUE(Contains(ghost["text"].get<std::string>(), "the station refused")) << ghost;
  json absent = results.Last("test/bus1/Absent/set/result");
  EXPECT_EQ(absent["outcome"], "no reply") << absent;
}

}  // namespace
