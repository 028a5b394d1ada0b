// The gateway's HTTP face (cpp-httplib, on a thread of its own): /metrics in
// the Prometheus text format, / the status page, /api/state the same as JSON.
// It only reads: no route changes anything.
#ifndef ZAMKT_ZAMGATE_HTTP_FACE_H
#define ZAMKT_ZAMGATE_HTTP_FACE_H

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "zamgate/core/config.h"
#include "zamgate/core/gate_store.h"
#include "zamgate/core/metrics.h"

namespace httplib {
class Server;
}

namespace zamgate {

class HttpFace {
 public:
  HttpFace(const HttpConfig &config, const GateStore &store, const GatewayMetrics &metrics);
  ~HttpFace();

  // Another face's part of /metrics (Prometheus text) and of the status page
  // (HTML), asked for at each request. Set before Start.
  void AddMetricsText(std::function<std::string()> text) { extraMetrics_.push_back(std::move(text)); }
  void AddStatusSection(std::function<std::string()> html) { extraSections_.push_back(std::move(html)); }

  // Binds (port 0: any free port) and starts serving. False with a message.
  bool Start(std::string *error);
  void Stop();
  int port() const { return port_; }

 private:
  HttpConfig config_;
  const GateStore &store_;
  const GatewayMetrics &metrics_;
  std::unique_ptr<httplib::Server> server_;
  void ReapConnections();

  std::thread thread_;
  std::thread reaper_;
  std::mutex reaperMutex_;
  std::condition_variable reaperWake_;
  bool reaperStop_ = false;  // guarded by reaperMutex_
  std::atomic<int> port_{0};
  std::vector<std::function<std::string()>> extraMetrics_;
  std::vector<std::function<std::string()>> extraSections_;
};

}  // namespace zamgate

#endif  // ZAMKT_ZAMGATE_HTTP_FACE_H
