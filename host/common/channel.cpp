#include "host/common/channel.h"

#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "host/common/exit_cleanup.h"
#include "host/common/exit_codes.h"
#include "host/common/serial_port_name.h"
#include "host/common/station_types_file.h"

namespace n2host {
namespace {

constexpr int32_t kStatusPortFailed = 2;

// Changes into a folder for the lifetime of the object.
class FolderChange {
 public:
  explicit FolderChange(const std::string &folder) {
    char current[PATH_MAX];
    if (getcwd(current, sizeof current) != nullptr) previous_ = current;
    changed_ = chdir(folder.c_str()) == 0;
  }
  ~FolderChange() {
    if (changed_ && !previous_.empty()) (void)chdir(previous_.c_str());
  }
  bool changed() const { return changed_; }

 private:
  std::string previous_;
  bool changed_ = false;
};

// A request of the channel without its parameter block.
DriverRequest RequestFor(uint8_t *context, int channel, int32_t command) {
  DriverRequest request{};
  request.context = reinterpret_cast<ChannelContext *>(context);
  request.command = command;
  request.channelNumber = static_cast<uint16_t>(channel);
  return request;
}

// Commands 3 and 4 take the same parse block and differ only in the item
// count. The messages the driver logs for them come back in the result.
ParseResult ParseGate(const DriverLibrary &driver, DriverLog &log, DriverRequest request, const std::string &gas,
                      int type, int items) {
  ParseResult result;
  result.block.gas = gas.c_str();
  result.block.dataType = type;
  result.block.itemCount = items;
  request.parameters = &result.block;
  result.status = driver.Call(&request);
  result.messages = log.Take();
  result.block.gas = nullptr;
  return result;
}

}  // namespace

Channel::Channel(const DriverLibrary &driver, DriverLog &log) : driver_(driver), log_(log) {
  // The record is the host's, of the size the driver asks for.
  int32_t size = driver_.Info().recordSize;
  if (size < static_cast<int32_t>(sizeof(ChannelContext))) size = static_cast<int32_t>(sizeof(ChannelContext));
  // operator new[] aligns for every fundamental type, which is all the record holds.
  context_.reset(new uint8_t[static_cast<size_t>(size)]());
}

Channel::~Channel() {
  Close();
  if (!portLink_.empty()) {
    unlink(portLink_.c_str());
    ForgetPath(portLink_);
  }
}

bool Channel::Open(const ChannelOptions &options, std::string *error, int *exitCode) {
  options_ = options;
  *exitCode = kExitPort;
  if (!DriverPortName(options.port, &driverPortName_, &portLink_, error)) return false;
  // Removed by the destructor, or by a signal that ends the program at once.
  RemovePathOnExit(portLink_);

  // The station-type file the user means, written where the driver looks.
  StationTypesFolder folder;
  if (!options.stationTypesFile.empty() || !options.stationTypes.empty()) {
    *exitCode = kExitUsage;
    std::string fileText;
    if (!options.stationTypesFile.empty()) {
      std::ifstream in(options.stationTypesFile, std::ios::binary);
      if (!in) {
        *error = "cannot read the station-type file '" + options.stationTypesFile + "'";
        return false;
      }
      std::ostringstream text;
      text << in.rdbuf();
      fileText = text.str();
    }
    std::vector<std::string> lines;
    for (const std::string &assignment : options.stationTypes) {
      std::string line;
      if (!StationTypeLine(assignment, &line, error)) return false;
      lines.push_back(line);
    }
    if (!folder.Create(options.channel, StationTypesText(fileText, lines), error)) return false;
  }

  InitChannelBlock block{};
  strncpy(block.portName, driverPortName_.c_str(), kPortNameSize - 1);
  block.enabled = 1;
  block.timeout = options.timeoutMs <= 0 ? 1 : (options.timeoutMs + 9) / 10;
  block.settings.baud = static_cast<uint16_t>(options.baud);
  block.settings.dataBits = static_cast<uint16_t>(options.dataBits);
  block.settings.stopBits = static_cast<uint16_t>(options.stopBits);
  block.settings.parity = static_cast<uint16_t>(options.parity);

  int32_t status;
  if (folder.path().empty()) {
    status = Send(kCmdInitChannel, &block);
  } else {
    FolderChange change(folder.path());
    status = Send(kCmdInitChannel, &block);
  }
  if (status == kStatusPortFailed) {
    *exitCode = kExitPort;
    // The user's own name for the port, not the short link it reached the
    // driver through: the link means nothing to the user and is removed.
    *error = DiagnosePortFailure(options.port);
    return false;
  }
  open_ = true;
  return true;
}

ParseResult Channel::Parse(const std::string &gas, int type) {
  return ParseGate(driver_, log_, RequestFor(context_.get(), options_.channel, kCmdSingleParse), gas, type, 1);
}

ParseResult Channel::BlockCheck(const std::string &gas, int type, int items) {
  return ParseGate(driver_, log_, RequestFor(context_.get(), options_.channel, kCmdBlockParse), gas, type, items);
}

ReadWriteBlock Channel::BlockFor(const Gate &gate, int items, ValueBuffer *value) const {
  ReadWriteBlock block{};
  block.gas = gate.spec.gas.c_str();
  block.station = gate.station;
  block.region = gate.region;
  block.element = gate.element;
  block.bit = gate.bit;
  block.dataType = gate.type;
  block.itemCount = items;
  block.value = value->bytes;
  return block;
}

int32_t Channel::Read(const Gate &gate, ValueBuffer *value) {
  ReadWriteBlock block = BlockFor(gate, 1, value);
  return Send(kCmdSingleRead, &block);
}

int32_t Channel::BlockRead(const Gate &first, int items, ValueBuffer *value) {
  ReadWriteBlock block = BlockFor(first, items, value);
  return Send(kCmdBlockRead, &block);
}

int32_t Channel::Write(const Gate &gate, ValueBuffer *value) {
  ReadWriteBlock block = BlockFor(gate, 1, value);
  return Send(kCmdSingleWrite, &block);
}

void Channel::Close() {
  if (!open_) return;
  open_ = false;
  Send(kCmdClosePort, nullptr);
}

int32_t Channel::Send(int32_t command, void *parameters) {
  DriverRequest request = RequestFor(context_.get(), options_.channel, command);
  request.parameters = parameters;
  int32_t status = driver_.Call(&request);
  Forward(status != 0 || !failuresOnly_);
  return status;
}

int32_t Channel::Reopen() {
  Send(kCmdClosePort, nullptr);
  int32_t status = Send(kCmdReopenPort, nullptr);
  open_ = true;  // command 11 at the end is harmless either way
  return status;
}

void Channel::WarmStart(int32_t station) {
  WarmStartBlock block{station};
  Send(kCmdWarmStart, &block);
}

void Channel::Forward(bool toSink) {
  lastMessages_ = log_.Take();
  // The driver knows a long port path only by its short link, which means
  // nothing to the user: its messages name the path the user gave.
  if (!portLink_.empty()) {
    for (DriverMessage &message : lastMessages_) {
      for (size_t at = message.text.find(portLink_); at != std::string::npos;
           at = message.text.find(portLink_, at + options_.port.size())) {
        message.text.replace(at, portLink_.size(), options_.port);
      }
    }
  }
  if (!toSink) return;
  for (const DriverMessage &message : lastMessages_) {
    if (sink_) sink_(message);
  }
}

std::string StatusWord(int32_t status) {
  if (status == 0) return "ok";
  if (status == kStatusNoReply) return "no reply";
  return "bad reply";
}

}  // namespace n2host
