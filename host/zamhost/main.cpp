// zamhost: a command-line host for the ZAMKT driver. It loads libzamkt.so as
// the supervisory application does and speaks to it only through ZamMain.
#include <CLI/CLI.hpp>

#include "host/common/exit_codes.h"
#include "host/common/version.h"
#include "host/zamhost/cli_help.h"
#include "host/zamhost/commands.h"
#include "host/zamhost/interrupt.h"

namespace {

using zamhost::ChannelOptions;

constexpr const char *kDescription =
    "zamhost: a command-line host for the ZAMKT N2 driver (DX9100, XT9100, TC9100, N2 Open).\n"
    "It loads libzamkt.so as the supervisory application does and speaks to it only through ZamMain.\n"
    "Gates are named by their gate address (GAS), optionally with a type: 001AI01HR, 001AI01HR:real.\n"
    "Try: zamhost demo";

constexpr const char *kFooter =
    "Exit codes: 0 ok, 1 a station answered but the request failed, 2 bad command line or value,\n"
    "3 invalid gate, 4 port missing, held by another program or unusable, 5 a station does not answer,\n"
    "6 driver library not loadable, 7 write acknowledged but not applied (--verify), 8 simulator not startable.";

// A subcommand whose options may be repeated, the last one counting (as in
// most command-line tools), except where a list is collected.
CLI::App *AddCommand(CLI::App &app, const std::string &name, const std::string &description) {
  CLI::App *command = app.add_subcommand(name, description);
  command->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  return command;
}

void AddChannelOptions(CLI::App *command, ChannelOptions *options, bool portRequired) {
  const std::map<std::string, int> parities = {{"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4}};
  const std::map<std::string, int> stopBits = {{"1", 0}, {"1.5", 1}, {"2", 2}};
  // "5=N2OPEN": a bare address says nothing of the family.
  CLI::Validator stationForm(
      [](std::string &text) -> std::string {
        if (text.find('=') != std::string::npos) return "";
        return "'" + text + "' names no family: write ADDR=FAMILY, e.g. " + text + "=N2OPEN (XT9100, TC9100, N2OPEN)";
      },
      "", "");
  CLI::Option *port = command->add_option(
      "-p,--port", options->port,
      "serial port: COM1 (/dev/ttyS0), ttyUSB0 or pts/3 (under /dev), NUL, or any path");
  port->envname("ZAMHOST_PORT");
  if (portRequired) port->required();
  command->add_option("--baud", options->baud, "bits per second")->default_val(9600)->check(CLI::Range(50, 65535));
  command->add_option("--data-bits", options->dataBits, "data bits")->default_val(8)->check(CLI::Range(5, 8));
  command->add_option("--parity", options->parity, "none, odd, even, mark or space")
      ->default_str("none")
      ->type_name("PARITY")
      ->transform(zamhost::NamedChoice(parities, "a parity", {"none", "odd", "even", "mark", "space"}));
  command->add_option("--stop-bits", options->stopBits, "1, 1.5 or 2")
      ->default_str("1")
      ->type_name("BITS")
      ->transform(zamhost::NamedChoice(stopBits, "a number of stop bits", {"1", "1.5", "2"}));
  command->add_option("-t,--timeout", options->timeoutMs, "reply time-out in milliseconds (the driver tries 5 times)")
      ->default_val(1000)
      ->check(CLI::Range(10, 600000));
  command->add_option("--channel", options->channel, "channel number (names the station-type file ZAMKTnn.int)")
      ->default_val(1)
      ->check(CLI::Range(0, 99));
  command->add_option("-s,--station-types", options->stationTypesFile,
                      "station-type file to use wherever it lies (default: ZAMKTnn.int in the current folder)")
      ->check(CLI::ExistingFile);
  command->add_option("--station", options->stationTypes,
                      "a station's family, ADDR=FAMILY (XT9100, TC9100, N2OPEN); repeatable, after the file")
      ->type_name("ADDR=FAMILY")
      ->check(stationForm)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app(kDescription, "zamhost");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("zamhost ") + n2host::VersionText(),
                       "the version and the commit zamhost was built from");
  app.require_subcommand(1);
  app.fallthrough();

  zamhost::GlobalOptions global;
  app.add_option("--driver", global.driverPath, "driver library (default: libzamkt.so beside zamhost)");
  app.add_flag("-q,--quiet", global.quiet, "hide the driver's messages (QORPRO_LOG still receives them)");
  app.add_flag("-v,--verbose", global.verbose, "show the driver's start-up lines too");
  app.add_flag("--latin1", global.latin1, "gate lists are Latin-1 (Windows-1252) text, not UTF-8");
  const std::map<std::string, zamhost::OutputFormat> formats = {{"table", zamhost::OutputFormat::kTable},
                                                               {"csv", zamhost::OutputFormat::kCsv},
                                                               {"json", zamhost::OutputFormat::kJson}};
  auto addFormat = [&formats](CLI::App *command, zamhost::OutputFormat *format, const std::string &help) {
    command->add_option("-f,--format", *format, help)
        ->default_str("table")
        ->type_name("FORMAT")
        ->transform(zamhost::NamedChoice(formats, "an output format", {"table", "csv", "json"}));
  };

  CLI::App *info = AddCommand(app, "info", "the driver's catalogue text, record size, serial defaults and banner");

  zamhost::CheckOptions check;
  CLI::App *checkCommand =
      AddCommand(app, "check", "parse every gate (commands 3 and 4): invalid gates and the block reads a poll makes");
  checkCommand->add_option("gates", check.gates, "gate lists (*.csv) and GAS[:TYPE] items")->required()->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  AddChannelOptions(checkCommand, &check.channel, false);

  zamhost::ReadOptions read;
  CLI::App *readCommand = AddCommand(app, "read", "read gates once (command 5)");
  readCommand->add_option("gates", read.gates, "GAS[:TYPE] items and gate lists; TYPE: int16, uint16, real, int32, "
                                               "digital, auto (default)")
      ->required()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  readCommand->add_flag("--all", read.all, "read every gate of a station that did not answer (default: not tried)");
  addFormat(readCommand, &read.format, "table, csv or json (lines)");
  AddChannelOptions(readCommand, &read.channel, true);

  zamhost::WriteOptions write;
  CLI::App *writeCommand = AddCommand(app, "write", "write gates once (command 7)");
  writeCommand
      ->add_option("assignments", write.assignments,
                   "GAS[:TYPE]=VALUE; values as numbers or HH:MM, HH:MM:SS, YYYY-MM-DD, Mon-Fri, on/off; "
                   "an override tag (..._O) alone releases the override")
      ->required()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  writeCommand->add_flag("--verify", write.verify,
                         "read each point back and report a write the station acknowledged but did not apply");
  addFormat(writeCommand, &write.format, "table, csv or json (lines)");
  AddChannelOptions(writeCommand, &write.channel, true);

  zamhost::PollOptions poll;
  bool singleReads = false;
  CLI::App *pollCommand = AddCommand(app, "poll", "poll gates every interval until Ctrl-C or --cycles");
  pollCommand->add_option("gates", poll.gates, "gate lists (*.csv) and GAS[:TYPE] items")
      ->required()
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  pollCommand->add_option("-i,--interval", poll.intervalMs, "milliseconds from one cycle's start to the next")
      ->default_val(1000)
      ->check(CLI::Range(0, 86400000));
  pollCommand->add_option("-n,--cycles", poll.cycles, "stop after N cycles (0: until Ctrl-C)")
      ->default_val(0)
      ->check(CLI::NonNegativeNumber);
  addFormat(pollCommand, &poll.format, "table (fitted to the terminal's screen), csv or json (lines)");
  pollCommand->add_flag("--no-blocks", singleReads, "read every gate singly (no block reads)");
  pollCommand->add_option("--demote-after", poll.demoteAfter, "replies missed in a row that demote a station")
      ->default_val(3)
      ->check(CLI::Range(1, 1000));
  pollCommand->add_option("--retry-every", poll.retryEvery, "a demoted station is polled every N cycles")
      ->default_val(5)
      ->check(CLI::Range(1, 1000));
  AddChannelOptions(pollCommand, &poll.channel, true);

  zamhost::ScanOptions scan;
  CLI::App *scanCommand = AddCommand(app, "scan", "what is on the bus: a System 91 read and the N2 Open initialisation at every address");
  scanCommand->add_option("--from", scan.from, "first address")->default_val(1)->check(CLI::Range(1, 254));
  scanCommand->add_option("--to", scan.to, "last address")->default_val(254)->check(CLI::Range(1, 254));
  scanCommand->add_option("--write-station-file", scan.stationFile, "write the station-type file for what was found");
  scanCommand->add_option("--family", scan.families, "a System 91 station's family, ADDR=TYPE (XT9100, TC9100); repeatable")
      ->type_name("ADDR=TYPE")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  scanCommand->add_flag("--all", scan.all, "identify addresses silent to the presence probe too (slow: every family's tests)");
  scanCommand
      ->add_option("--probe-timeout", scan.probeTimeoutMs,
                   "the presence probe's reply time-out in milliseconds (default: the probe's time on the line "
                   "and 10 ms, 20 ms at 9600 baud)")
      ->check(CLI::Range(10, 60000));
  scanCommand->add_flag("--points", scan.points, "list each station's process points that answer");
  scanCommand->add_option("--write-gates", scan.gatesFile, "write the points that answer as a gate list (CSV)");
  scanCommand->add_option("--write-config", scan.configFile, "write a zamgate configuration (TOML) using the gate list");
  scanCommand->add_option("--gateway-id", scan.gatewayId, "the [gateway] id of --write-config")->default_val("bus1");
  scanCommand->add_flag("--force", scan.force, "replace files that exist and station lines the scan contradicts");
  addFormat(scanCommand, &scan.format, "table, csv or json (lines)");
  AddChannelOptions(scanCommand, &scan.channel, true);

  zamhost::ClockOptions clock;
  CLI::App *clockCommand =
      AddCommand(app, "clock", "the stations' clocks (DX9100, TC9100) against the host's; --sync sets them");
  clockCommand->add_option("stations", clock.stations, "station addresses (default: every station that answers)")
      ->check(CLI::Range(1, 254))
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  clockCommand->add_flag("--sync", clock.sync, "set each clock from the host's clock first");
  clockCommand
      ->add_option("--probe-timeout", clock.probeTimeoutMs,
                   "the presence probe's reply time-out in milliseconds (default as for scan)")
      ->check(CLI::Range(10, 60000));
  addFormat(clockCommand, &clock.format, "table, csv or json (lines)");
  AddChannelOptions(clockCommand, &clock.channel, true);

  zamhost::DemoOptions demo;
  CLI::App *demoCommand =
      AddCommand(app, "demo", "start the simulator n2sim and tour zamhost against its default plant");
  demoCommand->add_option("--simulator", demo.simulator, "the simulator (default: n2sim beside zamhost)");
  demoCommand->add_flag("--keep", demo.keepFolder, "keep the demo's folder (gate list, station-type file, log)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    if (error.get_exit_code() == 0) return app.exit(error);
    std::string mistake = zamhost::ExplainMistake(app, argc, argv);
    if (mistake.empty()) {
      // CLI11's own words, without its "--help" advice line.
      mistake = error.what();
    }
    fprintf(stderr, "zamhost: %s\n", mistake.c_str());
    return zamhost::kExitUsage;
  }
  zamhost::InstallInterruptHandlers();
  poll.blocks = !singleReads;

  if (info->parsed()) return zamhost::RunInfo(global);
  if (checkCommand->parsed()) return zamhost::RunCheck(global, check);
  if (readCommand->parsed()) return zamhost::RunRead(global, read);
  if (writeCommand->parsed()) return zamhost::RunWrite(global, write);
  if (pollCommand->parsed()) return zamhost::RunPoll(global, poll);
  if (demoCommand->parsed()) return zamhost::RunDemo(global, demo);
  if (scanCommand->parsed()) return zamhost::RunScan(global, scan);
  if (clockCommand->parsed()) return zamhost::RunClock(global, clock);
  return zamhost::kExitUsage;
}
