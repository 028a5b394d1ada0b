#include "host/common/port_recovery.h"

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>

#include "host/common/serial_port_name.h"

namespace n2host {
namespace {

constexpr int32_t kStatusNoReplyOrPort = 2;
// A silent station costs the driver at least one whole time-out; a no-reply
// much faster than that came from a terminal that hung up.
constexpr int kFastFailureShare = 2;      // under half a time-out
constexpr int kFastFailureFloorMs = 20;   // and never judged on less than this

std::string Seconds(int ms) {
  char text[32];
  snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

}  // namespace

PortRecovery::PortRecovery(Channel &channel, std::string port, int timeoutMs, BackOff backOff)
    : channel_(channel), timeoutMs_(timeoutMs), backOff_(backOff) {
  status_.port = std::move(port);
}

bool PortRecovery::DeviceGone() const {
  std::string path = DevicePathOf(status_.port);
  struct stat info;
  return !path.empty() && stat(path.c_str(), &info) != 0;  // follows links: a dangling one is gone too
}

bool PortRecovery::Observe(int32_t status, std::chrono::steady_clock::duration elapsed) {
  if (lost() || status != kStatusNoReplyOrPort) return false;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  const bool gone = DeviceGone();
  const bool fast = ms < std::max(kFastFailureFloorMs, timeoutMs_ / kFastFailureShare);
  if (!gone && !fast) return false;
  status_.state = PortState::kLost;
  status_.reason = gone ? status_.port + " is gone (its device node vanished)"
                        : status_.port + " hung up (no reply at once, without waiting for the time-out)";
  status_.reopenTries = 0;
  waitMs_ = backOff_.firstMs;
  nextTry_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs_);
  event_ = "port lost: " + status_.reason + ", reopening every " + Seconds(backOff_.firstMs) + " to " +
           Seconds(backOff_.longestMs) + "; check the adapter and its cable, not the bus wiring";
  return true;
}

void PortRecovery::StartLost(const std::string &reason) {
  status_.state = PortState::kLost;
  status_.reason = reason;
  status_.reopenTries = 0;
  waitMs_ = backOff_.firstMs;
  nextTry_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs_);
  event_ = "port lost: " + status_.reason + "; waiting for it, reopening every " + Seconds(backOff_.firstMs) + " to " +
           Seconds(backOff_.longestMs);
}

bool PortRecovery::TryReopen() {
  if (!lost()) return true;
  if (std::chrono::steady_clock::now() < nextTry_) return false;
  ++status_.reopenTries;
  if (DeviceGone() || channel_.Reopen() != 0) {
    waitMs_ = std::min(waitMs_ * 2, backOff_.longestMs);
    nextTry_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs_);
    return false;
  }
  event_ = "port back: " + status_.port + " reopened after " + std::to_string(status_.reopenTries) +
           (status_.reopenTries == 1 ? " try" : " tries") + ", polling resumes";
  status_.state = PortState::kOpen;
  status_.reason.clear();
  status_.reopenTries = 0;
  return true;
}

PortStatus PortRecovery::status() const {
  PortStatus status = status_;
  if (lost()) {
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(nextTry_ - std::chrono::steady_clock::now());
    status.nextTryMs = static_cast<int>(std::max<long long>(0, rest.count()));
  }
  return status;
}

std::string PortRecovery::Describe() const {
  if (!lost()) return "open";
  PortStatus now = status();
  return "lost: " + now.reason + ", reopen try " + std::to_string(now.reopenTries + 1) + " in " +
         Seconds(now.nextTryMs);
}

}  // namespace n2host
