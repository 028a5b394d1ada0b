// One channel of the driver, driven as the supervisory application drives
// it: a ChannelContext of the size command 14 reports, command 1 to start it,
// commands 3 and 4 to parse gates, 5, 6 and 7 to read and write, 11 to close.
#ifndef ZAMKT_HOST_COMMON_CHANNEL_H
#define ZAMKT_HOST_COMMON_CHANNEL_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/requests.h"
#include "host/common/driver_library.h"
#include "host/common/driver_log.h"
#include "host/common/gate.h"
#include "host/common/value_buffer.h"

namespace n2host {

struct ChannelOptions {
  std::string port;             // the driver's port name form or any path
  int baud = 9600;
  int dataBits = 8;
  int parity = 0;               // 0 none, 1 odd, 2 even, 3 mark, 4 space
  int stopBits = 0;             // 0 one, 1 one and a half, 2 two
  int timeoutMs = 1000;         // per reply; the driver counts in units of 10 ms
  int channel = 1;              // names the station-type file ZAMKT%02d.int
  std::string stationTypesFile; // the user's station-type file, anywhere
  std::vector<std::string> stationTypes;  // "ADDR=FAMILY" assignments
};

// The outcome of command 3 or 4, with the messages the driver logged for it.
struct ParseResult {
  int32_t status = 1;
  ParseBlock block{};
  std::vector<DriverMessage> messages;
};

// The driver's statuses of a read or write.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusBadReply = 1;  // a reply that failed its checks, or a refusal
constexpr int32_t kStatusNoReply = 2;

// "ok", "bad reply" (status 1), "no reply" (status 2).
std::string StatusWord(int32_t status);

class Channel {
 public:
  Channel(const DriverLibrary &driver, DriverLog &log);
  ~Channel();  // closes the port (command 11) and removes a port link
  Channel(const Channel &) = delete;
  Channel &operator=(const Channel &) = delete;

  // Where the driver's messages of commands 1, 5, 6 and 7 go; with
  // failuresOnly, only those of requests that failed (the ones that explain
  // a failure), without the chatter of requests that went well.
  void SetSink(MessageSink sink, bool failuresOnly = false) {
    sink_ = std::move(sink);
    failuresOnly_ = failuresOnly;
  }
  const MessageSink &sink() const { return sink_; }

  // Starts the channel (command 1) with the station-type file in place.
  // False with a message a user can act on and the exit code for it.
  bool Open(const ChannelOptions &options, std::string *error, int *exitCode);

  // Open, but a port that cannot be opened now (missing, held) is waited
  // for: the channel starts on the null device so that gates parse,
  // *portMissing is set and Reopen() opens the port once it is there. False
  // for every other failure, as Open.
  bool OpenOrWait(const ChannelOptions &options, std::string *error, int *exitCode, bool *portMissing);

  // Commands 3 and 4. Their messages come back in the result, not to the sink.
  ParseResult Parse(const std::string &gas, int type);
  ParseResult BlockCheck(const std::string &gas, int type, int items);

  // Commands 5, 6 and 7 for a gate that command 3 accepted; the driver's status.
  int32_t Read(const Gate &gate, ValueBuffer *value);
  int32_t BlockRead(const Gate &first, int items, ValueBuffer *value);
  int32_t Write(const Gate &gate, ValueBuffer *value);

  // Command 11; also done by the destructor.
  void Close();

  // Command 11, then command 1 again: lets go of a port that went away and
  // starts the channel again on it (a hung-up terminal must be closed before
  // the new one is opened), with the configured reply time-out, which the
  // reopen of command 13 would reset to the driver's default. 0 open again,
  // 2 still gone.
  int32_t Reopen();

  // Command 2: resynchronises a station (an N2 Open station is initialised
  // again, as it must be after its line came back).
  void WarmStart(int32_t station);

  // The messages the driver logged during the last command 1, 5, 6, 7, 11 or
  // 13 (also passed to the sink): a failure's reason is among them.
  const std::vector<DriverMessage> &lastMessages() const { return lastMessages_; }

  const ChannelOptions &options() const { return options_; }
  // The family the channel's record holds for a station ("DX9100", "N2OPEN",
  // ...), as the station-type file set it; "" out of range.
  std::string StationFamily(int32_t station) const;
  // The port name the driver was given.
  const std::string &driverPortName() const { return driverPortName_; }

 private:
  int32_t Send(int32_t command, void *parameters);
  // Send, with the messages passed to the sink only when forward is set.
  int32_t Call(int32_t command, void *parameters, bool forward);
  // Command 1 with the block, in the station-type folder when there is one.
  int32_t Start(const InitChannelBlock &block, bool forward, std::string *error);
  void Forward(bool toSink);
  ReadWriteBlock BlockFor(const Gate &gate, int items, ValueBuffer *value) const;

  const DriverLibrary &driver_;
  DriverLog &log_;
  MessageSink sink_;
  bool failuresOnly_ = false;
  std::unique_ptr<uint8_t[]> context_;
  ChannelOptions options_;
  std::string driverPortName_;
  std::string portLink_;
  std::vector<DriverMessage> lastMessages_;
  bool open_ = false;
  InitChannelBlock initBlock_{};  // command 1's block, for the restarts of Reopen
  std::string stationTypesText_;   // the station-type file written for command 1
  bool hasStationTypesText_ = false;
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_CHANNEL_H
