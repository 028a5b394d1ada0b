// What the Modbus server needs from the gateway: the gates' current values as
// the poller holds them, and the one write queue. The server never touches
// the N2 bus itself; the gateway's store and queue sit behind this.
#ifndef ZAMKT_ZAMGATE_MODBUS_DATA_SOURCE_H
#define ZAMKT_ZAMGATE_MODBUS_DATA_SOURCE_H

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

#include "host/common/value_text.h"

namespace zamgate {

// One gate as the poller last saw it.
struct ModbusReading {
  bool good = false;      // read in the last poll of its station
  bool hasValue = false;  // a good value was read at some time
  n2host::GateValue value;  // the last good value
};

struct ModbusWrite {
  size_t gate = 0;  // index in the gateway's gate list
  n2host::GateValue value;
};

enum class WriteAdmission {
  kQueued,   // every write passed its checks and is queued
  kBusy,     // the queue has no room for them all: nothing was queued
  kInvalid,  // a value was refused: nothing was queued
};

// How a queued group of writes ended, once the last is done.
enum class WriteCompletion {
  kDone,       // every write was taken (and read back where it can be)
  kNoReply,    // a station did not answer
  kFailed,     // refused, not applied, or cancelled
};

class ModbusDataSource {
 public:
  virtual ~ModbusDataSource() = default;

  // The readings of these gates, in order, all taken at one moment. Must not
  // wait on the bus.
  virtual void Read(const std::vector<size_t> &gates, std::vector<ModbusReading> *readings) = 0;

  // Checks every write and queues all of them or none. On kQueued, done is
  // called once, on another thread, when the last of them has finished; on
  // refusal it is never called and reason says why.
  // client: who asked ("127.0.0.1:50412"), for the log.
  virtual WriteAdmission Submit(const std::string &client, const std::vector<ModbusWrite> &writes,
                                std::function<void(WriteCompletion)> done, std::string *reason) = 0;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_MODBUS_DATA_SOURCE_H
