// The [modbus] section and its register map: what --check-config refuses,
// with the line it names, and the map --print-map shows the integrator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/requests.h"
#include "zamgate/modbus/modbus_config.h"

namespace zamgate {
namespace {

// The gates the maps below name: every type, writable and not.
const std::vector<ModbusGateInfo> kGates = {
    {"temp", "001AI01AI", kGateReal, false},    {"setpoint", "001PM01LSP", kGateReal, true},
    {"count", "005AI001", kGateInt32, false},   {"hours", "005ADI001", kGateInt32, true},
    {"mode", "001TS01DAYS1", kGateInt16, true}, {"raw", "005AO001", kGateUInt16, false},
    {"fan", "001DO01", kGateDigital, true},     {"alarm", "001DI01", kGateDigital, false},
    {"guess", "001AI02AI", -1, false},
};

bool Parse(const std::string &text, ModbusConfig *config, std::string *error) {
  toml::table root = toml::parse(text, std::string("gw.toml"));
  return ReadModbusSection(root, "gw.toml", kGates, config, error);
}

std::string Entry(const std::string &gate, const std::string &table, int address) {
  return "[[modbus.map]]\ngate = \"" + gate + "\"\ntable = \"" + table + "\"\naddress = " + std::to_string(address) +
         "\n";
}

TEST(ModbusMap, DefaultsWithoutSettings) {
  ModbusConfig config;
  std::string error;
  ASSERT_TRUE(Parse("[modbus]\n", &config, &error)) << error;
  EXPECT_TRUE(config.enabled);
  EXPECT_EQ(config.address, "127.0.0.1");
  EXPECT_EQ(config.port, 1502);
  EXPECT_EQ(config.unitId, 1);
  EXPECT_EQ(config.wordOrder, WordOrder::kHighWordFirst);
  EXPECT_EQ(config.writeReply, WriteReply::kWhenQueued);
  ASSERT_TRUE(Parse("", &config, &error));
  EXPECT_FALSE(config.enabled);
}

TEST(ModbusMap, EveryTypeTakesItsWords) {
  ModbusConfig config;
  std::string error;
  std::string text = "[modbus]\nlisten = \"0.0.0.0:5020\"\nword_order = \"little\"\n" + Entry("temp", "input", 0) +
                     Entry("setpoint", "holding", 0) + Entry("count", "input", 2) + Entry("hours", "holding", 2) +
                     Entry("mode", "holding", 4) + Entry("raw", "input", 4) + Entry("fan", "coil", 0) +
                     Entry("alarm", "discrete_input", 0) + Entry("fan", "discrete_input", 1);
  ASSERT_TRUE(Parse(text, &config, &error)) << error;
  EXPECT_EQ(config.address, "0.0.0.0");
  EXPECT_EQ(config.port, 5020);
  EXPECT_EQ(config.wordOrder, WordOrder::kLowWordFirst);
  std::vector<int> words;
  for (const ModbusMapEntry &entry : config.map) words.push_back(entry.words);
  EXPECT_EQ(words, (std::vector<int>{2, 2, 2, 2, 1, 1, 1, 1, 1}));
  EXPECT_EQ(config.map[2].origin, "gw.toml:12");
}

// Each refusal names the line of the entry (or key) at fault.
struct Refusal {
  const char *what;
  std::string text;
  const char *expected;  // a part of the message, "gw.toml:LINE: ..." included
};

TEST(ModbusMap, RefusesMapsThatCannotWork) {
  const Refusal refusals[] = {
      {"overlap of a real's second word", Entry("temp", "input", 10) + Entry("raw", "input", 11),
       "gw.toml:6: input address 11 of gate 'raw' overlaps gate 'temp' at 10 (gw.toml:2)"},
      {"the same coil twice", Entry("fan", "coil", 3) + Entry("fan", "coil", 3), "gw.toml:6: coil address 3"},
      {"a real ending past 65535", Entry("temp", "input", 65535), "gw.toml:5: address 65535 of gate 'temp' (2 words)"},
      {"a negative address", Entry("raw", "input", -1), "gw.toml:5: address -1"},
      {"a holding register of a read-only gate", Entry("temp", "holding", 0),
       "gw.toml:4: gate 'temp' is not writable: map it to an input register"},
      {"a coil of a read-only gate", Entry("alarm", "coil", 0), "gw.toml:4: gate 'alarm' is not writable"},
      {"a real in a coil", Entry("setpoint", "coil", 0), "gw.toml:4: gate 'setpoint' is real: it belongs in a holding"},
      {"a digital gate in a register", Entry("fan", "holding", 0), "gw.toml:4: gate 'fan' is digital"},
      {"an unknown gate", Entry("nothing", "input", 0), "gw.toml:3: the map names 'nothing'"},
      {"an auto-typed gate", Entry("guess", "input", 0), "gw.toml:3: gate 'guess' has type auto"},
      {"an unknown table", Entry("raw", "register", 0), "gw.toml:4: table must be"},
      {"an entry without address", "[[modbus.map]]\ngate = \"raw\"\ntable = \"input\"\n",
       "gw.toml:2: a map entry needs gate, table and address"},
      {"a misspelt entry key", "[[modbus.map]]\ngate = \"raw\"\ntabel = \"input\"\n", "gw.toml:4: unknown key 'tabel'"},
  };
  for (const Refusal &refusal : refusals) {
    ModbusConfig config;
    std::string error;
    EXPECT_FALSE(Parse("[modbus]\n" + refusal.text, &config, &error)) << refusal.what;
    EXPECT_NE(error.find(refusal.expected), std::string::npos) << refusal.what << ": " << error;
  }
}

TEST(ModbusMap, RefusesBadSettings) {
  const Refusal refusals[] = {
      {"a listen without port", "listen = \"127.0.0.1\"\n", "gw.toml:2: listen must read ADDRESS:PORT"},
      {"a port too high", "listen = \"127.0.0.1:70000\"\n", "gw.toml:2: listen must read"},
      // libmodbus would listen on every interface for each of these.
      {"0x", "listen = \"0x:25021\"\n", "gw.toml:2: listen must name an IPv4 address as digits"},
      {"a leading zero", "listen = \"010.0.0.1:25021\"\n", "listen must name an IPv4 address"},
      {"a zero", "listen = \"0:25021\"\n", "listen must name an IPv4 address"},
      {"a host name", "listen = \"localhost:25021\"\n", "listen must name an IPv4 address"},
      {"IPv6", "listen = \"[::1]:25021\"\n", "listen must name an IPv4 address"},
      {"a unit id too high", "unit_id = 256\n", "gw.toml:2: unit_id must lie between 0 and 255"},
      {"an unknown word order", "word_order = \"middle\"\n", "gw.toml:2: word_order must be \"big\" or \"little\""},
      {"an unknown answer", "when_not_good = \"zero\"\n", "gw.toml:2: when_not_good must be"},
      {"an unknown reply", "reply_writes = \"later\"\n", "gw.toml:2: reply_writes must be \"queued\" or \"done\""},
      {"no clients allowed", "max_clients = 0\n", "gw.toml:2: max_clients must lie between 1"},
      {"a misspelt key", "max_client = 3\n", "gw.toml:2: unknown key 'max_client' in [modbus]"},
  };
  for (const Refusal &refusal : refusals) {
    ModbusConfig config;
    std::string error;
    EXPECT_FALSE(Parse("[modbus]\n" + refusal.text, &config, &error)) << refusal.what;
    EXPECT_NE(error.find(refusal.expected), std::string::npos) << refusal.what << ": " << error;
  }
}

TEST(ModbusMap, CsvListsEntriesByTableAndAddress) {
  ModbusConfig config;
  std::string error;
  ASSERT_TRUE(Parse("[modbus]\n" + Entry("mode", "holding", 7) + Entry("alarm", "discrete_input", 0) +
                        Entry("setpoint", "holding", 5) + Entry("fan", "coil", 9),
                    &config, &error))
      << error;
  EXPECT_EQ(ModbusMapCsv(config, kGates),
            "address,table,gate,gas,type,words,writable,unit,min,max,description\n"
            "9,coil,fan,001DO01,digital,1,yes,,,,\n"
            "0,discrete_input,alarm,001DI01,digital,1,no,,,,\n"
            "5,holding,setpoint,001PM01LSP,real,2,yes,,,,\n"
            "7,holding,mode,001TS01DAYS1,int16,1,yes,,,,\n");
}

}  // namespace
}  // namespace zamgate
