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

  // Commands 3 and 4. Their messages come back in the result, not to the sink.
  ParseResult Parse(const std::string &gas, int type);
  ParseResult BlockCheck(const std::string &gas, int type, int items);

  // Commands 5, 6 and 7 for a gate that command 3 accepted; the driver's status.
  int32_t Read(const Gate &gate, ValueBuffer *value);
  int32_t BlockRead(const Gate &first, int items, ValueBuffer *value);
  int32_t Write(const Gate &gate, ValueBuffer *value);

  // Command 11; also done by the destructor.
  void Close();

  // Commands 11 and 13: lets go of a port that went away and opens it again
  // under its name (a hung-up terminal must be closed before the new one is
  // opened). The driver's status: 0 open again, 2 still gone.
  int32_t Reopen();

  // Command 2: resynchronises a station (an N2 Open station is initialised
  // again, as it must be after its line came back).
  void WarmStart(int32_t station);

  // The messages the driver logged during the last command 1, 5, 6, 7, 11 or
  // 13 (also passed to the sink): a failure's reason is among them.
  const std::vector<DriverMessage> &lastMessages() const { return lastMessages_; }

  const ChannelOptions &options() const { return options_; }
  // The port name the driver was given.
  const std::string &driverPortName() const { return driverPortName_; }

 private:
  int32_t Send(int32_t command, void *parameters);
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
};

}  // namespace n2host

#endif  // ZAMKT_HOST_COMMON_CHANNEL_H
