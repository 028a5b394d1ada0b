#include "tests/support/driver_channel.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "driver/zam_main.h"

DriverChannel::DriverChannel(uint16_t channelNumber)
    : context_(std::make_unique<ChannelContext>()), channelNumber_(channelNumber) {
  memset(context_.get(), 0, sizeof(ChannelContext));
}

int32_t DriverChannel::Call(int32_t command, void *parameters) {
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.context = context_.get();
  request.command = command;
  request.channelNumber = channelNumber_;
  request.parameters = parameters;
  return ZamMain(&request);
}

int32_t DriverChannel::Init(const std::string &portName, int32_t timeout10ms, int32_t enabled) {
  InitChannelBlock block;
  memset(&block, 0, sizeof block);
  memcpy(block.portName, portName.c_str(), std::min(portName.size(), sizeof block.portName));
  block.enabled = enabled;
  block.timeout = timeout10ms;
  block.settings = PortSettings{9600, 8, 0, 0};
  return Call(kCmdInitChannel, &block);
}

int32_t DriverChannel::Parse(const std::string &gas, int32_t dataType, ParseBlock *out) {
  ParseBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas.c_str();
  block.dataType = dataType;
  block.itemCount = 1;
  int32_t status = Call(kCmdSingleParse, &block);
  block.gas = nullptr;
  if (out != nullptr) *out = block;
  return status;
}

int32_t DriverChannel::BlockCheck(const std::string &gas, int32_t dataType, int32_t items, ParseBlock *out) {
  ParseBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas.c_str();
  block.dataType = dataType;
  block.itemCount = items;
  int32_t status = Call(kCmdBlockParse, &block);
  block.gas = nullptr;
  if (out != nullptr) *out = block;
  return status;
}

ReadWriteBlock DriverChannel::BlockFromParse(const ParseBlock &parsed, const char *gas, int32_t dataType,
                                             void *value, int32_t items) {
  ReadWriteBlock block;
  memset(&block, 0, sizeof block);
  block.gas = gas;
  block.station = parsed.station;
  block.region = parsed.region;
  block.element = parsed.element;
  block.bit = parsed.bit;
  block.dataType = dataType;
  block.itemCount = items;
  block.value = value;
  return block;
}

int32_t DriverChannel::Read(const std::string &gas, int32_t dataType, void *value, int32_t items) {
  ParseBlock parsed;
  Parse(gas, dataType, &parsed);
  ReadWriteBlock block = BlockFromParse(parsed, gas.c_str(), dataType, value, items);
  return Call(kCmdSingleRead, &block);
}

int32_t DriverChannel::BlockReadItems(const std::string &gas, int32_t dataType, void *value, int32_t items) {
  ParseBlock parsed;
  BlockCheck(gas, dataType, items, &parsed);
  ReadWriteBlock block = BlockFromParse(parsed, gas.c_str(), dataType, value, items);
  return Call(kCmdBlockRead, &block);
}

int32_t DriverChannel::Write(const std::string &gas, int32_t dataType, void *value) {
  ParseBlock parsed;
  Parse(gas, dataType, &parsed);
  ReadWriteBlock block = BlockFromParse(parsed, gas.c_str(), dataType, value, 1);
  return Call(kCmdSingleWrite, &block);
}

int32_t DriverChannel::Close() { return Call(kCmdClosePort, nullptr); }

int32_t DriverChannel::WarmStartStation(int32_t station) {
  WarmStartBlock block{station};
  return Call(kCmdWarmStart, &block);
}
