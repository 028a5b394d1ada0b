#include "zamgate/bacnet/server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace bacnet {
namespace {

constexpr size_t kDatagramMax = 1600;     // larger datagrams are not BACnet/IP
constexpr int kDatagramsPerRound = 32;    // then the mailbox gets its turn
constexpr size_t kBucketsKept = 4096;     // senders whose rate is tracked
constexpr double kBurst = 50;             // requests a sender may send at once

SteadyTime Now() { return std::chrono::steady_clock::now(); }

}  // namespace

struct Server::Mail {
  std::mutex mutex;
  std::map<size_t, GateReading> readings;  // the latest per gate
  struct Ended {
    uint64_t ticket;
    WriteEnd end;
    std::string text;
  };
  std::vector<Ended> ended;
};

Server::Server(const BacnetConfig &config, std::vector<GateReading> gates, Submitter submit, Checker check,
               Logger logger)
    : config_(config), device_(config_, std::move(gates)), submit_(std::move(submit)), check_(std::move(check)),
      logger_(std::move(logger)),
      mail_(std::make_unique<Mail>()) {
  device_.SetWriteSink(this);
}

Server::~Server() { Stop(); }

bool Server::Submit(size_t gate, const std::string &valueText, uint64_t ticket, std::string *reason) {
  if (!submit_) {
    *reason = "writes are not taken";
    return false;
  }
  return submit_(gate, valueText, ticket, reason);
}

bool Server::Check(size_t gate, const std::string &valueText, std::string *reason) {
  return !check_ || check_(gate, valueText, reason);
}

bool Server::Start(std::string *error) {
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    *error = std::string("BACnet: no UDP socket: ") + strerror(errno);
    return false;
  }
  int yes = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &yes, sizeof yes);
  // Room for a burst: datagrams of other clients are not lost behind a
  // sender the rate limit is dropping (the system may grant less).
  int receiveBuffer = 1 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(config_.port));
  if (inet_pton(AF_INET, config_.address.c_str(), &address.sin_addr) != 1 ||
      bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    *error = "BACnet: cannot listen on " + config_.address + ":" + std::to_string(config_.port) + ": " +
             strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  socklen_t size = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size);
  port_ = ntohs(address.sin_port);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("BACnet: no pipe: ") + strerror(errno);
    close(fd_);
    fd_ = -1;
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  if (!config_.bbmdAddress.empty()) {
    in_addr bbmd{};
    inet_pton(AF_INET, config_.bbmdAddress.c_str(), &bbmd);
    bbmdIp_ = ntohl(bbmd.s_addr);
  }
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void Server::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  Wake();
  thread_.join();
  close(fd_);
  close(wakeRead_);
  close(wakeWrite_);
  fd_ = wakeRead_ = wakeWrite_ = -1;
}

void Server::Wake() {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  ssize_t written = write(wakeWrite_, &byte, 1);  // a full pipe already wakes the thread
  (void)written;
}

void Server::GateChanged(size_t gate, const GateReading &reading) {
  {
    std::lock_guard<std::mutex> lock(mail_->mutex);
    mail_->readings[gate] = reading;
  }
  Wake();
}

void Server::WriteFinished(uint64_t ticket, WriteEnd end, const std::string &text) {
  {
    std::lock_guard<std::mutex> lock(mail_->mutex);
    mail_->ended.push_back({ticket, end, text});
  }
  Wake();
}

void Server::SendRaw(uint32_t ip, uint16_t port, const std::vector<uint8_t> &datagram) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(ip);
  to.sin_port = htons(port);
  // A full socket buffer loses the datagram, as UDP may: the client retries.
  if (sendto(fd_, datagram.data(), datagram.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&to), sizeof to) > 0) {
    ++counters_.sent;
  }
}

void Server::Send(const Outgoing &out) { SendRaw(out.to.ip, out.to.port, WithBvlc(kBvlcOriginalUnicast, out.npdu)); }

void Server::Register() {
  if (bbmdIp_ == 0) return;
  const uint16_t ttl = static_cast<uint16_t>(config_.bbmdTtlSeconds);
  SendRaw(bbmdIp_, static_cast<uint16_t>(config_.bbmdPort),
          {kBvlcType, kBvlcRegisterForeignDevice, 0x00, 0x06, static_cast<uint8_t>(ttl >> 8),
           static_cast<uint8_t>(ttl)});
  // Again well before the BBMD forgets us.
  nextRegistration_ = Now() + std::chrono::seconds(std::max(10, config_.bbmdTtlSeconds / 2));
}

bool Server::Allowed(uint32_t ip, SteadyTime now) {
  // By address, whatever the port: a host that floods from many ports is one sender.
  const uint64_t key = ip;
  auto found = std::find_if(buckets_.begin(), buckets_.end(), [key](const auto &b) { return b.first == key; });
  if (found == buckets_.end()) {
    // Kept bounded: the least recently heard senders make room.
    if (buckets_.size() >= kBucketsKept) {
      auto oldest = std::min_element(buckets_.begin(), buckets_.end(),
                                     [](const auto &a, const auto &b) { return a.second.at < b.second.at; });
      buckets_.erase(oldest);
    }
    buckets_.push_back({key, Bucket{kBurst, now}});
    found = buckets_.end() - 1;
  }
  Bucket &bucket = found->second;
  const double seconds = std::chrono::duration<double>(now - bucket.at).count();
  bucket.tokens = std::min(kBurst, bucket.tokens + seconds * config_.requestsPerSecond);
  bucket.at = now;
  if (bucket.tokens < 1) return false;
  bucket.tokens -= 1;
  return true;
}

void Server::Receive(std::vector<Outgoing> *out) {
  uint8_t buffer[kDatagramMax + 1];
  for (int i = 0; i < kDatagramsPerRound; ++i) {
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    const ssize_t size =
        recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &fromSize);
    if (size < 0) return;
    ++counters_.datagrams;
    const SteadyTime now = Now();
    const uint32_t ip = ntohl(from.sin_addr.s_addr);
    const uint16_t port = ntohs(from.sin_port);
    if (!Allowed(ip, now)) {
      ++counters_.limited;
      continue;
    }
    Bvlc bvlc;
    if (static_cast<size_t>(size) > kDatagramMax || !DecodeBvlc(buffer, static_cast<size_t>(size), &bvlc)) {
      ++counters_.malformed;
      continue;
    }
    Peer peer;
    peer.ip = ip;
    peer.port = port;
    switch (bvlc.function) {
      case kBvlcOriginalUnicast:
      case kBvlcOriginalBroadcast:
        break;
      case kBvlcForwardedNpdu:
        // Through a BBMD: the answer goes straight to the original sender.
        peer.ip = uint32_t{bvlc.origin[0]} << 24 | uint32_t{bvlc.origin[1]} << 16 | uint32_t{bvlc.origin[2]} << 8 |
                  bvlc.origin[3];
        peer.port = static_cast<uint16_t>(bvlc.origin[4] << 8 | bvlc.origin[5]);
        break;
      case kBvlcResult:
        if (ip == bbmdIp_ && size >= 6 && logger_ && (buffer[4] | buffer[5]) != 0) {
          logger_("BACnet: the BBMD " + config_.bbmdAddress + " refused the foreign-device registration");
        }
        continue;
      case kBvlcRegisterForeignDevice:
        // Not a BBMD: Register-Foreign-Device NAK.
        SendRaw(ip, port, {kBvlcType, kBvlcResult, 0x00, 0x06, 0x00, 0x30});
        continue;
      default:
        continue;
    }
    device_.Handle(buffer + bvlc.payload, static_cast<size_t>(size) - bvlc.payload, peer, now, out);
    for (const Outgoing &reply : *out) Send(reply);
    out->clear();
  }
}

void Server::Run() {
  std::vector<Outgoing> out;
  Register();
  if (bbmdIp_ != 0) {
    // Announce the device on the BBMD's networks.
    SendRaw(bbmdIp_, static_cast<uint16_t>(config_.bbmdPort), WithBvlc(kBvlcDistributeBroadcast, device_.IAmNpdu()));
  }
  SteadyTime lastExpiry = Now();
  while (!stopping_) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    poll(fds, 2, 1000);
    if (stopping_) break;
    if (fds[1].revents & POLLIN) {
      char drain[64];
      while (read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    // The gateway's news first: a write's answer never waits behind a flood.
    std::map<size_t, GateReading> readings;
    std::vector<Mail::Ended> ended;
    {
      std::lock_guard<std::mutex> lock(mail_->mutex);
      readings.swap(mail_->readings);
      ended.swap(mail_->ended);
    }
    const SteadyTime now = Now();
    for (const Mail::Ended &end : ended) device_.WriteDone(end.ticket, end.end, end.text, &out);
    for (const auto &[gate, reading] : readings) device_.UpdateGate(gate, reading, now, &out);
    if (now - lastExpiry > std::chrono::seconds(1)) {
      device_.Expire(now);
      lastExpiry = now;
    }
    if (bbmdIp_ != 0 && now >= nextRegistration_) Register();
    for (const Outgoing &one : out) Send(one);
    out.clear();
    if (fds[0].revents & POLLIN) Receive(&out);
    const DeviceCounters &device = device_.counters();
    counters_.requests = device.requests;
    counters_.errors = device.errors;
    counters_.rejects = device.rejects;
    counters_.aborts = device.aborts;
    counters_.notifications = device.notifications;
    counters_.subscriptions = device_.subscriptions();
  }
}

}  // namespace bacnet
