// Wire time of a serial line: at a baud rate each byte (start bit, 8 data
// bits, stop bit: 10 bits) takes its time on the line, and the line carries
// one byte at a time in either direction. Deadlines are kept against absolute
// time, so a sleep that overshoots delays one byte and not every later one.
#ifndef ZAMKT_SIM_PACING_H
#define ZAMKT_SIM_PACING_H

#include <chrono>

namespace n2sim {

class LinePacer {
 public:
  using Clock = std::chrono::steady_clock;

  // 0 turns pacing off: every deadline is then the time given.
  explicit LinePacer(int baud = 0) { SetBaud(baud); }
  void SetBaud(int baud);
  int baud() const { return baud_; }
  Clock::duration byteTime() const { return byteTime_; }

  // A byte that begins no earlier than `earliest`: returns when its last bit
  // has crossed the line (for a received byte, when the device has it; for a
  // sent byte, when it may be handed over).
  Clock::time_point Next(Clock::time_point earliest);

 private:
  int baud_ = 0;
  Clock::duration byteTime_{0};
  Clock::time_point lineFree_{};
};

}  // namespace n2sim

#endif  // ZAMKT_SIM_PACING_H
