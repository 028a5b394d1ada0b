// zamhost write: one write per assignment (command 7). Every assignment is
// checked first against every rule the driver applies before it sends
// (write_check.h); nothing is written when one fails. Each result is printed
// as soon as it is known, and a failure names its cause: the driver refused
// before sending, the station refused, or no reply. With --verify each
// acknowledged write is read back and compared with the value as the device
// keeps it, which shows writes that a station acknowledged but did not apply
// (a point held by its own logic, or by an override).
#include "host/common/exit_codes.h"
#include "host/common/gate_resolver.h"
#include "host/common/gate_types.h"
#include "host/common/poll_output.h"
#include "host/common/stored_value.h"
#include "host/common/write_check.h"
#include "host/common/write_outcome.h"
#include "host/zamhost/command_support.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"
#include "host/zamhost/result_rows.h"

namespace zamhost {

using namespace n2host;
namespace {

struct PlannedWrite {
  Gate gate;
  GateValue value;
};

// The row's status word for each way a write can end.
constexpr struct {
  WriteResult result;
  const char *status;
  int exitCode;
} kWriteStatuses[] = {
    {WriteResult::kWritten, "written", kExitOk},
    {WriteResult::kDriverRefused, "driver refused", kExitFailed},
    {WriteResult::kStationRefused, "station refused", kExitFailed},
    {WriteResult::kBadReply, "bad reply", kExitFailed},
    {WriteResult::kNoReply, "no reply", kExitNoReply},
};

std::vector<Column> WriteColumns() {
  return {{"time", 29}, {"gas", 14}, {"type", 7}, {"value", 10}, {"text", 16}, {"status", 15}, {"detail", 0}};
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
  channel.SetSink(session.DefaultSink(), !global.verbose);
  int code = kExitOk;
  if (!OpenChannel(channel, options.channel, &code)) return code;
  SetStopGraceMs(options.channel.timeoutMs);

  // Every assignment is checked before the first is sent; every problem is told.
  std::vector<PlannedWrite> writes;
  int refusedCode = kExitOk;
  for (const WriteSpec &spec : specs) {
    PlannedWrite planned;
    planned.gate = ResolveGate(channel, spec.gate);
    std::string reason;
    if (!planned.gate.valid) {
      ReportInvalidGate(planned.gate);
      refusedCode = kExitInvalidGate;
    } else if (!PrepareWrite(planned.gate, spec.value, &planned.value, &reason)) {
      Warn(reason);
      if (refusedCode == kExitOk) refusedCode = kExitUsage;
    }
    writes.push_back(planned);
  }
  if (refusedCode != kExitOk) {
    return Fail(refusedCode, "nothing written: " + std::string(writes.size() == 1 ? "the assignment" : "an assignment") +
                                 " cannot be written as given");
  }

  ResultRows rows(options.format, session.out(), WriteColumns());
  int exitCode = kExitOk;
  for (PlannedWrite &write : writes) {
    const Gate &gate = write.gate;
    const bool release = gate.meaning.kind == PointKind::kOverride;
    nlohmann::json raw = release ? nlohmann::json() : RawValueJson(write.value);
    nlohmann::json text = release ? "release override" : MeaningText(gate.meaning, write.value);
    if (StopRequested()) {
      rows.Row({TimeStamp(), gate.spec.gas, GateTypeName(gate.type), raw, text, "not written", "stopped by the user"});
      continue;
    }
    ValueBuffer buffer;
    buffer.Store(write.value);
    int32_t status = channel.Write(gate, &buffer);
    WriteOutcome outcome = ClassifyWrite(status, channel.lastMessages());
    std::string statusWord = "failed";
    int failureCode = kExitFailed;
    for (const auto &row : kWriteStatuses) {
      if (row.result == outcome.result) {
        statusWord = row.status;
        failureCode = row.exitCode;
      }
    }
    if (outcome.result != WriteResult::kWritten) {
      rows.Row({TimeStamp(), gate.spec.gas, GateTypeName(gate.type), raw, text, statusWord, outcome.text});
      // The reason is always told, with --quiet too.
      Warn(gate.spec.gas + ": " + outcome.text);
      if (outcome.result == WriteResult::kNoReply) Warn(FailureAdvice(gate, status, options.channel));
      if (exitCode == kExitOk) exitCode = failureCode;
      continue;
    }
    std::string detail;
    if (options.verify && release) {
      detail = "not verified (override tags are not read back)";
    } else if (options.verify) {
      ValueBuffer readBack;
      int32_t readStatus = channel.Read(gate, &readBack);
      GateValue stored = StoredValue(gate.meaning, write.value);
      if (readStatus != 0) {
        statusWord = "written";
        detail = "the read-back failed (" + StatusWord(readStatus) + ")";
        if (exitCode == kExitOk) exitCode = ExitCodeOfStatus(readStatus);
      } else {
        GateValue held = readBack.Single(gate.type);
        if (WriteApplied(gate.meaning, write.value, held)) {
          statusWord = "verified";
          detail = "reads back " + ValueText(gate.meaning, held);
        } else {
          statusWord = "not applied";
          detail = "the station acknowledged but reads back " + ValueText(gate.meaning, held) + " instead of " +
                   ValueText(gate.meaning, stored);
          Warn(gate.spec.gas + ": station " + std::to_string(gate.station) +
               " acknowledged the write but did not apply it: the point may be held by the device's own logic "
               "or by an override");
          if (exitCode == kExitOk) exitCode = kExitNotApplied;
        }
      }
    }
    rows.Row({TimeStamp(), gate.spec.gas, GateTypeName(gate.type), raw, text, statusWord, detail});
  }
  if (StopRequested() && exitCode == kExitOk) exitCode = kExitInterrupted;
  return exitCode;
}

}  // namespace zamhost
