#include "host/zamhost/simulator_process.h"

#include "host/common/exit_cleanup.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

namespace zamhost {
namespace {

[[noreturn]] void RunChild(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &folder, const std::string &logPath, int outputWrite) {
  if (chdir(folder.c_str()) != 0) _exit(127);
  int input = open("/dev/null", O_RDONLY);
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (input < 0 || log < 0) _exit(127);
  dup2(input, 0);
  dup2(outputWrite, 1);
  dup2(log, 2);
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const std::string &argument : arguments) argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

SimulatorProcess::~SimulatorProcess() { Stop(); }

bool SimulatorProcess::Start(const std::string &program, const std::vector<std::string> &arguments,
                             const std::string &folder, const std::string &logPath, int timeoutMs,
                             std::string *error) {
  if (access(program.c_str(), X_OK) != 0) {
    *error = "simulator '" + program + "' not found: build it (cmake --build build) or name it with --simulator PATH";
    return false;
  }
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  pid_ = fork();
  if (pid_ < 0) {
    *error = std::string("fork: ") + strerror(errno);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    return false;
  }
  if (pid_ == 0) RunChild(program, arguments, folder, logPath, pipeEnds[1]);
  // Stopped by a signal that ends zamhost at once, too.
  n2host::StopChildOnExit(pid_);
  close(pipeEnds[1]);
  output_ = pipeEnds[0];

  // The first line is the port name.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.find('\n') == std::string::npos) {
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (rest.count() <= 0) break;
    pollfd ready = {output_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(rest.count())) <= 0) continue;
    char buffer[256];
    ssize_t n = read(output_, buffer, sizeof buffer);
    if (n <= 0) break;
    line.append(buffer, static_cast<size_t>(n));
  }
  size_t end = line.find('\n');
  if (end == std::string::npos || end == 0) {
    *error = "the simulator did not report its port (see " + logPath + ")";
    Stop();
    return false;
  }
  portName_ = line.substr(0, end);
  // Whatever it prints later is read and dropped, so that it never blocks on
  // a full pipe.
  int output = output_;
  drain_ = std::thread([output] {
    char buffer[256];
    while (read(output, buffer, sizeof buffer) > 0) {
    }
  });
  return true;
}

void SimulatorProcess::Signal(int signalNumber) const {
  if (pid_ > 0) kill(pid_, signalNumber);
}

int SimulatorProcess::Stop() {
  int result = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 2000 && !ended; waited += 10) {
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        ended = true;
      } else {
        timespec pause = {0, 10 * 1000000L};
        nanosleep(&pause, nullptr);
      }
    }
    if (!ended) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    n2host::ForgetChild(pid_);
    pid_ = -1;
  }
  if (drain_.joinable()) drain_.join();
  if (output_ >= 0) {
    close(output_);
    output_ = -1;
  }
  return result;
}

}  // namespace zamhost
