// End to end against the simulated plant's N2 Open station (station 5,
// objects 1 to 16 in every region): the initialisation on the first read or
// write, parse and read of every object of every region and of the override
// tags, writes that override an output and show on its override tag, releases
// through the override tag, writes the driver refuses, and warm starts.
#include <string>

#include "tests/e2e_fixture.h"

namespace {

using e2e::HostValue;

constexpr int kObjects = 16;

// A region as the host addresses it, and as the station numbers it.
struct Region {
  const char *name;
  int32_t code;          // region code of the 8-character GAS
  int32_t overrideCode;  // of the "_O" GAS; 0 for inputs, which have none
  int32_t dataType;
  int32_t width;
  int number;            // the station's region 1..7
  // The read reply starts with the object's status byte, whose bit 1 is the
  // override flag that the "_O" tag reads. An AD reply is the bare 16-bit
  // value: its override tag reads bit 1 of the value's high byte instead
  // (see AnalogDataOverrideTag below).
  bool statusInReply;
};

constexpr Region kRegions[] = {
    {"AI", 1001, 0, kGateReal, 32, n2sim::kAI, true},      {"BI", 1002, 0, kGateDigital, 1, n2sim::kBI, true},
    {"AO", 1003, 1008, kGateReal, 32, n2sim::kAO, true},   {"BO", 1004, 1009, kGateDigital, 1, n2sim::kBO, true},
    {"AF", 1005, 1010, kGateReal, 32, n2sim::kAF, true},   {"AD", 1006, 1011, kGateInt16, 16, n2sim::kAD, false},
    {"BD", 1007, 1012, kGateUInt16, 16, n2sim::kBD, true},
};

const Region &RegionNamed(const std::string &name) {
  for (const Region &region : kRegions) {
    if (name == region.name) return region;
  }
  ADD_FAILURE() << "no region " << name;
  return kRegions[0];
}

std::string GasOf(const Region &region, int element, bool overrideTag = false) {
  char text[16];
  snprintf(text, sizeof text, "%03d%s%03d%s", e2e::kN2Open, region.name, element, overrideTag ? "_O" : "");
  return text;
}

// An object of the station as it stands.
struct Object {
  double value = 0;  // what a read reports: the forced value while overridden
  double own = 0;    // the device's own value
  bool overridden = false;
};

class N2Open : public e2e::E2eTest {
 protected:
  Object ObjectOf(const Region &region, int element) {
    Object object;
    bool found = false;
    bench().sim().WithN2Open(e2e::kN2Open, [&](n2sim::N2OpenStation *station) {
      const n2sim::N2OpenStation::Object *o = station != nullptr ? station->Find(region.number, element) : nullptr;
      if (o == nullptr) return;
      found = true;
      object.value = station->ValueOf(region.number, element, e2e::kFrozenTime);
      object.own = o->own;
      object.overridden = o->overridden;
    });
    if (!found) ADD_FAILURE() << "no object " << GasOf(region, element);
    return object;
  }

  // Checks that a read of the region gave the value as the host keeps it.
  static void ExpectValue(const Region &region, const HostValue &read, double value, const std::string &gas) {
    if (region.dataType == kGateReal) {
      EXPECT_EQ(read.real(), static_cast<float>(value)) << gas;
    } else if (region.dataType == kGateDigital) {
      EXPECT_EQ(read.word(), value != 0 ? 1 : 0) << gas;
    } else if (region.number == n2sim::kAD) {
      EXPECT_EQ(read.word(), static_cast<uint16_t>(value)) << gas;
    } else {
      EXPECT_EQ(read.word(), static_cast<uint8_t>(value)) << gas;
    }
  }

  // Reads the override tag of an object; -1 when the read failed.
  int OverrideFlag(const Region &region, int element) {
    HostValue value;
    if (channel().Read(GasOf(region, element, true), kGateDigital, value.data()) != 0) return -1;
    return value.word();
  }

  uint64_t InitFrames() { return bench().Count("n2open-identify") + bench().Count("n2open-status"); }
};

// ---- initialisation -------------------------------------------------------------

TEST_F(N2Open, TheFirstReadInitialisesTheStationAndLaterReadsDoNot) {
  ASSERT_EQ(bench().Reopen(), 0);
  LogCapture log;
  const uint64_t identify = bench().Count("n2open-identify");
  const uint64_t status = bench().Count("n2open-status");
  HostValue value;
  ASSERT_EQ(channel().Read("005AO001", kGateReal, value.data()), 0);
  EXPECT_EQ(bench().Count("n2open-identify"), identify + 1);
  EXPECT_EQ(bench().Count("n2open-status"), status + 1);
  EXPECT_TRUE(log.Contains("ZAMKT01: SingleRead() Initializing 'N2OPEN' station 5"));
  EXPECT_TRUE(log.Contains("ZAMKT01: SingleRead() 'N2OPEN' station 5 initialized successfully"));
  EXPECT_EQ(value.real(), 50.0f) << "the plant's value of AO 1";

  const uint64_t frames = InitFrames();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(channel().Read("005AI002", kGateReal, value.data()), 0);
  EXPECT_EQ(InitFrames(), frames) << "the station stays initialised";
}

TEST_F(N2Open, TheFirstWriteInitialisesTheStation) {
  ASSERT_EQ(bench().Reopen(), 0);
  LogCapture log;
  const uint64_t identify = bench().Count("n2open-identify");
  HostValue value = HostValue::Real(7.5f);
  ASSERT_EQ(channel().Write("005AF016", kGateReal, value.data()), 0);
  EXPECT_EQ(bench().Count("n2open-identify"), identify + 1);
  EXPECT_TRUE(log.Contains("ZAMKT01: SingleWrite() Initializing 'N2OPEN' station 5"));
  EXPECT_TRUE(log.Contains("ZAMKT01: SingleWrite() 'N2OPEN' station 5 initialized successfully"));
  HostValue release = HostValue::Word(0);
  EXPECT_EQ(channel().Write("005AF016_O", kGateDigital, release.data()), 0);
}

// ---- every object --------------------------------------------------------------

class EveryObject : public N2Open, public ::testing::WithParamInterface<Region> {};

TEST_P(EveryObject, ParsesAndReadsWithTheValueTheStationHolds) {
  const Region &region = GetParam();
  const uint64_t reads = bench().Count("n2open-read");
  const uint64_t refused = bench().Count("refused");
  for (int element = 1; element <= kObjects; ++element) {
    const std::string gas = GasOf(region, element);
    ParseBlock parsed;
    ASSERT_EQ(channel().Parse(gas, region.dataType, &parsed), 0) << gas;
    EXPECT_EQ(parsed.station, e2e::kN2Open) << gas;
    EXPECT_EQ(parsed.region, region.code) << gas;
    EXPECT_EQ(parsed.element, element) << gas;
    EXPECT_EQ(parsed.bit, 255) << gas;
    EXPECT_EQ(parsed.width, region.width) << gas;

    HostValue value;
    ASSERT_EQ(channel().Read(gas, region.dataType, value.data()), 0) << gas;
    ExpectValue(region, value, ObjectOf(region, element).value, gas);
  }
  EXPECT_EQ(bench().Count("n2open-read"), reads + kObjects);
  EXPECT_EQ(bench().Count("refused"), refused);
}

class EveryOutput : public N2Open, public ::testing::WithParamInterface<Region> {};

TEST_P(EveryOutput, HasAnOverrideTagThatReadsTheOverrideFlag) {
  const Region &region = GetParam();
  for (int element = 1; element <= kObjects; ++element) {
    const std::string gas = GasOf(region, element, true);
    ParseBlock parsed;
    ASSERT_EQ(channel().Parse(gas, kGateDigital, &parsed), 0) << gas;
    EXPECT_EQ(parsed.region, region.overrideCode) << gas;
    EXPECT_EQ(parsed.element, element) << gas;
    EXPECT_EQ(parsed.width, 1) << gas;
    const int flag = OverrideFlag(region, element);
    ASSERT_NE(flag, -1) << gas;
    if (region.statusInReply) {
      EXPECT_EQ(flag, ObjectOf(region, element).overridden ? 1 : 0) << gas;
    }
  }
}

std::string RegionName(const ::testing::TestParamInfo<Region> &region) { return region.param.name; }

INSTANTIATE_TEST_SUITE_P(OfTheRegion, EveryObject, ::testing::ValuesIn(kRegions), RegionName);
// Regions 3 to 7: the outputs, which have override tags.
INSTANTIATE_TEST_SUITE_P(OfTheRegion, EveryOutput, ::testing::ValuesIn(kRegions + 2, kRegions + 7), RegionName);

TEST_F(N2Open, TheOverrideMarkerOfAnInputIsIgnored) {
  const Region &ai = RegionNamed("AI");
  ParseBlock parsed;
  ASSERT_EQ(channel().Parse("005AI003_O", kGateReal, &parsed), 0);
  EXPECT_EQ(parsed.region, ai.code);
  HostValue value;
  ASSERT_EQ(channel().Read("005AI003_O", kGateReal, value.data()), 0);
  ExpectValue(ai, value, ObjectOf(ai, 3).value, "005AI003_O");
}

// ---- writes, override and release ---------------------------------------------------

struct WriteCase {
  const char *region;
  int element;
  float real;      // for the float regions
  uint16_t word;   // for the others
  double reads;    // the value a read then gives
};

constexpr WriteCase kWrites[] = {
    {"AO", 3, 12.5f, 0, 12.5},       {"AO", 16, -0.125f, 0, -0.125},
    {"AF", 4, -3.25f, 0, -3.25},     {"AF", 1, 1.0e6f, 0, 1.0e6},
    {"AD", 5, 0, 0x1234, 0x1234},    {"AD", 6, 0, 0xFFFF, 0xFFFF},
    {"BD", 6, 0, 0xAB, 0xAB},        {"BD", 8, 0, 0x1FF, 0xFF},   // only the low byte goes out
    {"BO", 7, 0, 1, 1},              {"BO", 9, 0, 2, 1},          // any nonzero byte turns it on
    {"BO", 10, 0, 0, 0},
};

class Write : public N2Open, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(Write, OverridesTheObjectUntilItsOverrideTagIsWritten) {
  const WriteCase &c = GetParam();
  const Region &region = RegionNamed(c.region);
  const std::string gas = GasOf(region, c.element);

  HostValue value = region.dataType == kGateReal ? HostValue::Real(c.real) : HostValue::Word(c.word);
  const uint64_t writes = bench().Count("n2open-write");
  ASSERT_EQ(channel().Write(gas, region.dataType, value.data()), 0) << gas;
  EXPECT_EQ(bench().Count("n2open-write"), writes + 1);
  HostValue read;
  ASSERT_EQ(channel().Read(gas, region.dataType, read.data()), 0) << gas;
  ExpectValue(region, read, c.reads, gas);
  if (region.statusInReply) {
    EXPECT_EQ(OverrideFlag(region, c.element), 1) << gas;
  }
  EXPECT_TRUE(ObjectOf(region, c.element).overridden);

  // A write to the override tag releases the object, whatever the value.
  const uint64_t releases = bench().Count("n2open-release");
  HostValue any = HostValue::Word(1);
  ASSERT_EQ(channel().Write(GasOf(region, c.element, true), kGateDigital, any.data()), 0) << gas;
  EXPECT_EQ(bench().Count("n2open-release"), releases + 1);
  if (region.statusInReply) {
    EXPECT_EQ(OverrideFlag(region, c.element), 0) << gas;
  }
  EXPECT_FALSE(ObjectOf(region, c.element).overridden);
  ASSERT_EQ(channel().Read(gas, region.dataType, read.data()), 0) << gas;
  ExpectValue(region, read, ObjectOf(region, c.element).own, gas + " after the release");
}

INSTANTIATE_TEST_SUITE_P(OfTheObject, Write, ::testing::ValuesIn(kWrites),
                         [](const ::testing::TestParamInfo<WriteCase> &c) {
                           return std::string(c.param.region) + std::to_string(c.param.element);
                         });

// The override tag of an AD object reads bit 1 of the first byte of the AD
// read reply, where other regions carry their status byte; an AD reply holds
// only the value, most significant byte first. So the tag reports bit 9 of the
// value, not the override flag: overridden with 0x0100 it reads 0, and
// released to its own value 600 (0x0258) it reads 1. Disabled until the
// reply layouts and the tag agree; it states what the host must see.
TEST_F(N2Open, DISABLED_AnalogDataOverrideTagReadsTheOverrideFlag) {
  const Region &ad = RegionNamed("AD");
  HostValue value = HostValue::Word(0x0100);
  ASSERT_EQ(channel().Write("005AD006", kGateInt16, value.data()), 0);
  EXPECT_EQ(OverrideFlag(ad, 6), 1) << "overridden";
  ASSERT_EQ(channel().Write("005AD006_O", kGateDigital, value.data()), 0);
  EXPECT_EQ(OverrideFlag(ad, 6), 0) << "released, own value 600";
}

TEST_F(N2Open, WritesToInputsAreRefusedWithoutAFrame) {
  HostValue value;
  ASSERT_EQ(channel().Read("005AI001", kGateReal, value.data()), 0) << "the station is initialised";
  struct {
    const char *gas;
    int32_t dataType;
  } inputs[] = {{"005AI001", kGateReal}, {"005BI002", kGateDigital}, {"005AI003_O", kGateReal}};
  for (const auto &input : inputs) {
    LogCapture log;
    const uint64_t requests = bench().Count("requests");
    HostValue one = input.dataType == kGateReal ? HostValue::Real(1.0f) : HostValue::Word(1);
    EXPECT_EQ(channel().Write(input.gas, input.dataType, one.data()), 1) << input.gas;
    EXPECT_EQ(bench().Count("requests"), requests) << input.gas;
    EXPECT_TRUE(log.Contains(std::string("ZAMKT01: N2OPEN_DoWriteItem() failed. Tag ") + input.gas +
                             " Write not supported"))
        << input.gas;
  }
}

// A write block whose fields say otherwise than its GAS is refused before any
// frame goes out: the frame would be built from the block and change another
// object, or take the value in another form.
TEST_F(N2Open, WriteBlocksThatDoNotMatchTheirGasAreRefused) {
  HostValue value;
  ASSERT_EQ(channel().Read("005AO012", kGateReal, value.data()), 0) << "the station is initialised";
  const Object before12 = ObjectOf(RegionNamed("AO"), 12), before13 = ObjectOf(RegionNamed("AO"), 13);
  const Object beforeBo = ObjectOf(RegionNamed("BO"), 12);
  struct Tamper {
    const char *field;
    void (*change)(ReadWriteBlock *block);
  } tampers[] = {
      {"element", [](ReadWriteBlock *block) { block->element = 13; }},
      {"region", [](ReadWriteBlock *block) { block->region = 1004; }},
      {"data type", [](ReadWriteBlock *block) { block->dataType = kGateDigital; }},
  };
  for (const Tamper &tamper : tampers) {
    LogCapture log;
    ParseBlock parsed;
    ASSERT_EQ(channel().Parse("005AO012", kGateReal, &parsed), 0);
    HostValue written = HostValue::Real(77.0f);
    ReadWriteBlock block = DriverChannel::BlockFromParse(parsed, "005AO012", kGateReal, written.data(), 1);
    tamper.change(&block);
    const uint64_t requests = bench().Count("requests");
    EXPECT_EQ(channel().Call(kCmdSingleWrite, &block), 1) << tamper.field;
    EXPECT_EQ(bench().Count("requests"), requests) << tamper.field << ": a frame went out";
    bool told = false;
    for (const std::string &message : log.Messages()) {
      told = told || message.find("SingleWrite() " + std::string(tamper.field)) != std::string::npos;
    }
    EXPECT_TRUE(told) << tamper.field << ": " << ::testing::PrintToString(log.Messages());
  }
  EXPECT_EQ(ObjectOf(RegionNamed("AO"), 12).overridden, before12.overridden);
  EXPECT_EQ(ObjectOf(RegionNamed("AO"), 13).value, before13.value) << "object 13 was written";
  EXPECT_FALSE(ObjectOf(RegionNamed("AO"), 13).overridden) << "object 13 was written";
  EXPECT_EQ(ObjectOf(RegionNamed("BO"), 12).overridden, beforeBo.overridden);
}

// ---- warm start -------------------------------------------------------------------

TEST_F(N2Open, WarmStartSendsTheInitialisationFramesAgain) {
  HostValue value;
  ASSERT_EQ(channel().Read("005AD001", kGateInt16, value.data()), 0);
  LogCapture log;
  const uint64_t identify = bench().Count("n2open-identify");
  const uint64_t status = bench().Count("n2open-status");
  EXPECT_EQ(channel().WarmStartStation(e2e::kN2Open), 0);
  EXPECT_EQ(bench().Count("n2open-identify"), identify + 1);
  EXPECT_EQ(bench().Count("n2open-status"), status + 1);
  EXPECT_TRUE(log.Contains("ZAMKT01: WarmStart. Station 5"));
  // The station stays marked initialised: the next read sends no more frames.
  const uint64_t frames = InitFrames();
  ASSERT_EQ(channel().Read("005AD001", kGateInt16, value.data()), 0);
  EXPECT_EQ(value.word(), 100);
  EXPECT_EQ(InitFrames(), frames);
}

TEST_F(N2Open, AStationWarmStartedBeforeItsFirstReadIsStillInitialisedByThatRead) {
  ASSERT_EQ(bench().Reopen(), 0);
  const uint64_t frames = InitFrames();
  EXPECT_EQ(channel().WarmStartStation(e2e::kN2Open), 0);
  EXPECT_EQ(InitFrames(), frames + 2);
  HostValue value;
  ASSERT_EQ(channel().Read("005BD003", kGateUInt16, value.data()), 0);
  EXPECT_EQ(value.word(), 3);
  EXPECT_EQ(InitFrames(), frames + 4) << "the warm start leaves the station's flag alone";
}

}  // namespace
