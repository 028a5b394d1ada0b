// zamhost write: one write per assignment (command 7). Every assignment is
// checked first (gate and value); nothing is written when one is wrong. With
// --verify each acknowledged write is read back and compared with the value
// as the device keeps it, which shows writes that a station acknowledged but
// did not apply (a point held by its own logic, or by an override).
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/stored_value.h"
#include "host/zamhost/text_table.h"

namespace zamhost {

using namespace n2host;
namespace {

struct PlannedWrite {
  Gate gate;
  GateValue value;
};

// Checks one assignment. False after printing why.
bool PlanWrite(Channel &channel, const WriteSpec &spec, PlannedWrite *planned, int *code) {
  planned->gate = ResolveGate(channel, spec.gate);
  const Gate &gate = planned->gate;
  if (!gate.valid) {
    ReportInvalidGate(gate);
    *code = kExitInvalidGate;
    return false;
  }
  if (gate.meaning.kind == PointKind::kOverride) {
    // The driver writes an override tag without data: it releases the override.
    planned->value = GateValue{gate.type, 0, 0};
    if (!spec.value) return true;
  } else if (!spec.value) {
    *code = Fail(kExitUsage, gate.spec.gas + ": no value given (write " + gate.spec.gas + "=VALUE)");
    return false;
  }
  std::string error;
  if (!ParseValue(gate.meaning, gate.type, *spec.value, &planned->value, &error)) {
    *code = Fail(kExitUsage, gate.spec.gas + ": " + error);
    return false;
  }
  return true;
}

}  // namespace

int RunWrite(const GlobalOptions &global, const WriteOptions &options) {
  Session session(global);
  if (!session.Start()) return kExitDriver;
  std::vector<WriteSpec> specs;
  int position = 0;
  for (const std::string &assignment : options.assignments) {
    WriteSpec spec;
    std::string error;
    if (!ParseWriteArgument(assignment, &spec, &error)) return Fail(kExitUsage, error);
    spec.gate.origin = "argument " + std::to_string(++position);
    specs.push_back(spec);
  }
  if (specs.empty()) return Fail(kExitUsage, "nothing to write: give GAS=VALUE (e.g. 001PM01LSP=21.5)");

  Channel channel(session.driver(), session.log());
  channel.SetSink(session.DefaultSink());
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;

  std::vector<PlannedWrite> writes;
  for (const WriteSpec &spec : specs) {
    PlannedWrite planned;
    if (!PlanWrite(channel, spec, &planned, &code)) return code;
    writes.push_back(planned);
  }

  FILE *out = session.out();
  int exitCode = kExitOk;
  std::vector<std::vector<std::string>> rows;
  for (PlannedWrite &write : writes) {
    const Gate &gate = write.gate;
    const bool release = gate.meaning.kind == PointKind::kOverride;
    std::string shown = release ? "release override" : ValueText(gate.meaning, write.value);
    ValueBuffer buffer;
    buffer.Store(write.value);
    int32_t status = channel.Write(gate, &buffer);
    if (status != 0) {
      rows.push_back({gate.spec.gas, GateTypeName(gate.type), shown, "failed (" + StatusWord(status) + ")"});
      Warn(FailureAdvice(gate, status, options.channel));
      if (exitCode == kExitOk) exitCode = ExitCodeOfStatus(status);
      continue;
    }
    std::string outcome = "written";
    if (options.verify && release) {
      outcome += ", not verified (override tags are not read back)";
    } else if (options.verify) {
      ValueBuffer readBack;
      int32_t readStatus = channel.Read(gate, &readBack);
      GateValue stored = StoredValue(gate.meaning, write.value);
      if (readStatus != 0) {
        outcome += ", but the read-back failed (" + StatusWord(readStatus) + ")";
        if (exitCode == kExitOk) exitCode = ExitCodeOfStatus(readStatus);
      } else {
        GateValue held = readBack.Single(gate.type);
        if (WriteApplied(gate.meaning, write.value, held)) {
          outcome += ", verified: reads back " + ValueText(gate.meaning, held);
        } else {
          outcome += ", NOT APPLIED: the station acknowledged but reads back " + ValueText(gate.meaning, held) +
                     " instead of " + ValueText(gate.meaning, stored);
          Warn(gate.spec.gas + ": station " + std::to_string(gate.station) +
               " acknowledged the write but did not apply it: the point may be held by the device's own logic "
               "or by an override");
          if (exitCode == kExitOk) exitCode = kExitNotApplied;
        }
      }
    }
    rows.push_back({gate.spec.gas, GateTypeName(gate.type), shown, outcome});
  }
  for (const std::string &line : AlignRows(rows)) fprintf(out, "%s\n", line.c_str());
  fflush(out);
  return exitCode;
}

}  // namespace zamhost
