// Shared by the zamhost tests: zamhost run as a user runs it, a program in
// a child process with its output captured, and the simulator n2sim serving
// its default plant in a folder of its own (where it writes the station-type
// file ZAMKT01.int).
#ifndef ZAMKT_TESTS_ZAMHOST_TEST_HELPERS_H
#define ZAMKT_TESTS_ZAMHOST_TEST_HELPERS_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zamhost_test {

using Clock = std::chrono::steady_clock;

inline const std::string kZamhost = std::string(ZAMKT_BUILD_DIR) + "/zamhost";
inline const std::string kN2sim = std::string(ZAMKT_BUILD_DIR) + "/n2sim";

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

inline int CountOf(const std::string &text, const std::string &part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The lines of the text that contain part.
inline std::vector<std::string> LinesWith(const std::string &text, const std::string &part) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (Contains(line, part)) lines.push_back(line);
  }
  return lines;
}

// A fresh folder under /tmp, removed with the object.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/zamhost_test_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string &path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct RunResult {
  int exitCode = -1;  // -1: killed by a signal or by the time limit
  std::string out;
  std::string err;
  double seconds = 0;
};

struct RunOptions {
  std::string folder;                        // working folder; empty: the test's
  std::map<std::string, std::string> env;    // set in the child ("" unsets)
  int timeoutMs = 20000;                     // then the child is killed
  std::string interruptOnOutput;             // send SIGINT once standard output holds this
  int interruptAgainAfterMs = -1;            // then a second SIGINT after so long (-1: none)
};

// Runs a program and collects its output. QORPRO_LOG is unset in the child
// unless options.env sets it.
inline RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                            const RunOptions &options = {}, double *interruptedAt = nullptr) {
  RunResult result;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return result;
  const auto started = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (!options.folder.empty() && chdir(options.folder.c_str()) != 0) _exit(120);
    unsetenv("QORPRO_LOG");
    for (const auto &[name, value] : options.env) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    int input = open("/dev/null", O_RDONLY);
    dup2(input, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  bool interrupted = false, again = false;
  Clock::time_point interruptTime;
  const auto deadline = started + std::chrono::milliseconds(options.timeoutMs);
  while (open > 0 && Clock::now() < deadline) {
    if (!interrupted && !options.interruptOnOutput.empty() && Contains(result.out, options.interruptOnOutput)) {
      kill(pid, SIGINT);
      interrupted = true;
      interruptTime = Clock::now();
      if (interruptedAt != nullptr) *interruptedAt = std::chrono::duration<double>(interruptTime - started).count();
    }
    if (interrupted && !again && options.interruptAgainAfterMs >= 0 &&
        Clock::now() >= interruptTime + std::chrono::milliseconds(options.interruptAgainAfterMs)) {
      kill(pid, SIGINT);
      again = true;
    }
    if (poll(fds, 2, 20) <= 0) continue;
    for (pollfd &fd : fds) {
      if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[4096];
      ssize_t n = read(fd.fd, buffer, sizeof buffer);
      if (n > 0) {
        (fd.fd == out[0] ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else {
        close(fd.fd);
        fd.fd = -1;
        --open;
      }
    }
  }
  if (open > 0) kill(pid, SIGKILL);
  for (pollfd &fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = open == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return result;
}

inline RunResult RunZamhost(const std::vector<std::string> &args, const RunOptions &options = {},
                            double *interruptedAt = nullptr) {
  return RunProgram(kZamhost, args, options, interruptedAt);
}

// n2sim serving its default plant (plus extra statements), started in a
// folder of its own with --station-types 1, --trace and --stats.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> extraArgs = {}) {
    std::vector<std::string> args = {"--station-types", "1", "--trace", "--stats"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(folder_.path().c_str()) != 0) _exit(120);
      int err = open((folder_.path() + "/n2sim.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out[1], 1);
      dup2(err, 2);
      close(out[0]);
      std::vector<char *> argv;
      argv.push_back(const_cast<char *>(kN2sim.c_str()));
      for (std::string &arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(kN2sim.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      pollfd in = {stdout_, POLLIN, 0};
      if (poll(&in, 1, 50) <= 0) continue;
      char c;
      if (read(stdout_, &c, 1) != 1) break;
      if (c == '\n') break;
      port_ += c;
    }
  }
  ~Simulator() { Stop(); }

  // "pts/N"; empty when the simulator did not start.
  const std::string &port() const { return port_; }
  const std::string &folder() const { return folder_.path(); }
  // The station-type file n2sim wrote for the plant.
  std::string stationTypes() const { return folder_.File("ZAMKT01.int"); }
  // What n2sim logged so far: "n2sim: station 1 DX9100 block-read: ..." per exchange.
  std::string Log() const { return ReadFile(folder_.File("n2sim.log")); }

  // Stops the simulator and returns its log, which ends with the counts.
  std::string Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (stdout_ >= 0) {
      close(stdout_);
      stdout_ = -1;
    }
    return Log();
  }

  // The exchange counts n2sim printed on exit ("requests=12 block-read=3 ...").
  static std::map<std::string, long> Counts(const std::string &log) {
    std::map<std::string, long> counts;
    std::vector<std::string> lines = LinesWith(log, "n2sim: counts ");
    if (lines.empty()) return counts;
    std::istringstream words(lines.back().substr(lines.back().find("counts ") + 7));
    std::string word;
    while (words >> word) {
      size_t equals = word.find('=');
      if (equals != std::string::npos) counts[word.substr(0, equals)] = atol(word.c_str() + equals + 1);
    }
    return counts;
  }

 private:
  TempFolder folder_;
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string port_;
};

}  // namespace zamhost_test

#endif  // ZAMKT_TESTS_ZAMHOST_TEST_HELPERS_H
