// The simulator n2sim as a child process: started in a folder of the
// caller's choosing, its port name taken from the first line it prints, and
// stopped by its process id.
#ifndef ZAMKT_HOST_ZAMHOST_SIMULATOR_PROCESS_H
#define ZAMKT_HOST_ZAMHOST_SIMULATOR_PROCESS_H

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace zamhost {

class SimulatorProcess {
 public:
  SimulatorProcess() = default;
  ~SimulatorProcess();  // Stop()
  SimulatorProcess(const SimulatorProcess &) = delete;
  SimulatorProcess &operator=(const SimulatorProcess &) = delete;

  // Runs program with the arguments in folder, its standard error appended to
  // logPath, and waits (at most timeoutMs) for the port name on its first
  // line of output. False with a message.
  bool Start(const std::string &program, const std::vector<std::string> &arguments, const std::string &folder,
             const std::string &logPath, int timeoutMs, std::string *error);

  const std::string &portName() const { return portName_; }
  pid_t pid() const { return pid_; }

  // Sends a signal to the simulator (SIGUSR1 makes n2sim log its counts).
  void Signal(int signalNumber) const;

  // Asks the simulator to stop (SIGTERM), waits up to two seconds, then
  // kills it. Returns its exit status, or -1.
  int Stop();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string portName_;
  std::thread drain_;
};

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_SIMULATOR_PROCESS_H
