#include "zamgate/modbus/modbus_requests.h"

#include <stdexcept>

#include "zamgate/modbus/modbus_values.h"

namespace zamgate {
namespace {

// The function codes served, as the Modbus application protocol lists them.
enum class Access { kRead, kWriteSingle, kWriteMultiple };
struct FunctionRow {
  uint8_t code;
  ModbusTable table;
  Access access;
  int maxCount;  // the most items one request may carry
};
constexpr FunctionRow kFunctions[] = {
    {MODBUS_FC_READ_COILS, ModbusTable::kCoil, Access::kRead, MODBUS_MAX_READ_BITS},
    {MODBUS_FC_READ_DISCRETE_INPUTS, ModbusTable::kDiscreteInput, Access::kRead, MODBUS_MAX_READ_BITS},
    {MODBUS_FC_READ_HOLDING_REGISTERS, ModbusTable::kHoldingRegister, Access::kRead, MODBUS_MAX_READ_REGISTERS},
    {MODBUS_FC_READ_INPUT_REGISTERS, ModbusTable::kInputRegister, Access::kRead, MODBUS_MAX_READ_REGISTERS},
    {MODBUS_FC_WRITE_SINGLE_COIL, ModbusTable::kCoil, Access::kWriteSingle, 1},
    {MODBUS_FC_WRITE_SINGLE_REGISTER, ModbusTable::kHoldingRegister, Access::kWriteSingle, 1},
    {MODBUS_FC_WRITE_MULTIPLE_COILS, ModbusTable::kCoil, Access::kWriteMultiple, MODBUS_MAX_WRITE_BITS},
    {MODBUS_FC_WRITE_MULTIPLE_REGISTERS, ModbusTable::kHoldingRegister, Access::kWriteMultiple,
     MODBUS_MAX_WRITE_REGISTERS},
};

struct ExceptionRow {
  uint8_t code;
  const char *name;
};
constexpr ExceptionRow kExceptions[] = {
    {MODBUS_EXCEPTION_ILLEGAL_FUNCTION, "illegal function"},
    {MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS, "illegal data address"},
    {MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE, "illegal data value"},
    {MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE, "server device failure"},
    {MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY, "server device busy"},
    {MODBUS_EXCEPTION_GATEWAY_PATH, "gateway path unavailable"},
    {MODBUS_EXCEPTION_GATEWAY_TARGET, "gateway target device failed to respond"},
};

// The value a coil write carries for on and off; anything else is refused.
constexpr uint16_t kCoilOn = 0xFF00;
constexpr uint16_t kCoilOff = 0x0000;

RequestDecision Exception(uint8_t code) { return {RequestDecision::kException, code}; }

uint16_t Word(const uint8_t *bytes) { return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]); }

size_t TableIndex(ModbusTable table) { return static_cast<size_t>(table); }

}  // namespace

const char *ModbusExceptionName(uint8_t code) {
  for (const ExceptionRow &row : kExceptions) {
    if (row.code == code) return row.name;
  }
  return "exception";
}

ModbusRequestHandler::ModbusRequestHandler(const ModbusConfig &config, ModbusDataSource &source)
    : config_(config), source_(source) {
  for (std::vector<int32_t> &index : index_) index.assign(65536, -1);
  for (size_t i = 0; i < config_.map.size(); ++i) {
    const ModbusMapEntry &entry = config_.map[i];
    for (int k = 0; k < entry.words; ++k) index_[TableIndex(entry.table)][entry.address + k] = static_cast<int32_t>(i);
  }
  // One scratch mapping over every address: a request's values are put at
  // their addresses and modbus_reply frames the answer from there.
  mapping_ = modbus_mapping_new(65536, 65536, 65536, 65536);
  if (mapping_ == nullptr) throw std::runtime_error("modbus: cannot allocate the register mapping");
}

ModbusRequestHandler::~ModbusRequestHandler() { modbus_mapping_free(mapping_); }

RequestDecision ModbusRequestHandler::Handle(const uint8_t *frame, int length,
                                             std::function<void(WriteCompletion)> done, const std::string &client) {
  if (frame == nullptr || length < kMbapLength + 1) return Exception(MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
  const uint8_t unit = frame[kMbapLength - 1];
  if (unit != config_.unitId) return Exception(MODBUS_EXCEPTION_GATEWAY_PATH);
  const uint8_t function = frame[kMbapLength];
  const FunctionRow *row = nullptr;
  for (const FunctionRow &candidate : kFunctions) {
    if (candidate.code == function) row = &candidate;
  }
  if (row == nullptr) return Exception(MODBUS_EXCEPTION_ILLEGAL_FUNCTION);

  // Every function served starts with an address and a quantity (or value).
  const uint8_t *pdu = frame + kMbapLength;
  const int pduLength = length - kMbapLength;
  if (pduLength < 5) return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
  const uint16_t address = Word(pdu + 1);
  switch (row->access) {
    case Access::kRead: {
      int count = Word(pdu + 3);
      if (pduLength != 5 || count < 1 || count > row->maxCount) return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
      return Read(row->table, address, count);
    }
    case Access::kWriteSingle:
      if (pduLength != 5) return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
      if (row->table == ModbusTable::kCoil && Word(pdu + 3) != kCoilOn && Word(pdu + 3) != kCoilOff) {
        return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
      }
      return Write(row->table, address, 1, pdu + 3, true, std::move(done), client);
    case Access::kWriteMultiple: {
      int count = Word(pdu + 3);
      int bytes = pduLength >= 6 ? pdu[5] : -1;
      int expected = row->table == ModbusTable::kCoil ? (count + 7) / 8 : count * 2;
      if (count < 1 || count > row->maxCount || bytes != expected || pduLength != 6 + bytes) {
        return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
      }
      return Write(row->table, address, count, pdu + 6, false, std::move(done), client);
    }
  }
  return Exception(MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
}

bool ModbusRequestHandler::Covering(ModbusTable table, uint16_t address, int count,
                                    std::vector<const ModbusMapEntry *> *entries) const {
  entries->clear();
  if (address + count > 65536) return false;
  const std::vector<int32_t> &index = index_[TableIndex(table)];
  int32_t last = -1;
  for (int a = address; a < address + count; ++a) {
    int32_t entry = index[static_cast<size_t>(a)];
    if (entry < 0) return false;
    if (entry != last) entries->push_back(&config_.map[static_cast<size_t>(entry)]);
    last = entry;
  }
  return true;
}

RequestDecision ModbusRequestHandler::Read(ModbusTable table, uint16_t address, int count) {
  std::vector<const ModbusMapEntry *> entries;
  if (!Covering(table, address, count, &entries)) return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
  std::vector<size_t> gates;
  gates.reserve(entries.size());
  for (const ModbusMapEntry *entry : entries) gates.push_back(entry->gate);
  std::vector<ModbusReading> readings;
  source_.Read(gates, &readings);

  for (size_t i = 0; i < entries.size(); ++i) {
    const ModbusReading &reading = readings[i];
    if (!reading.good && (config_.notGood == NotGoodAnswer::kException || !reading.hasValue)) {
      return Exception(MODBUS_EXCEPTION_GATEWAY_TARGET);
    }
    const ModbusMapEntry &entry = *entries[i];
    switch (table) {
      case ModbusTable::kCoil:
        mapping_->tab_bits[entry.address] = EncodeBit(reading.value);
        break;
      case ModbusTable::kDiscreteInput:
        mapping_->tab_input_bits[entry.address] = EncodeBit(reading.value);
        break;
      case ModbusTable::kHoldingRegister:
      case ModbusTable::kInputRegister: {
        uint16_t words[2];
        int n = EncodeRegisters(reading.value, entry.type, config_.wordOrder, words);
        uint16_t *registers =
            table == ModbusTable::kHoldingRegister ? mapping_->tab_registers : mapping_->tab_input_registers;
        for (int k = 0; k < n && entry.address + k < 65536; ++k) registers[entry.address + k] = words[k];
        break;
      }
    }
  }
  return {RequestDecision::kReply, 0};
}

RequestDecision ModbusRequestHandler::Write(ModbusTable table, uint16_t address, int count, const uint8_t *data,
                                            bool single, std::function<void(WriteCompletion)> done,
                                            const std::string &client) {
  std::vector<const ModbusMapEntry *> entries;
  if (!Covering(table, address, count, &entries)) return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
  // A write must start and end on a whole value: half of a real or an int32
  // would send a value the client never meant.
  const ModbusMapEntry &first = *entries.front();
  const ModbusMapEntry &last = *entries.back();
  if (first.address != address || last.address + last.words != address + count) {
    return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
  }

  std::vector<ModbusWrite> writes;
  for (const ModbusMapEntry *entry : entries) {
    ModbusWrite write;
    write.gate = entry->gate;
    int offset = entry->address - address;
    if (table == ModbusTable::kCoil) {
      bool on = single ? Word(data) == kCoilOn : (data[offset / 8] >> (offset % 8)) & 1;
      write.value = DecodeBit(on);
    } else {
      uint16_t words[2] = {0, 0};
      for (int k = 0; k < entry->words; ++k) words[k] = Word(data + 2 * (offset + k));
      std::string why;
      if (!DecodeRegisters(entry->type, config_.wordOrder, words, &write.value, &why)) {
        return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
      }
    }
    writes.push_back(write);
  }

  bool afterDone = config_.writeReply == WriteReply::kWhenDone;
  std::string reason;
  WriteAdmission admission =
      source_.Submit(client, writes, afterDone ? std::move(done) : [](WriteCompletion) {}, &reason);
  switch (admission) {
    case WriteAdmission::kBusy:
      return Exception(MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY);
    case WriteAdmission::kInvalid:
      return Exception(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    case WriteAdmission::kQueued:
      break;
  }
  return {afterDone ? RequestDecision::kAfterWrites : RequestDecision::kReply, 0};
}

}  // namespace zamgate
