// Test fixtures that drive the driver as the host does: through ZamMain, with
// the records built as a host builds them.
#ifndef ZAMKT_TESTS_SUPPORT_DRIVER_CHANNEL_H
#define ZAMKT_TESTS_SUPPORT_DRIVER_CHANNEL_H

#include <memory>
#include <string>
#include <vector>

#include "driver/requests.h"

// Points QORPRO_LOG at a fresh file for its lifetime and reads it back.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  // Messages logged since construction or the last Clear(), without levels.
  std::vector<std::string> Messages() const;
  // The same as "level\tmessage".
  std::vector<std::string> Lines() const;
  void Clear();
  // True when some message equals text exactly.
  bool Contains(const std::string &text) const;

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// Changes into a fresh temporary directory for its lifetime (the driver reads
// the station-type file from the current directory), and back afterwards.
class TempWorkDir {
 public:
  TempWorkDir();
  ~TempWorkDir();
  const std::string &path() const { return path_; }
  // Writes a file in the directory.
  void WriteFile(const std::string &name, const std::string &content) const;

 private:
  std::string path_;
  std::string previous_;
};

// One channel of the driver on a port: owns the ChannelContext.
class DriverChannel {
 public:
  explicit DriverChannel(uint16_t channelNumber = 1);

  ChannelContext *context() { return context_.get(); }

  // Sends a request with the given command and parameter block.
  int32_t Call(int32_t command, void *parameters);

  // Command 1 on the port with 9600 8N1 and the time-out (units of 10 ms).
  int32_t Init(const std::string &portName, int32_t timeout10ms = 10, int32_t enabled = 1);
  // Command 3 / 4 on gas with the data type (and item count for 4).
  int32_t Parse(const std::string &gas, int32_t dataType, ParseBlock *out = nullptr);
  int32_t BlockCheck(const std::string &gas, int32_t dataType, int32_t items, ParseBlock *out = nullptr);
  // Parses gas with command 3, then sends command 5 / 6 / 7 with the parse
  // results and the value buffer, as a host does. The status of the parse is
  // not checked; read/write blocks take its outputs as they are.
  int32_t Read(const std::string &gas, int32_t dataType, void *value, int32_t items = 1);
  int32_t BlockReadItems(const std::string &gas, int32_t dataType, void *value, int32_t items);
  int32_t Write(const std::string &gas, int32_t dataType, void *value);
  // Builds the read/write block from a parse block.
  static ReadWriteBlock BlockFromParse(const ParseBlock &parsed, const char *gas, int32_t dataType,
                                       void *value, int32_t items);
  // Commands 11 (close) and 2 (warm start).
  int32_t Close();
  int32_t WarmStartStation(int32_t station);

 private:
  std::unique_ptr<ChannelContext> context_;
  uint16_t channelNumber_;
};

#endif  // ZAMKT_TESTS_SUPPORT_DRIVER_CHANNEL_H
