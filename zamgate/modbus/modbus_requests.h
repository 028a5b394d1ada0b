// One Modbus request, decided: which answer a complete frame gets, from the
// register map and the gateway's values, and which writes it queues. The
// checks run in the order Modbus gives them (function, quantity, address,
// then the values), and a request is carried out whole or not at all: a
// range with an unmapped hole, or one that covers only half of a
// two-register value, is refused before anything is queued. No I/O: the
// server sends the answer that Handle leaves in the scratch mapping.
#ifndef ZAMKT_ZAMGATE_MODBUS_REQUESTS_H
#define ZAMKT_ZAMGATE_MODBUS_REQUESTS_H

#include <stdint.h>

#include <functional>
#include <vector>

#include <modbus/modbus.h>

#include "zamgate/modbus/modbus_config.h"
#include "zamgate/modbus/modbus_data_source.h"

namespace zamgate {

// The length of the MBAP header that leads every Modbus TCP frame.
constexpr int kMbapLength = 7;

struct RequestDecision {
  enum Kind {
    kReply,         // answer normally: modbus_reply with the scratch mapping
    kException,     // answer with exception `exception`
    kAfterWrites,   // the writes are queued; answer when done is called
  } kind = kReply;
  uint8_t exception = 0;
};

// The exception codes the server sends, and their names for logs and docs.
const char *ModbusExceptionName(uint8_t code);

class ModbusRequestHandler {
 public:
  ModbusRequestHandler(const ModbusConfig &config, ModbusDataSource &source);
  ~ModbusRequestHandler();
  ModbusRequestHandler(const ModbusRequestHandler &) = delete;
  ModbusRequestHandler &operator=(const ModbusRequestHandler &) = delete;

  // frame: one whole Modbus TCP frame (MBAP header and PDU). done is handed
  // to the write queue when writes are answered once done; it is called on
  // another thread.
  // client: who sent it, for the log of its writes.
  RequestDecision Handle(const uint8_t *frame, int length, std::function<void(WriteCompletion)> done,
                         const std::string &client = "a Modbus client");

  // The values of the last read, at their addresses, for modbus_reply.
  modbus_mapping_t *mapping() const { return mapping_; }

 private:
  RequestDecision Read(ModbusTable table, uint16_t address, int count);
  RequestDecision Write(ModbusTable table, uint16_t address, int count, const uint8_t *data, bool single,
                        std::function<void(WriteCompletion)> done, const std::string &client);
  // The entries that cover every address of the range, or false at a hole.
  bool Covering(ModbusTable table, uint16_t address, int count, std::vector<const ModbusMapEntry *> *entries) const;

  const ModbusConfig &config_;
  ModbusDataSource &source_;
  // Per table, at every address: the index of the map entry that covers it, or -1.
  std::vector<int32_t> index_[4];
  modbus_mapping_t *mapping_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_REQUESTS_H
