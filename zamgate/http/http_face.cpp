#include "zamgate/http/http_face.h"

#include <dirent.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <httplib.h>

#include <map>

#include "host/common/gate_list.h"
#include "zamgate/core/payloads.h"
#include "zamgate/http/status_page.h"

namespace zamgate {
namespace {

// The page's filter from the query: bounded, and text only when it is UTF-8
// (it is shown back in the form); a station only when it is a number.
PageFilter PageFilterOf(const httplib::Request &request) {
  constexpr size_t kMaxText = 100;
  PageFilter filter;
  std::string station = request.get_param_value("station");
  if (!station.empty() && station.size() <= 3 && station.find_first_not_of("0123456789") == std::string::npos) {
    filter.station = std::to_string(std::stoi(station));
  }
  std::string text = request.get_param_value("q");
  if (text.size() > kMaxText) text.resize(kMaxText);
  // A cut through a character, or bytes that are not UTF-8: left out.
  while (!text.empty() && n2host::FirstNonUtf8Byte(text) != std::string::npos) text.resize(n2host::FirstNonUtf8Byte(text));
  filter.text = text;
  return filter;
}

// Every route is a GET of a few hundred bytes: these bound what one client
// may send and how long it may take, so that no client, slow or large, can
// hold a worker or the memory the scrapes need.
constexpr size_t kBodyLimit = 4096;
constexpr size_t kHeaderCountLimit = 64;
constexpr int kWorkers = 8;
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr size_t kRequestsPerConnection = 20;
constexpr auto kConnectionLifetime = std::chrono::seconds(10);
constexpr auto kReaperEvery = std::chrono::milliseconds(100);

// The listening socket as httplib makes it, but without SO_REUSEPORT: with
// it a second gateway could bind the same address and the kernel would share
// the requests between the two.
void ListenSocketOptions(int socket) {
  int yes = 1;
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

// The local port of a connected (not listening) TCP socket, and its peer.
bool ConnectionOf(int fd, int *localPort, std::string *peer) {
  int listening = 0;
  socklen_t size = sizeof listening;
  if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || listening) return false;
  sockaddr_storage local{}, remote{};
  socklen_t localSize = sizeof local, remoteSize = sizeof remote;
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) != 0) return false;
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&remote), &remoteSize) != 0) return false;
  if (local.ss_family == AF_INET) {
    *localPort = ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
  } else if (local.ss_family == AF_INET6) {
    *localPort = ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
  } else {
    return false;
  }
  *peer = std::string(reinterpret_cast<const char *>(&remote), remoteSize);
  return true;
}

}  // namespace

HttpFace::HttpFace(const HttpConfig &config, const GateStore &store, const GatewayMetrics &metrics)
    : config_(config), store_(store), metrics_(metrics) {}

HttpFace::~HttpFace() { Stop(); }

bool HttpFace::Start(std::string *error) {
  server_ = std::make_unique<httplib::Server>();
  server_->set_socket_options(ListenSocketOptions);
  server_->set_payload_max_length(kBodyLimit);
  server_->set_read_timeout(kReadTimeoutSeconds, 0);
  server_->set_write_timeout(kWriteTimeoutSeconds, 0);
  server_->set_keep_alive_max_count(kRequestsPerConnection);
  server_->set_keep_alive_timeout(2);
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server_->set_pre_routing_handler([](const httplib::Request &request, httplib::Response &response) {
    if (request.headers.size() > kHeaderCountLimit || request.body.size() > kBodyLimit) {
      response.status = 431;
      response.set_content("too many headers\n", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get("/", [this](const httplib::Request &request, httplib::Response &response) {
    std::string page = StatusPage(store_.Snapshot(), WallClock::now(), PageFilterOf(request));
    std::string sections;
    for (const auto &section : extraSections_) sections += section();
    size_t end = page.rfind("</body>");
    page.insert(end == std::string::npos ? page.size() : end, sections);
    response.set_content(page, "text/html; charset=utf-8");
  });
  server_->Get("/api/state", [this](const httplib::Request &, httplib::Response &response) {
    response.set_content(Dump(StateJson(store_.Snapshot(), WallClock::now()), 2) + "\n", "application/json");
  });
  server_->Get("/metrics", [this](const httplib::Request &, httplib::Response &response) {
    std::string text = metrics_.Text();
    for (const auto &extra : extraMetrics_) text += extra();
    response.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
  });
  if (config_.port == 0) {
    port_ = server_->bind_to_any_port(config_.address);
  } else {
    port_ = server_->bind_to_port(config_.address, config_.port) ? config_.port : -1;
  }
  if (port_ <= 0) {
    *error = "cannot listen for HTTP on " + config_.address + ":" + std::to_string(config_.port) +
             " (in use, perhaps by another gateway, or not an address of this machine)";
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  reaper_ = std::thread([this] { ReapConnections(); });
  return true;
}

// httplib bounds each read, not a whole connection: a client that sends a
// byte every few seconds, or headers without end, would keep a worker. Every
// HTTP connection of this gateway is closed once it has lived
// kConnectionLifetime.
void HttpFace::ReapConnections() {
  std::map<std::pair<int, std::string>, std::chrono::steady_clock::time_point> seen;
  std::unique_lock<std::mutex> lock(reaperMutex_);
  while (!reaperStop_) {
    reaperWake_.wait_for(lock, kReaperEvery);
    if (reaperStop_) break;
    const auto now = std::chrono::steady_clock::now();
    std::map<std::pair<int, std::string>, std::chrono::steady_clock::time_point> alive;
    DIR *fds = opendir("/proc/self/fd");
    if (fds == nullptr) continue;
    while (dirent *entry = readdir(fds)) {
      char *end = nullptr;
      const long fd = strtol(entry->d_name, &end, 10);
      if (end == entry->d_name || *end != '\0' || fd == dirfd(fds)) continue;
      int localPort = 0;
      std::string peer;
      if (!ConnectionOf(static_cast<int>(fd), &localPort, &peer) || localPort != port_) continue;
      const auto key = std::make_pair(static_cast<int>(fd), peer);
      auto found = seen.find(key);
      const auto since = found == seen.end() ? now : found->second;
      if (now - since >= kConnectionLifetime) {
        shutdown(static_cast<int>(fd), SHUT_RDWR);
        continue;
      }
      alive[key] = since;
    }
    closedir(fds);
    seen.swap(alive);
  }
}

void HttpFace::Stop() {
  if (!server_) return;
  {
    std::lock_guard<std::mutex> lock(reaperMutex_);
    reaperStop_ = true;
  }
  reaperWake_.notify_all();
  if (reaper_.joinable()) reaper_.join();
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

}  // namespace zamgate
