#include "tests/support/scripted_device.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>

namespace {

std::string HexByte(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

unsigned SumOf(const std::string &text) {
  unsigned sum = 0;
  for (unsigned char c : text) sum += c;
  return sum & 0xFF;
}

}  // namespace

DeviceStep Answer(const std::string &expect, const std::string &reply) { return DeviceStep{expect, reply, false}; }

DeviceStep Silence(const std::string &expect) { return DeviceStep{expect, "", true}; }

std::string DataReply(const std::string &data) {
  std::string body = data + "0000";
  return "A" + body + HexByte(SumOf(body));
}

std::string N2OpenDataReply(const std::string &data) { return "A" + data + HexByte(SumOf(data)); }

ScriptedDevice::ScriptedDevice(int masterFd) : master_(masterFd) {}

ScriptedDevice::~ScriptedDevice() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
}

void ScriptedDevice::Run(std::vector<DeviceStep> steps) {
  steps_ = std::move(steps);
  thread_ = std::thread([this] { Serve(); });
}

void ScriptedDevice::Serve() {
  size_t next = 0;
  std::string line;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
    }
    pollfd pfd = {master_, POLLIN, 0};
    if (poll(&pfd, 1, 20) <= 0 || (pfd.revents & POLLIN) == 0) continue;
    char c;
    if (read(master_, &c, 1) != 1) continue;
    if (c != '\r') {
      line.push_back(c);
      continue;
    }
    DeviceStep step;
    bool scripted = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(line);
      if (next < steps_.size()) {
        step = steps_[next++];
        scripted = true;
        if (!step.expect.empty() && step.expect != line) {
          mismatches_.push_back("request " + std::to_string(next) + ": expected '" + step.expect + "', got '" +
                                line + "'");
        }
      } else {
        mismatches_.push_back("unscripted request '" + line + "'");
      }
    }
    line.clear();
    if (scripted && !step.silent) {
      std::string reply = step.reply + "\r";
      size_t done = 0;
      while (done < reply.size()) {
        ssize_t n = write(master_, reply.data() + done, reply.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
    }
  }
}

std::vector<std::string> ScriptedDevice::Finish(int timeoutMs) {
  // Lets a last request in flight arrive before the thread stops.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (received_.size() >= steps_.size()) break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<std::string> ScriptedDevice::Mismatches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mismatches_;
}
