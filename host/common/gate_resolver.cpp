#include "host/common/gate_resolver.h"

#include <ctype.h>

#include "host/common/address_hints.h"
#include "host/common/gate_types.h"

namespace n2host {
namespace {

void TakeParse(const ParseResult &result, Gate *gate) {
  gate->station = result.block.station;
  gate->region = result.block.region;
  gate->element = result.block.element;
  gate->bit = result.block.bit;
  gate->width = result.block.width;
}

bool HasLowerCase(const std::string &text) {
  for (char c : text) {
    if (islower(static_cast<unsigned char>(c))) return true;
  }
  return false;
}

// The family a GAS's form suggests when the driver found no such module for
// the station's family (every station is a DX9100 unless the station-type
// file says otherwise): N2 Open (region letters and an object number),
// XT9100 (XPnn modules) or TC9100 (TCGC, TCPn). Empty when none.
std::string FamilySuggestedBy(const std::string &gas) {
  if (gas.size() < 5) return "";
  const std::string region = gas.substr(3, 2);
  constexpr const char *kRegions[] = {"AI", "BI", "AO", "BO", "AF", "AD", "BD"};
  for (const char *name : kRegions) {
    if (region == name && (gas.size() == 8 || gas.size() == 10) && isdigit(static_cast<unsigned char>(gas[5]))) {
      return "N2OPEN";
    }
  }
  if (region == "XP") return "XT9100";
  if (region == "TC") return "TC9100";
  return "";
}

bool MentionsIllegalModule(const std::vector<std::string> &problems) {
  for (const std::string &problem : problems) {
    if (problem.find("Illegal Module Name") != std::string::npos) return true;
  }
  return false;
}

}  // namespace

Gate ResolveGate(Channel &channel, const GateSpec &spec) {
  Gate gate;
  gate.spec = spec;
  gate.type = spec.type;

  ParseResult result;
  if (spec.type != kAutoType) {
    result = channel.Parse(spec.gas, spec.type);
  } else {
    for (int type : kAutoTypeOrder) {
      result = channel.Parse(spec.gas, type);
      if (result.status == 0) {
        gate.type = type;
        break;
      }
    }
    if (result.status != 0) {
      // No type fits: the reason is in the address itself, and every try
      // logged the same messages. Show those of the first.
      result = channel.Parse(spec.gas, kAutoTypeOrder[0]);
      gate.type = kAutoTypeOrder[0];
    }
  }
  TakeParse(result, &gate);
  gate.valid = result.status == 0;
  if (gate.valid) {
    gate.meaning = MeaningOf(spec.gas, gate.region, gate.type);
    return gate;
  }
  for (const DriverMessage &message : result.messages) gate.problems.push_back(message.text);
  if (gate.problems.empty() && spec.type != kAutoType) {
    // The driver refuses a type the point does not take without a word.
    std::string takes;
    for (int type : kAutoTypeOrder) {
      if (channel.Parse(spec.gas, type).status == 0) {
        takes = GateTypeName(type);
        break;
      }
    }
    gate.problems.push_back("the point does not take type " + GateTypeName(spec.type) +
                            (takes.empty() ? "" : "; it takes " + takes));
  }
  if (HasLowerCase(spec.gas)) gate.problems.push_back("gate addresses are written in upper case");
  if (std::string hint = DigitCountHint(spec.gas); !hint.empty()) gate.problems.push_back(hint);
  std::string family = FamilySuggestedBy(spec.gas);
  if (!family.empty() && MentionsIllegalModule(gate.problems)) {
    std::string station = std::to_string(gate.station);
    gate.problems.push_back("the address reads like " + std::string(family == "XT9100" ? "an " : "a ") + family + " point, but station " + station +
                            " is not one to the driver: name its family with --station " + station + "=" + family +
                            " or a station-type file (--station-types FILE)");
  }
  return gate;
}

std::vector<Gate> ResolveGates(Channel &channel, const std::vector<GateSpec> &specs) {
  std::vector<Gate> gates;
  for (const GateSpec &spec : specs) {
    Gate gate = ResolveGate(channel, spec);
    if (gate.valid) gate.blockEligible = channel.BlockCheck(spec.gas, gate.type, 1).status == 0;
    gates.push_back(gate);
  }
  return gates;
}

}  // namespace n2host
