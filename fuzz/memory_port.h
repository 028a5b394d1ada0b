// The serial port of the fuzz targets: serial/port.h over memory, with the
// station's answers scripted by the fuzz input. It stands in for
// port_posix.cpp, so the driver above it runs unchanged.
//
// The station answers each request: every write makes the next scripted
// answer the input queue (a write beyond the script gets silence). Reads take
// bytes from the queue and time out once it is empty, as a silent line does;
// discarding input throws away what is left of the current answer. Time is a
// counter: pauses and read time-outs add to it and return at once.
#ifndef ZAMKT_FUZZ_MEMORY_PORT_H
#define ZAMKT_FUZZ_MEMORY_PORT_H

#include <stdint.h>

#include <string>
#include <vector>

namespace memory_port {

// What one write to the port and the answer to it came to.
struct Exchange {
  std::string written;  // the bytes the driver wrote
  std::string answer;   // the scripted answer that the write released
  std::string taken;    // the bytes of it that the driver read
  // Lines the driver read up to and including their carriage return, without
  // it; a line too long for the reply buffer is none (the driver drops it).
  std::vector<std::string> lines;
};

// Starts a new script: forgets the exchanges so far and queues answers, one
// per write to come. The port's open state and the clock stay.
void Script(std::vector<std::string> answers);

// The exchanges since the last Script, one per write.
const std::vector<Exchange> &Exchanges();

// Lines read in all exchanges since the last Script, in order.
std::vector<std::string> LinesRead();

// Milliseconds that pauses and read time-outs have added since the last Script.
uint64_t ElapsedMs();

// The next open fails with kPortOpenFailed when set (one open only).
void FailNextOpen();

// True while a port is open.
bool IsOpen();

// Splits bytes at every '\n' into answers: the form the fuzz inputs use for
// the station's side of the line. "a\n\nb" gives "a", "" (silence), "b".
std::vector<std::string> SplitAnswers(const std::string &bytes);

}  // namespace memory_port

#endif  // ZAMKT_FUZZ_MEMORY_PORT_H
