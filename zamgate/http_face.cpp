#include "zamgate/http_face.h"

#include <httplib.h>

#include "host/common/gate_list.h"
#include "zamgate/payloads.h"
#include "zamgate/status_page.h"

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

}  // namespace

HttpFace::HttpFace(const HttpConfig &config, const GateStore &store, const GatewayMetrics &metrics)
    : config_(config), store_(store), metrics_(metrics) {}

HttpFace::~HttpFace() { Stop(); }

bool HttpFace::Start(std::string *error) {
  server_ = std::make_unique<httplib::Server>();
  server_->Get("/", [this](const httplib::Request &request, httplib::Response &response) {
    std::string page = StatusPage(store_.Snapshot(), WallClock::now(), PageFilterOf(request));
    std::string sections;
    for (const auto &section : extraSections_) sections += section();
    size_t end = page.rfind("</body>");
    page.insert(end == std::string::npos ? page.size() : end, sections);
    response.set_content(page, "text/html; charset=utf-8");
  });
  server_->Get("/api/state", [this](const httplib::Request &, httplib::Response &response) {
    response.set_content(StateJson(store_.Snapshot(), WallClock::now()).dump(2) + "\n", "application/json");
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
             " (in use, or not an address of this machine)";
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void HttpFace::Stop() {
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

}  // namespace zamgate
