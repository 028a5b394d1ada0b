// The Modbus client of the zamgate tests: libmodbus as an integrator's SCADA
// would use it, against the gateway's server on a loopback port. Every call
// waits at most two seconds for its answer.
#ifndef ZAMKT_TESTS_ZAMGATE_MODBUS_CLIENT_H
#define ZAMKT_TESTS_ZAMGATE_MODBUS_CLIENT_H

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <modbus/modbus.h>

namespace zamgate_test {

class ModbusClient {
 public:
  explicit ModbusClient(int port, int unit = 1) : ctx_(modbus_new_tcp("127.0.0.1", port)) {
    modbus_set_slave(ctx_, unit);
    modbus_set_response_timeout(ctx_, 2, 0);
    connected_ = modbus_connect(ctx_) == 0;
  }
  ~ModbusClient() {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
  ModbusClient(const ModbusClient &) = delete;
  ModbusClient &operator=(const ModbusClient &) = delete;

  bool connected() const { return connected_; }
  modbus_t *ctx() { return ctx_; }

  // The registers, or empty with the error in lastError().
  std::vector<uint16_t> Registers(bool holding, int address, int count) {
    std::vector<uint16_t> words(static_cast<size_t>(count));
    int got = holding ? modbus_read_registers(ctx_, address, count, words.data())
                      : modbus_read_input_registers(ctx_, address, count, words.data());
    return Result(got == count, words);
  }
  std::vector<uint8_t> Bits(bool coils, int address, int count) {
    std::vector<uint8_t> bits(static_cast<size_t>(count));
    int got = coils ? modbus_read_bits(ctx_, address, count, bits.data())
                    : modbus_read_input_bits(ctx_, address, count, bits.data());
    return Result(got == count, bits);
  }
  // 0 when the write was answered normally, otherwise errno (EMBX... for an exception).
  int WriteRegisters(int address, const std::vector<uint16_t> &words) {
    return Status(modbus_write_registers(ctx_, address, static_cast<int>(words.size()), words.data()));
  }
  int WriteRegister(int address, uint16_t word) { return Status(modbus_write_register(ctx_, address, word)); }
  int WriteBit(int address, bool on) { return Status(modbus_write_bit(ctx_, address, on ? 1 : 0)); }
  int WriteBits(int address, const std::vector<uint8_t> &bits) {
    return Status(modbus_write_bits(ctx_, address, static_cast<int>(bits.size()), bits.data()));
  }
  // A request PDU as given (function code first); the exception code of the
  // answer, 0 for a normal answer, -1 for none.
  int Raw(const std::vector<uint8_t> &pdu) {
    std::vector<uint8_t> request;
    request.push_back(static_cast<uint8_t>(modbus_get_slave(ctx_)));
    request.insert(request.end(), pdu.begin(), pdu.end());
    if (modbus_send_raw_request(ctx_, request.data(), static_cast<int>(request.size())) < 0) return -1;
    uint8_t answer[MODBUS_TCP_MAX_ADU_LENGTH];
    int length = modbus_receive_confirmation(ctx_, answer);
    if (length < 9) return -1;
    return (answer[7] & 0x80) != 0 ? answer[8] : 0;
  }
  int lastError() const { return lastError_; }

 private:
  template <typename T>
  std::vector<T> Result(bool ok, std::vector<T> &values) {
    lastError_ = ok ? 0 : errno;
    return ok ? values : std::vector<T>{};
  }
  int Status(int rc) {
    lastError_ = rc < 0 ? errno : 0;
    return lastError_;
  }

  modbus_t *ctx_;
  bool connected_ = false;
  int lastError_ = 0;
};

// A plain TCP connection, for clients that do not speak Modbus.
inline int ConnectRaw(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True when the server closed the connection within the time.
inline bool ClosedWithin(int fd, int timeoutMs) {
  pollfd in = {fd, POLLIN, 0};
  if (poll(&in, 1, timeoutMs) <= 0) return false;
  char byte;
  return recv(fd, &byte, 1, 0) == 0;
}

}  // namespace zamgate_test

#endif  // ZAMKT_TESTS_ZAMGATE_MODBUS_CLIENT_H
