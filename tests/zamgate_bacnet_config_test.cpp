// The [bacnet] section and its object map: what --check-config refuses, with
// the line it names; the automatic map's instance numbers, which must not
// move when gates are added; what --print-map shows.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "zamgate/bacnet/bacnet_config.h"
#include "zamgate/bacnet/device.h"

namespace bacnet {
namespace {

const std::vector<GateInfo> kGates = {
    {"temp", "001AI01AI", kGateReal, false},
    {"setpoint", "001PM01LSP", kGateReal, true},
    {"fan", "001DO01", kGateDigital, true},
    {"alarm", "001DI01", kGateDigital, false},
    {"humidity", "001AI02AI", kGateReal, false},
};

bool Parse(const std::string &text, BacnetConfig *config, std::string *error,
           const std::vector<GateInfo> &gates = kGates) {
  toml::table root = toml::parse(text, std::string("gw.toml"));
  return ReadBacnetSection(root, "gw.toml", gates, "bus1", config, error);
}

TEST(BacnetConfig, DefaultsAndTheAutomaticMap) {
  BacnetConfig config;
  std::string error;
  ASSERT_TRUE(Parse("", &config, &error));
  EXPECT_FALSE(config.enabled);
  ASSERT_TRUE(Parse("[bacnet]\ndevice_instance = 10\n", &config, &error)) << error;
  EXPECT_TRUE(config.enabled);
  EXPECT_EQ(config.address, "127.0.0.1") << "loopback unless the file says otherwise";
  EXPECT_EQ(config.port, 47808);
  EXPECT_EQ(config.deviceName, "zamgate-bus1");
  ASSERT_EQ(config.map.size(), 5u);
  EXPECT_EQ(config.map[0].type, kAnalogInput);
  EXPECT_EQ(config.map[1].type, kAnalogValue);
  EXPECT_EQ(config.map[2].type, kBinaryValue);
  EXPECT_EQ(config.map[3].type, kBinaryInput);
  EXPECT_EQ(config.map[0].instance, InstanceOfGas("001AI01AI"));
  EXPECT_EQ(config.map[1].name, "setpoint");

  // A gate added before the others moves no instance number.
  std::vector<GateInfo> more = kGates;
  more.insert(more.begin(), {"new", "002AI01AI", kGateReal, false});
  BacnetConfig grown;
  ASSERT_TRUE(Parse("[bacnet]\ndevice_instance = 10\n", &grown, &error, more)) << error;
  for (size_t i = 0; i < kGates.size(); ++i) EXPECT_EQ(grown.map[i + 1].instance, config.map[i].instance);
  EXPECT_NE(DatabaseRevision(grown), DatabaseRevision(config)) << "the map changed";

  // Instances are the GAS's own: the same in any case of its letters, within range.
  EXPECT_EQ(InstanceOfGas("001ai01ai"), InstanceOfGas("001AI01AI"));
  std::set<uint32_t> seen;
  for (int station = 1; station < 256; ++station) {
    const uint32_t instance = InstanceOfGas(std::to_string(station) + "AI01AI");
    EXPECT_LT(instance, kMaxInstance);
    seen.insert(instance);
  }
  EXPECT_GT(seen.size(), 250u);
}

TEST(BacnetConfig, AnExplicitMapKeepsItsNumbersAndPrintsBackTheSame) {
  BacnetConfig config;
  std::string error;
  const std::string text =
      "[bacnet]\nlisten = \"0.0.0.0:47809\"\ndevice_instance = 4194302\ndevice_name = \"AHU gateway\"\n"
      "bbmd = \"10.0.0.5:47808\"\nbbmd_ttl_s = 300\n"
      "[[bacnet.map]]\ngate = \"temp\"\ninstance = 7\ncov_increment = 0.5\n"
      "[[bacnet.map]]\ngate = \"setpoint\"\ninstance = 7\nname = \"SP\"\nrelinquish_default = 21\n";
  ASSERT_TRUE(Parse(text, &config, &error)) << error;
  EXPECT_EQ(config.address, "0.0.0.0");
  EXPECT_EQ(config.port, 47809);
  EXPECT_EQ(config.bbmdAddress, "10.0.0.5");
  EXPECT_EQ(config.bbmdTtlSeconds, 300);
  ASSERT_EQ(config.map.size(), 2u) << "only the gates the map names";
  EXPECT_EQ(config.map[1].name, "SP");
  EXPECT_EQ(config.map[1].relinquishDefault, 21.0);
  const std::string printed = MapText(config, kGates);
  EXPECT_NE(printed.find("[[bacnet.map]]  # 001PM01LSP\ngate = \"setpoint\"\ntype = \"analog-value\"\ninstance = 7\n"
                         "name = \"SP\"\nrelinquish_default = 21\n"),
            std::string::npos)
      << printed;
  // What --print-map prints reads back as the same map.
  BacnetConfig again;
  ASSERT_TRUE(Parse("[bacnet]\ndevice_instance = 4194302\ndevice_name = \"AHU gateway\"\n" + printed, &again, &error))
      << error;
  EXPECT_EQ(DatabaseRevision(again), DatabaseRevision(config));
}

TEST(BacnetConfig, RefusesClashesAndBadValuesWithTheirLine) {
  struct Case {
    std::string text;
    std::string error;
  };
  const std::string head = "[bacnet]\ndevice_instance = 1\n";
  const Case cases[] = {
      {"[bacnet]\n", "gw.toml:1: [bacnet] needs device_instance"},
      {"[bacnet]\ndevice_instance = 4194303\n", "gw.toml:2: device_instance must lie between 0 and 4194302"},
      {head + "listen = \"localhost:47808\"\n", "gw.toml:3: listen must read IPV4-ADDRESS:PORT"},
      {head + "listen = \"127.0.0.1:70000\"\n", "gw.toml:3: listen must read IPV4-ADDRESS:PORT"},
      {head + "bbmd_ttl_s = 60\n", "gw.toml:3: bbmd_ttl_s without bbmd"},
      {head + "bbmd = \"10.0.0.5:0\"\n", "gw.toml:3: bbmd must read IPV4-ADDRESS:PORT"},
      {head + "colour = 1\n", "gw.toml:3: unknown key 'colour' in [bacnet]"},
      {head + "[[bacnet.map]]\ngate = \"nothing\"\n", "gw.toml:4: the map names 'nothing', which is no gate"},
      {head + "[[bacnet.map]]\ngate = \"temp\"\ninstance = 5\n[[bacnet.map]]\ngate = \"setpoint\"\n"
              "type = \"analog-input\"\ninstance = 5\n",
       "gw.toml:8: gate 'setpoint' is writable: its type is analog-value"},
      {head + "[[bacnet.map]]\ngate = \"temp\"\ninstance = 5\n[[bacnet.map]]\ngate = \"alarm\"\n"
              "type = \"analog-input\"\n",
       "gw.toml:8: gate 'alarm' is digital: it cannot be analog-input"},
      {head + "[[bacnet.map]]\ngate = \"temp\"\ninstance = 5\n[[bacnet.map]]\ngate = \"temp\"\ninstance = 6\n",
       "gw.toml:6: gate 'temp' is mapped twice (gw.toml:3)"},
      {head + "[[bacnet.map]]\ngate = \"fan\"\ninstance = 5\n[[bacnet.map]]\ngate = \"alarm\"\ninstance = 5\n"
              "[[bacnet.map]]\ngate = \"temp\"\ninstance = 5\n[[bacnet.map]]\ngate = \"setpoint\"\ninstance = 5\n"
              "name = \"temp\"\n",
       "gw.toml:12: object name 'temp' is used twice"},
      {head + "[[bacnet.map]]\ngate = \"temp\"\ninstance = 5\ncov_increment = -1\n",
       "gw.toml:6: cov_increment must not be negative"},
      {head + "[[bacnet.map]]\ngate = \"temp\"\nrelinquish_default = 1\n", "gw.toml:5: gate 'temp' is not writable"},
      {head + "[[bacnet.map]]\ngate = \"temp\"\nname = \"\"\n", "gw.toml:5: name must hold 1 to 255 characters"},
  };
  for (const Case &c : cases) {
    BacnetConfig config;
    std::string error;
    EXPECT_FALSE(Parse(c.text, &config, &error)) << c.text;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
  }
  // Objects of different types may share an instance; two of one type may not.
  BacnetConfig config;
  std::string error;
  EXPECT_TRUE(Parse(head + "[[bacnet.map]]\ngate = \"fan\"\ninstance = 5\n[[bacnet.map]]\ngate = \"alarm\"\n"
                           "instance = 5\n[[bacnet.map]]\ngate = \"temp\"\ninstance = 5\n",
                    &config, &error))
      << error;
  EXPECT_FALSE(Parse(head + "[[bacnet.map]]\ngate = \"temp\"\ninstance = 9\n[[bacnet.map]]\ngate = \"humidity\"\n"
                            "instance = 9\n",
                     &config, &error));
  EXPECT_EQ(error, "gw.toml:6: analog-input 9 of gate 'humidity' is taken by gate 'temp' (gw.toml:3)");
}

}  // namespace
}  // namespace bacnet
