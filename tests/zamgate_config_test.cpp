// zamgate's configuration refused where it is wrong, with file, line and
// reason; --check-config through the driver without port or broker; set
// payloads; and the shared write queue's checks and bounds on gates the
// driver parsed.
#include <gtest/gtest.h>

#include "host/common/channel.h"
#include "host/common/driver_library.h"
#include "host/common/driver_log.h"
#include "host/common/gate_resolver.h"
#include "tests/zamgate_test_helpers.h"
#include "zamgate/core/config.h"
#include "zamgate/core/payloads.h"
#include "zamgate/core/write_queue.h"

namespace {

using namespace zamgate_test;

const std::string kGood =
    "[gateway]\n"
    "id = \"bus1\"\n"
    "[line]\n"
    "port = \"ttyUSB0\"\n"
    "stations = { 5 = \"N2OPEN\" }\n"
    "[[gate]]\n"
    "name = \"Setpoint\"\n"
    "gas = \"001PM01LSP\"\n";

TEST(ZamgateConfig, AGoodFileGivesItsSettingsAndDefaults) {
  zamgate::GatewayConfig config;
  std::string error;
  ASSERT_TRUE(zamgate::ParseConfig(kGood + "writable = true\ndeadband = 0.5\n[mqtt]\nprefix = \"site\"\n"
                                   "[http]\nlisten = \"0.0.0.0:9100\"\n",
                                   "/etc/zamgate/a.toml", &config, &error))
      << error;
  EXPECT_EQ(config.gatewayId, "bus1");
  EXPECT_EQ(config.channel.port, "ttyUSB0");
  EXPECT_EQ(config.channel.stationTypes, std::vector<std::string>{"5=N2OPEN"});
  ASSERT_EQ(config.gates.size(), 1u);
  EXPECT_TRUE(config.gateOptions[0].writable);
  EXPECT_EQ(config.gateOptions[0].deadband, 0.5);
  EXPECT_EQ(config.mqtt.clientId, "zamgate-bus1");
  EXPECT_EQ(config.mqtt.prefix, "site");
  EXPECT_EQ(config.http.address, "0.0.0.0");
  EXPECT_EQ(config.http.port, 9100);
  EXPECT_EQ(config.gates[0].origin, "/etc/zamgate/a.toml:6");
}

TEST(ZamgateConfig, MistakesAreRefusedWithLineAndReason) {
  struct Case {
    std::string text;
    std::string message;  // expected in the error, "c.toml:LINE: ..." included
  };
  const Case cases[] = {
      {"[gateway\nid = 1\n", "c.toml:1:"},
      {"[line]\nport = \"x\"\n", "c.toml: [gateway] id is missing"},
      {kGood + "[poll]\nintervall_ms = 5\n", "c.toml:10: unknown key 'intervall_ms' in [poll]"},
      {kGood + "[mqtt.tls]\nca_flie = \"ca.pem\"\n", "c.toml:10: unknown key 'ca_flie' in [mqtt.tls]"},
      {kGood + "[line]\n", "c.toml:9:"},  // a table defined twice
      {"[gateway]\nid = \"a/b\"\n", "c.toml:2: [gateway] id holds '/'"},
      {"[gateway]\nid = \"a\"\n[line]\nport = \"x\"\nparity = \"weird\"\n", "c.toml:5: parity must be"},
      {"[gateway]\nid = \"a\"\n[line]\nport = \"x\"\nbaud = 5\n", "c.toml:5: baud must lie between"},
      {"[gateway]\nid = \"a\"\n[line]\nport = \"x\"\nstations = { 300 = \"N2OPEN\" }\n", "c.toml:5:"},
      {"[gateway]\nid = \"a\"\n[line]\nport = \"x\"\n", "c.toml: no gates"},
      {kGood + "[gates]\nwritable = [\"Nope\"]\n", "c.toml:10: writable names 'Nope', which is no gate"},
      {kGood + "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01PB\"\n", "is used twice"},
      {kGood + "[[gate]]\nname = \"a/b\"\ngas = \"001PM01PB\"\n", "gate name 'a/b' holds"},
      {kGood + "[[gate]]\nname = \"status\"\ngas = \"001PM01PB\"\n", "the gateway's own"},
      {kGood + "[[gate]]\ngas = \"001PM01PB\"\ntype = \"float\"\n", "c.toml:11: unknown gate type 'float'"},
      {kGood + "[mqtt]\nport = \"1883\"\n", "c.toml:10: port must be a whole number"},
      {kGood + "[mqtt.tls]\nca_file = \"/nonexistent/ca.crt\"\n", "ca_file '/nonexistent/ca.crt' does not exist"},
      {kGood + "[mqtt.tls]\nca_file = \"/etc/hostname\"\ncert_file = \"/etc/hostname\"\n", "go together"},
      {kGood + "[http]\nlisten = \"8080\"\n", "c.toml:10: listen must read ADDRESS:PORT"},
      {kGood + "[gates]\ncsv = \"/nonexistent.csv\"\n", "c.toml:10:"},
  };
  for (const Case &test : cases) {
    zamgate::GatewayConfig config;
    std::string error;
    EXPECT_FALSE(zamgate::ParseConfig(test.text, "c.toml", &config, &error)) << test.text;
    EXPECT_TRUE(Contains(error, test.message)) << "got: " << error << "\nwanted: " << test.message;
  }
}

// What cannot work is refused when the file is read, naming the key.
TEST(ZamgateConfig, RefusesWhatCannotWork) {
  TempFolder folder;
  WriteFile(folder.File("not-pem.crt"), "just text\n");
  WriteFile(folder.File("ca.crt"), "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
  const std::string line = "[gateway]\nid = \"a\"\n[line]\nport = \"x\"\n";
  const std::string gate = "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\n";
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {line + "baud = 115200\n" + gate, "c.toml:5: [line] baud 115200 is not a rate the serial line runs"},
      {line + "baud = 14400\n" + gate, "one of 110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600"},
      {kGood + "[mqtt]\nprefix = \"/n2\"\n", "c.toml:10: [mqtt] prefix must be topic levels"},
      {kGood + "[mqtt]\nprefix = \"n2/\"\n", "[mqtt] prefix must be topic levels"},
      {kGood + "[mqtt]\nprefix = \"site//n2\"\n", "no empty level"},
      {kGood + "[mqtt]\nprefix = \"n2/+\"\n", "no + or #"},
      {kGood + "[mqtt]\nprefix = \"#\"\n", "no + or #"},
      {kGood + "[mqtt.tls]\nca_file = \"" + folder.path() + "\"\n", "ca_file '" + folder.path() + "' is a folder"},
      {kGood + "[mqtt.tls]\nca_file = \"" + folder.File("not-pem.crt") + "\"\n", "is not in PEM form"},
      {kGood + "[mqtt.tls]\nca_file = \"" + folder.File("ca.crt") + "\"\ncert_file = \"" + folder.File("ca.crt") +
           "\"\nkey_file = \"" + folder.File("missing.key") + "\"\n",
       "c.toml:12: [mqtt.tls] key_file '" + folder.File("missing.key") + "' does not exist"},
  };
  for (const Case &test : cases) {
    zamgate::GatewayConfig config;
    std::string error;
    EXPECT_FALSE(zamgate::ParseConfig(test.text, "c.toml", &config, &error)) << test.text;
    EXPECT_TRUE(Contains(error, test.message)) << "got: " << error << "\nwanted: " << test.message;
  }
  // The accepted forms still pass.
  for (const std::string &good : {kGood + "[mqtt]\nprefix = \"site/n2\"\n", line + "baud = 57600\n" + gate,
                                   kGood + "[mqtt.tls]\nca_file = \"" + folder.File("ca.crt") + "\"\n"}) {
    zamgate::GatewayConfig config;
    std::string error;
    EXPECT_TRUE(zamgate::ParseConfig(good, "c.toml", &config, &error)) << error;
  }
}

// A password file written on Windows: the CR is not part of the password.
TEST(ZamgateConfig, APasswordFilesLineEndIsNoPartOfThePassword) {
  TempFolder folder;
  WriteFile(folder.File("password"), "s3cret\r\n");
  zamgate::GatewayConfig config;
  std::string error;
  ASSERT_TRUE(zamgate::ParseConfig(kGood + "[mqtt]\nusername = \"u\"\npassword_file = \"" + folder.File("password") + "\"\n",
                                   "c.toml", &config, &error))
      << error;
  EXPECT_EQ(config.mqtt.password, "s3cret");
}

// --check-config resolves the gates: a read-only point listed as writable is
// refused, a Modbus address libmodbus would widen to every interface too;
// an interval shorter than the line can poll is warned about with the
// estimate; the messages name zamgate's keys, never zamhost's options.
TEST(ZamgateCheckConfig, RefusesWhatTheLineAndTheDevicesCannotDo) {
  TempFolder folder;
  const std::string base = "[gateway]\nid = \"a\"\n[line]\nport = \"/dev/zamgate-no-such-port\"\n";
  WriteFile(folder.File("readonly.toml"), base + "[[gate]]\nname = \"Century\"\ngas = \"001RTCLCENT\"\nwritable = true\n");
  WriteFile(folder.File("modbus.toml"), base + "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\ntype = \"real\"\n"
                                                "[modbus]\nlisten = \"0x:25021\"\n");
  std::string many;
  for (int i = 1; i <= 8; ++i) many += "[[gate]]\nname = \"S" + std::to_string(i) + "\"\ngas = \"00" + std::to_string(i) + "PM01LSP\"\n";
  WriteFile(folder.File("slow.toml"), "[gateway]\nid = \"a\"\n[line]\nport = \"x\"\nbaud = 1200\n[poll]\ninterval_ms = 100\n" + many);
  WriteFile(folder.File("untyped.toml"), base + "[[gate]]\nname = \"XT\"\ngas = \"010XP01AI1\"\n");

  RunResult readOnly = RunProgram(kZamgate, {"--check-config", folder.File("readonly.toml")});
  EXPECT_EQ(readOnly.exitCode, 3) << readOnly.out << readOnly.err;
  EXPECT_TRUE(Contains(readOnly.out, "readonly.toml:5: gate 'Century' (001RTCLCENT) is listed as writable, but it is a "
                                     "read-only point"))
      << readOnly.out;
  RunResult modbus = RunProgram(kZamgate, {"--check-config", folder.File("modbus.toml")});
  EXPECT_EQ(modbus.exitCode, 2) << modbus.out << modbus.err;
  EXPECT_TRUE(Contains(modbus.out + modbus.err, "listen must name an IPv4 address")) << modbus.out << modbus.err;
  RunResult slow = RunProgram(kZamgate, {"--check-config", folder.File("slow.toml")});
  EXPECT_EQ(slow.exitCode, 0) << slow.out << slow.err;
  EXPECT_TRUE(Contains(slow.out, "warning: [poll] interval_ms 100 is shorter than the cycle estimated for 8 requests at "
                                 "1200 baud (about "))
      << slow.out;
  RunResult untyped = RunProgram(kZamgate, {"--check-config", folder.File("untyped.toml")});
  EXPECT_EQ(untyped.exitCode, 3) << untyped.out << untyped.err;
  EXPECT_TRUE(Contains(untyped.out, "[line] stations = { 10 = \"XT9100\" }")) << untyped.out;
  EXPECT_TRUE(Contains(untyped.out, "[line] station_types_file")) << untyped.out;
  EXPECT_FALSE(Contains(untyped.out + untyped.err, "--station")) << untyped.out;
}

TEST(ZamgateCheckConfig, ParsesEveryGateThroughTheDriverWithoutPortOrBroker) {
  TempFolder folder;
  // Neither the port nor the broker exists: the check needs neither.
  const std::string base = "[gateway]\nid = \"a\"\n[line]\nport = \"/dev/zamgate-no-such-port\"\n"
                           "[mqtt]\nport = 1\n";
  WriteFile(folder.File("good.toml"), base + "[[gate]]\nname = \"Setpoint\"\ngas = \"001PM01LSP\"\n");
  WriteFile(folder.File("bad.toml"), base + "[[gate]]\nname = \"Nonsense\"\ngas = \"001XX99ZZ\"\n");
  WriteFile(folder.File("broken.toml"), base + "[poll]\ninterval_ms = -1\n");

  RunResult good = RunProgram(kZamgate, {"--check-config", folder.File("good.toml")});
  EXPECT_EQ(good.exitCode, 0) << good.out << good.err;
  EXPECT_TRUE(Contains(good.out, "configuration ok")) << good.out;
  RunResult bad = RunProgram(kZamgate, {"--check-config", folder.File("bad.toml")});
  EXPECT_EQ(bad.exitCode, 3) << bad.out << bad.err;
  EXPECT_TRUE(Contains(bad.out, "bad.toml:7: invalid gate 'Nonsense' (001XX99ZZ)")) << bad.out;
  RunResult broken = RunProgram(kZamgate, {"--check-config", folder.File("broken.toml")});
  EXPECT_EQ(broken.exitCode, 2);
  EXPECT_TRUE(Contains(broken.err, "broken.toml:8: interval_ms must lie between")) << broken.err;
  // Running the broken file is refused the same way, before anything starts.
  RunResult run = RunProgram(kZamgate, {"--config", folder.File("broken.toml")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(Contains(run.err, "broken.toml:8:")) << run.err;
}

TEST(ZamgateSetPayload, TakesPlainTextJsonValuesAndObjects) {
  struct Case {
    std::string payload;
    bool ok;
    std::string value;
    std::string id;
  };
  const Case cases[] = {
      {"21.5", true, "21.5", ""},
      {" 07:30 ", true, "07:30", ""},
      {"Mon-Fri", true, "Mon-Fri", ""},
      {"\"on\"", true, "on", ""},
      {"true", true, "true", ""},
      {"{\"value\": false}", true, "false", ""},
      {"{\"value\": 22, \"id\": \"x1\"}", true, "22", "x1"},
      {"{\"value\": \"08:00\", \"id\": 7}", true, "08:00", "7"},
      {"", true, "", ""},  // an override release
      {"{\"val\": 1}", false, "", ""},
      {"{\"value\": [1]}", false, "", ""},
      {"{\"value\": 1", false, "", ""},
      {"[1]", false, "", ""},
  };
  for (const Case &test : cases) {
    std::string value, id, why;
    EXPECT_EQ(zamgate::ParseSetPayload(test.payload, &value, &id, &why), test.ok) << test.payload;
    if (!test.ok) continue;
    EXPECT_EQ(value, test.value) << test.payload;
    EXPECT_EQ(id, test.id) << test.payload;
  }
}

// Hostile set payloads are refused with a reason before anything reads them
// as a value: too long, not UTF-8 text, nested past the limit. None throws.
TEST(ZamgateSetPayload, RefusesOversizedBinaryAndDeeplyNestedPayloads) {
  struct Case {
    const char *what;
    std::string payload;
    const char *reason;
  };
  const Case cases[] = {
      {"1 KiB and a byte", std::string(1025, '1'), "1025 bytes, at most 1024"},
      {"a Latin-1 degree sign", "21.5\xb0" "C", "not UTF-8 text (byte 0xB0 at offset 4)"},
      {"a NUL and a stray byte", std::string("0x1p3\0\xff", 7), "byte 0x00 at offset 5"},
      {"a forged log line", "21\n2026-01-01 zamgate: forged\x1b[2J", "byte 0x1B"},
      {"an overlong encoding", "\xc0\xae", "byte 0xC0"},
      {"a surrogate", "\xed\xa0\x80", "byte 0xED"},
      {"70,000 levels", std::string(70000, '[') + std::string(70000, ']'), "140000 bytes, at most 1024"},
      {"500 levels", std::string(500, '[') + std::string(500, ']'), "nests deeper than 8 levels"},
      {"nine levels", std::string(9, '[') + "1" + std::string(9, ']'), "nests deeper than 8 levels"},
      {"nine levels in a value", "{\"value\":" + std::string(8, '[') + std::string(8, ']') + "}",
       "nests deeper than 8 levels"},
  };
  for (const Case &test : cases) {
    std::string value, id, why;
    EXPECT_FALSE(zamgate::ParseSetPayload(test.payload, &value, &id, &why)) << test.what;
    EXPECT_NE(why.find(test.reason), std::string::npos) << test.what << ": " << why;
  }
  // Within the limits: brackets inside strings do not count, UTF-8 passes.
  std::string value, id, why;
  EXPECT_TRUE(zamgate::ParseSetPayload("{\"value\": \"[[[[[[[[[[\", \"id\": \"\u00b0\"}", &value, &id, &why)) << why;
  EXPECT_EQ(value, "[[[[[[[[[[");
  EXPECT_EQ(id, "\xc2\xb0");
  EXPECT_TRUE(zamgate::ParseSetPayload("21,5 \xc2\xb0" "C", &value, &id, &why)) << why;
}

// A result message is sent whatever its texts hold: text that is not UTF-8
// is replaced, never fatal.
TEST(ZamgateSetPayload, ResultMessagesOfAnyTextAreSent) {
  zamgate::WriteResult result;
  result.gate = "Loop\xb0";
  result.value = std::string("0x1p3\0\xff", 7);
  result.text = "refused \xff";
  std::string text;
  EXPECT_NO_THROW(text = zamgate::Dump(zamgate::WriteResultJson(result, n2host::PointMeaning{})));
  EXPECT_NE(text.find("\"outcome\":\"rejected\""), std::string::npos) << text;
  EXPECT_NO_THROW(nlohmann::json::parse(text));
}

// Gates resolved by the real driver on the port "NUL".
class ZamgateWriteQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(driver_.Load(std::string(ZAMKT_BUILD_DIR) + "/libzamkt.so", &error)) << error;
    channel_ = std::make_unique<n2host::Channel>(driver_, log_);
    n2host::ChannelOptions options;
    options.port = "NUL";
    options.stationTypes = {"5=N2OPEN"};
    int code = 0;
    ASSERT_TRUE(channel_->Open(options, &error, &code)) << error;
    std::vector<n2host::GateSpec> listed = {{"Setpoint", "001PM01LSP", -1, ""},
                                           {"Start", "001TS01START1", -1, ""},
                                           {"Days", "001TS01DAYS1", -1, ""},
                                           {"Input", "001AI01AI", -1, ""},
                                           {"Override", "005AO001_O", -1, ""}};
    gates_ = n2host::ResolveGates(*channel_, listed);
    for (const n2host::Gate &gate : gates_) ASSERT_TRUE(gate.valid) << gate.spec.gas;
  }

  n2host::DriverLibrary driver_;
  n2host::DriverLog log_;
  std::unique_ptr<n2host::Channel> channel_;
  std::vector<n2host::Gate> gates_;
};

TEST_F(ZamgateWriteQueue, ChecksGateWritabilityAndValueBeforeQueueing) {
  zamgate::WriteQueue queue(gates_, {true, true, true, false, true}, 100);
  struct Case {
    const char *gate;
    const char *value;
    bool queued;
    const char *reason;
  };
  const Case cases[] = {
      {"Setpoint", "21.5", true, ""},
      {"Setpoint", "32751", false, "out of range"},
      {"Setpoint", "-40000", false, "out of range"},
      {"Setpoint", "warm", false, "not a number"},
      {"Start", "07:30", true, ""},
      {"Start", "24:00", true, ""},
      {"Start", "24:01", false, ""},
      {"Days", "Mon-Fri", true, ""},
      {"Days", "someday", false, ""},
      {"Input", "3", false, "not writable"},
      {"Missing", "3", false, "no gate named 'Missing'"},
      {"Override", "", true, ""},
      {"Setpoint", "", false, "no value"},
  };
  size_t expectQueued = 0;
  for (const Case &test : cases) {
    zamgate::SubmitResult result = queue.Submit(test.gate, test.value, "", nullptr);
    EXPECT_EQ(result.queued, test.queued) << test.gate << "=" << test.value << ": " << result.reason;
    EXPECT_TRUE(Contains(result.reason, test.reason)) << result.reason;
    if (test.queued) ++expectQueued;
  }
  EXPECT_EQ(queue.size(), expectQueued);
  std::optional<zamgate::QueuedWrite> first = queue.Take();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->result.gate, "Setpoint");
  EXPECT_FLOAT_EQ(static_cast<float>(first->value.real), 21.5f);
}

TEST_F(ZamgateWriteQueue, AFullQueueRefusesAndAStopCancelsWhatWaits) {
  zamgate::WriteQueue queue(gates_, {true, true, true, true, true}, 2);
  std::vector<zamgate::WriteResult> done;
  auto record = [&done](const zamgate::WriteResult &result) { done.push_back(result); };
  EXPECT_TRUE(queue.Submit("Setpoint", "1", "a", record).queued);
  EXPECT_TRUE(queue.Submit("Setpoint", "2", "b", record).queued);
  zamgate::SubmitResult third = queue.Submit("Setpoint", "3", "c", record);
  EXPECT_FALSE(third.queued);
  EXPECT_TRUE(Contains(third.reason, "queue is full")) << third.reason;
  queue.Close();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].outcome, zamgate::WriteOutcome::kCancelled);
  EXPECT_EQ(done[1].requestId, "b");
  EXPECT_FALSE(queue.Submit("Setpoint", "4", "d", record).queued);
}

}  // namespace
