// Shared by the zamgate tests: a real mosquitto broker on a free loopback
// port with a generated configuration, zamgate run from a generated
// configuration file, and a subscriber (libmosquitto) that keeps every
// message it receives. Each process is stopped by its id; every wait is
// bounded. n2sim comes from the zamhost helpers.
#ifndef ZAMKT_TESTS_ZAMGATE_TEST_HELPERS_H
#define ZAMKT_TESTS_ZAMGATE_TEST_HELPERS_H

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>

#include "tests/zamhost_test_helpers.h"

namespace zamgate_test {

using namespace zamhost_test;
using nlohmann::json;

inline const std::string kZamgate = std::string(ZAMKT_BUILD_DIR) + "/zamgate";

// A loopback port nobody listens on now: TCP, or UDP with SOCK_DGRAM.
inline int FreePort(int socketType = SOCK_STREAM) {
  int fd = socket(AF_INET, socketType, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

inline bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// Waits until the condition holds or the time is up; the condition's last answer.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// Starts a program with standard output and error into a file; its pid.
inline pid_t Spawn(const std::string &program, const std::vector<std::string> &args, const std::string &logFile) {
  pid_t pid = fork();
  if (pid == 0) {
    int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int input = open("/dev/null", O_RDONLY);
    dup2(input, 0);
    dup2(log, 1);
    dup2(log, 2);
    unsetenv("QORPRO_LOG");
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Sends SIGTERM and waits (bounded) for the end; SIGKILL after that. The exit
// code, or -1 when it had to be killed or died of a signal.
inline int StopProcess(pid_t pid, int timeoutMs = 10000) {
  if (pid <= 0) return -1;
  kill(pid, SIGTERM);
  int status = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// A mosquitto broker of its own, on a free loopback port.
class Broker {
 public:
  // extraConfig: more lines of mosquitto.conf (a password file, TLS).
  explicit Broker(std::string listenerLines = "allow_anonymous true\n", int port = 0)
      : port_(port != 0 ? port : FreePort()), lines_(std::move(listenerLines)) {
    Start();
  }
  ~Broker() { Stop(); }

  void Start() {
    // Run as root, mosquitto would become the user "mosquitto", who cannot
    // read the test's private folder (password file, keys).
    WriteFile(folder_.File("mosquitto.conf"), std::string(geteuid() == 0 ? "user root\n" : "") + "listener " +
                                                   std::to_string(port_) + " 127.0.0.1\n" + lines_ +
                                                   "persistence false\n");
    pid_ = Spawn("/usr/sbin/mosquitto", {"-c", folder_.File("mosquitto.conf")}, folder_.File("mosquitto.log"));
    WaitUntil([this] { return Accepts(port_); }, 10000);
  }
  void Stop() {
    StopProcess(pid_);
    pid_ = -1;
  }
  int port() const { return port_; }
  const TempFolder &folder() const { return folder_; }
  std::string Log() const { return ReadFile(folder_.File("mosquitto.log")); }

 private:
  TempFolder folder_;
  int port_;
  std::string lines_;
  pid_t pid_ = -1;
};

struct Message {
  std::string topic;
  std::string payload;
  bool retained = false;
};

// An MQTT client of the test that keeps every message of its subscriptions.
class Subscriber {
 public:
  struct Login {
    std::string username, password, caFile;
  };
  Subscriber(int port, const std::string &topic, const Login &login = {}) {
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
    client_ = mosquitto_new(nullptr, true, this);
    if (!login.username.empty()) mosquitto_username_pw_set(client_, login.username.c_str(), login.password.c_str());
    if (!login.caFile.empty()) mosquitto_tls_set(client_, login.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    mosquitto_connect_callback_set(client_, [](mosquitto *client, void *self, int rc) {
      if (rc == 0) mosquitto_subscribe(client, nullptr, static_cast<Subscriber *>(self)->topic_.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(client_, [](mosquitto *, void *self, int, int, const int *) {
      static_cast<Subscriber *>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(client_, [](mosquitto *, void *self, const mosquitto_message *message) {
      auto *me = static_cast<Subscriber *>(self);
      std::lock_guard<std::mutex> lock(me->mutex_);
      me->messages_.push_back({message->topic,
                               std::string(static_cast<const char *>(message->payload),
                                           static_cast<size_t>(message->payloadlen)),
                               message->retain});
    });
    topic_ = topic;
    mosquitto_connect(client_, "127.0.0.1", port, 30);
    mosquitto_loop_start(client_);
    WaitUntil([this] { return subscribed_.load(); }, 10000);
  }
  ~Subscriber() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }
  bool subscribed() const { return subscribed_; }

  void Publish(const std::string &topic, const std::string &payload, bool retain = false) {
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
  }

  std::vector<Message> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // Every message on the topic, in order.
  std::vector<Message> On(const std::string &topic) const {
    std::vector<Message> found;
    for (const Message &message : Messages()) {
      if (message.topic == topic) found.push_back(message);
    }
    return found;
  }
  // The last payload on the topic, parsed strictly (a test fails on bad JSON).
  json Last(const std::string &topic) const {
    std::vector<Message> found = On(topic);
    if (found.empty()) return json();
    return json::parse(found.back().payload);
  }
  // Waits for a message on the topic whose JSON passes the check.
  bool WaitFor(const std::string &topic, const std::function<bool(const json &)> &check, int timeoutMs = 15000) {
    return WaitUntil(
        [&] {
          for (const Message &message : On(topic)) {
            if (check(json::parse(message.payload))) return true;
          }
          return false;
        },
        timeoutMs);
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
  }

 private:
  mosquitto *client_ = nullptr;
  std::string topic_;
  std::atomic<bool> subscribed_{false};
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
};

// A set the gateway must refuse: the gate, the payload and a part of the
// result's text.
struct RefusedSet {
  const char *gate;
  const char *payload;
  const char *reason;
};

// Publishes each set to "<gatePrefix><gate>/set" on the subscriber of the
// set results, and expects one "rejected" result per set, in order, on its
// gate's result topic and naming the reason. False when the results did not
// all come within ten seconds.
template <size_t N>
bool ExpectSetsRefused(Subscriber &results, const std::string &gatePrefix, const RefusedSet (&refused)[N]) {
  for (const RefusedSet &row : refused) results.Publish(gatePrefix + row.gate + "/set", row.payload);
  if (!WaitUntil([&] { return results.Messages().size() >= N; }, 10000)) return false;
  std::vector<Message> answers = results.Messages();
  for (size_t i = 0; i < N; ++i) {
    json answer = json::parse(answers[i].payload);
    EXPECT_EQ(answers[i].topic, gatePrefix + refused[i].gate + "/set/result");
    EXPECT_EQ(answer["outcome"], "rejected") << refused[i].payload << ": " << answer;
    EXPECT_TRUE(Contains(answer["text"].get<std::string>(), refused[i].reason)) << refused[i].payload << ": " << answer;
  }
  return true;
}

// Waits until the gateway's status reads online: from then on it takes sets.
inline bool WaitOnline(int brokerPort, const std::string &gatewayId, int timeoutMs = 15000) {
  Subscriber status(brokerPort, "test/" + gatewayId + "/status");
  return status.WaitFor("test/" + gatewayId + "/status", [](const json &m) { return m["state"] == "online"; },
                        timeoutMs);
}

// zamgate from a configuration the test writes; its log in a file.
class Gateway {
 public:
  explicit Gateway(const std::string &configText) {
    WriteFile(folder_.File("zamgate.toml"), configText);
    pid_ = Spawn(kZamgate, {"--config", folder_.File("zamgate.toml")}, folder_.File("zamgate.log"));
    // With listen port 0 the log names the port taken.
    WaitUntil([this] { return Contains(Log(), "HTTP on http://") || Exited(); }, 10000);
    std::string log = Log();
    size_t at = log.find("HTTP on http://127.0.0.1:");
    if (at != std::string::npos) httpPort_ = atoi(log.c_str() + at + strlen("HTTP on http://127.0.0.1:"));
  }
  ~Gateway() { Stop(); }

  // SIGTERM; the exit code.
  int Stop() {
    if (pid_ > 0) {
      exitCode_ = StopProcess(pid_);
      pid_ = -1;
    }
    return exitCode_;
  }
  bool Exited() {
    if (pid_ <= 0) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return true;
  }
  std::string Log() const { return ReadFile(folder_.File("zamgate.log")); }
  int httpPort() const { return httpPort_; }
  const TempFolder &folder() const { return folder_; }

 private:
  TempFolder folder_;
  pid_t pid_ = -1;
  int exitCode_ = -1;
  int httpPort_ = 0;
};

// A configuration for the default plant served by the simulator; more TOML
// (further tables) after it.
inline std::string GatewayConfigText(const std::string &id, const Simulator &sim, int brokerPort,
                                     const std::string &gates, const std::string &more = "") {
  return "[gateway]\nid = \"" + id + "\"\n"
         "[line]\nport = \"" + sim.port() + "\"\ntimeout_ms = 60\nstation_types_file = \"" + sim.stationTypes() +
         "\"\n[poll]\ninterval_ms = 200\ndemote_after = 2\nretry_every = 3\n" + gates +
         "\n[mqtt]\nhost = \"127.0.0.1\"\nport = " + std::to_string(brokerPort) +
         "\nprefix = \"test\"\nrefresh_s = 60\nreconnect_max_s = 2\n" + more + "\n[http]\nlisten = \"127.0.0.1:0\"\n";
}

}  // namespace zamgate_test

#endif  // ZAMKT_TESTS_ZAMGATE_TEST_HELPERS_H
