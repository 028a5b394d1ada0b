#include "host/common/poll_output.h"

#include <stdio.h>
#include <sys/time.h>
#include <time.h>

namespace n2host {

std::string TimeStamp() {
  timeval now;
  gettimeofday(&now, nullptr);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char date[40];
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  char zone[8];
  strftime(zone, sizeof zone, "%z", &local);  // "+0200"
  char text[64];
  snprintf(text, sizeof text, "%s.%03ld%.3s:%.2s", date, static_cast<long>(now.tv_usec / 1000), zone, zone + 3);
  return text;
}

double LastGoodAgeSeconds(const GateReading &reading) {
  if (!reading.hasLastGood) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - reading.lastGoodAt).count();
}

}  // namespace n2host
