// Serves a Simulator on the master side of a pseudo-terminal, on a thread of
// its own: reads request lines up to CR from whoever has the slave open,
// answers each through the simulator and sends the reply with its injected
// delay, dribble and the plant's line pacing.
//
//   n2sim::Simulator sim;
//   sim.LoadPlant(n2sim::DefaultPlantText(), &error);
//   n2sim::PtyServer server(&sim);
//   if (!server.Start(&error)) ...;
//   driver.Init(server.portName());          // "pts/7"
//
// The server keeps a descriptor of the slave open itself, so the driver can
// close and reopen the port as often as it likes: the master never sees the
// hang-up that the last close of a slave otherwise causes.
#ifndef ZAMKT_SIM_PTY_SERVER_H
#define ZAMKT_SIM_PTY_SERVER_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "sim/pacing.h"
#include "sim/simulator.h"

namespace n2sim {

class PtyServer {
 public:
  explicit PtyServer(Simulator *simulator);
  ~PtyServer();  // Stop()
  PtyServer(const PtyServer &) = delete;
  PtyServer &operator=(const PtyServer &) = delete;

  // Opens a pseudo-terminal in raw mode and starts serving. False with the
  // reason in error when the terminal cannot be had.
  bool Start(std::string *error);
  // Stops serving (an exchange in progress is cut short) and closes the
  // terminal. Safe to call twice.
  void Stop();

  // "/dev/pts/7"; empty before Start.
  const std::string &slavePath() const { return slavePath_; }
  // "pts/7": the name the driver opens.
  std::string portName() const;
  // Request lines answered or left silent so far.
  uint64_t exchanges() const { return exchanges_.load(); }
  // Waits until the line has been quiet for quietMs: every request line that
  // came in is answered, no reply is still being delayed or dribbled out, and
  // no byte waits to be read. A test calls it between two requests of its
  // host so that a reply sent after the driver gave up on it cannot reach the
  // next request. False when timeoutMs passed first.
  bool WaitIdle(int quietMs, int timeoutMs) const;

 private:
  void Serve();
  void Answer(const std::string &line);
  // Sleeps until the deadline; false when the server is stopping.
  bool SleepUntil(LinePacer::Clock::time_point deadline);
  // Writes one chunk to the master, waiting (bounded) while the terminal's
  // queue is full; false when it cannot go out.
  bool WriteAll(const char *bytes, size_t size);

  Simulator *simulator_;
  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> exchanges_{0};
  std::atomic<bool> busy_{false};  // between taking bytes in and the end of their answers
  std::mutex sleepMutex_;
  std::condition_variable sleepWake_;
  LinePacer pacer_;
};

}  // namespace n2sim

#endif  // ZAMKT_SIM_PTY_SERVER_H
