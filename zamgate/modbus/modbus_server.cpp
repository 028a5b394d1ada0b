#include "zamgate/modbus/modbus_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <vector>

#include <modbus/modbus.h>

#include "zamgate/modbus/modbus_requests.h"

namespace zamgate {

using SteadyClock = std::chrono::steady_clock;

namespace {

// A frame begun must be finished within this: a client that stops halfway
// would otherwise hold its connection open with nothing to answer.
constexpr auto kFrameTimeout = std::chrono::seconds(1);
// The longest Modbus TCP frame, and the MBAP length field's bounds (unit id
// and function code at the least, 253 bytes of PDU at the most).
constexpr size_t kMaxFrame = MODBUS_MAX_ADU_LENGTH;
constexpr int kMinMbapLength = 2;
constexpr int kMaxMbapLength = MODBUS_MAX_PDU_LENGTH + 1;
// The poll loop wakes at least this often to drop silent clients.
constexpr int kTickMs = 100;

std::string PeerName(int fd) {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0) return "?";
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

}  // namespace

// Completions of writes answered once done arrive on the poll thread; they
// are posted here and the server thread is woken to send the answers. Shared,
// so that a completion that comes after the server stopped finds it still.
struct ModbusCompletionMailbox {
  struct Item {
    uint64_t token;
    WriteCompletion completion;
  };
  std::mutex mutex;
  std::deque<Item> items;
  int wakeFd = -1;

  void Post(uint64_t token, WriteCompletion completion) {
    std::lock_guard<std::mutex> lock(mutex);
    items.push_back({token, completion});
    Wake();
  }
  void Wake() {
    uint64_t one = 1;
    if (wakeFd >= 0) (void)!write(wakeFd, &one, sizeof one);
  }
  std::deque<Item> TakeAll() {
    std::lock_guard<std::mutex> lock(mutex);
    uint64_t count;
    (void)!read(wakeFd, &count, sizeof count);
    return std::exchange(items, {});
  }
};

struct ModbusServer::Client {
  int fd = -1;
  std::string peer;
  std::vector<uint8_t> input;
  SteadyClock::time_point lastActivity;
  SteadyClock::time_point frameStarted;
  // A write answered once done: the request, its token and its deadline.
  bool waiting = false;
  std::vector<uint8_t> pending;
  uint64_t token = 0;
  SteadyClock::time_point deadline;
};

ModbusServer::ModbusServer(const ModbusConfig &config, ModbusDataSource &source, Logger logger)
    : config_(config), source_(source), logger_(std::move(logger)),
      mailbox_(std::make_shared<ModbusCompletionMailbox>()) {}

ModbusServer::~ModbusServer() { Stop(); }

bool ModbusServer::Start(std::string *error) {
  modbus_t *ctx = modbus_new_tcp(config_.address.c_str(), config_.port);
  if (ctx == nullptr) {
    *error = "modbus: cannot listen on " + config_.address + ": " + modbus_strerror(errno);
    return false;
  }
  listenFd_ = modbus_tcp_listen(ctx, config_.maxClients);
  modbus_free(ctx);
  if (listenFd_ < 0) {
    *error = "modbus: cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " +
             modbus_strerror(errno);
    return false;
  }
  fcntl(listenFd_, F_SETFL, fcntl(listenFd_, F_GETFL) | O_NONBLOCK);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(listenFd_, reinterpret_cast<sockaddr *>(&bound), &size);
  port_ = ntohs(bound.sin_port);
  mailbox_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ModbusServer::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  mailbox_->Wake();
  thread_.join();
  close(listenFd_);
  listenFd_ = -1;
  std::lock_guard<std::mutex> lock(mailbox_->mutex);
  close(mailbox_->wakeFd);
  mailbox_->wakeFd = -1;
}

void ModbusServer::Run() {
  // One libmodbus context frames every answer; its socket is set to the
  // client being answered. Frames are read here, not by modbus_receive,
  // because modbus_receive waits for a whole frame and one slow client would
  // hold up the rest.
  modbus_t *ctx = modbus_new_tcp("127.0.0.1", 0);
  ModbusRequestHandler handler(config_, source_);
  std::vector<std::unique_ptr<Client>> clients;
  uint64_t nextToken = 1;
  auto log = [&](const std::string &text) {
    if (logger_) logger_(text);
  };

  // Counted before the close, so that whoever sees the close sees the count.
  auto drop = [&](Client &client, const std::string &why) {
    counters_.Disconnected();
    counters_.Dropped();
    log("modbus: client " + client.peer + " dropped: " + why);
    close(client.fd);
    client.fd = -1;
  };
  auto reply = [&](Client &client, const uint8_t *frame, int length, const RequestDecision &decision) {
    modbus_set_socket(ctx, client.fd);
    int rc;
    if (decision.kind == RequestDecision::kException) {
      counters_.Exception(decision.exception);
      rc = modbus_reply_exception(ctx, frame, decision.exception);
    } else {
      rc = modbus_reply(ctx, frame, length, handler.mapping());
    }
    if (rc < 0) drop(client, "cannot take its answer");
  };
  // Answers every whole frame the client has sent, up to a write that waits.
  auto serve = [&](Client &client) {
    while (client.fd >= 0 && !client.waiting && client.input.size() >= static_cast<size_t>(kMbapLength)) {
      const uint8_t *head = client.input.data();
      int protocol = (head[2] << 8) | head[3];
      int mbapLength = (head[4] << 8) | head[5];
      if (protocol != 0 || mbapLength < kMinMbapLength || mbapLength > kMaxMbapLength) {
        drop(client, "not a Modbus TCP frame");
        return;
      }
      size_t frameLength = static_cast<size_t>(kMbapLength - 1 + mbapLength);
      if (client.input.size() < frameLength) return;
      std::vector<uint8_t> frame(client.input.begin(), client.input.begin() + static_cast<long>(frameLength));
      client.input.erase(client.input.begin(), client.input.begin() + static_cast<long>(frameLength));
      client.frameStarted = SteadyClock::now();
      counters_.Request(frame[kMbapLength]);
      uint64_t token = nextToken++;
      std::shared_ptr<ModbusCompletionMailbox> mailbox = mailbox_;
      RequestDecision decision = handler.Handle(frame.data(), static_cast<int>(frame.size()),
                                                [mailbox, token](WriteCompletion completion) {
                                                  mailbox->Post(token, completion);
                                                },
                                                client.peer);
      if (decision.kind == RequestDecision::kAfterWrites) {
        client.waiting = true;
        client.pending = std::move(frame);
        client.token = token;
        client.deadline = SteadyClock::now() + std::chrono::milliseconds(config_.writeDoneTimeoutMs);
        return;
      }
      reply(client, frame.data(), static_cast<int>(frame.size()), decision);
    }
  };
  auto finishWrite = [&](Client &client, const RequestDecision &decision) {
    client.waiting = false;
    reply(client, client.pending.data(), static_cast<int>(client.pending.size()), decision);
    serve(client);
  };

  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.clear();
    fds.push_back({mailbox_->wakeFd, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto &client : clients) {
      // A client waiting for a write's answer is not read meanwhile: its
      // next request is answered after this one.
      fds.push_back({client->fd, static_cast<short>(client->waiting ? 0 : POLLIN), 0});
    }
    if (poll(fds.data(), fds.size(), kTickMs) < 0 && errno != EINTR) {
      log(std::string("modbus: the server stops: ") + strerror(errno));
      break;
    }
    SteadyClock::time_point now = SteadyClock::now();

    if (fds[0].revents & POLLIN) {
      for (const ModbusCompletionMailbox::Item &item : mailbox_->TakeAll()) {
        for (auto &client : clients) {
          if (client->fd < 0 || !client->waiting || client->token != item.token) continue;
          RequestDecision decision;
          if (item.completion == WriteCompletion::kNoReply) {
            decision = {RequestDecision::kException, MODBUS_EXCEPTION_GATEWAY_TARGET};
          } else if (item.completion == WriteCompletion::kFailed) {
            decision = {RequestDecision::kException, MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE};
          }
          finishWrite(*client, decision);
        }
      }
    }
    for (size_t i = 0; i < clients.size(); ++i) {
      Client &client = *clients[i];
      short events = fds[i + 2].revents;
      if (client.fd < 0 || events == 0) continue;
      uint8_t buffer[1024];
      ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        // A client that polls by connecting each time would fill the log:
        // an orderly end is only counted.
        counters_.Disconnected();
        close(client.fd);
        client.fd = -1;
        continue;
      }
      if (got < 0) continue;
      if (client.input.empty()) client.frameStarted = now;
      client.input.insert(client.input.end(), buffer, buffer + got);
      client.lastActivity = now;
      serve(client);
      // More than a whole frame waiting behind an unanswered write: the
      // client is not following request and answer.
      if (client.fd >= 0 && client.input.size() > 4 * kMaxFrame) drop(client, "sends without waiting for answers");
    }
    if (fds[1].revents & POLLIN) {
      int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd >= 0) {
        std::string peer = PeerName(fd);
        if (static_cast<int>(clients.size()) >= config_.maxClients) {
          counters_.Refused();
          close(fd);
          log("modbus: client " + peer + " refused: already " + std::to_string(config_.maxClients) + " clients");
        } else {
          int one = 1;
          setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          auto client = std::make_unique<Client>();
          client->fd = fd;
          client->peer = peer;
          client->lastActivity = now;
          clients.push_back(std::move(client));
          counters_.Connected();
        }
      }
    }
    for (auto &client : clients) {
      if (client->fd < 0) continue;
      if (client->waiting && now >= client->deadline) {
        finishWrite(*client, {RequestDecision::kException, MODBUS_EXCEPTION_GATEWAY_TARGET});
      } else if (!client->waiting && !client->input.empty() && now - client->frameStarted > kFrameTimeout) {
        drop(*client, "left a frame unfinished");
      } else if (!client->waiting && now - client->lastActivity > std::chrono::milliseconds(config_.idleTimeoutMs)) {
        drop(*client, "silent for " + std::to_string(config_.idleTimeoutMs / 1000) + " s");
      }
    }
    std::erase_if(clients, [](const std::unique_ptr<Client> &client) { return client->fd < 0; });
  }

  for (auto &client : clients) {
    if (client->fd >= 0) {
      close(client->fd);
      counters_.Disconnected();
    }
  }
  modbus_set_socket(ctx, -1);
  modbus_free(ctx);
}

}  // namespace zamgate
