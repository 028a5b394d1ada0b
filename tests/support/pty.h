// A pseudo-terminal pair for tests: the test plays the device on the master
// side, the driver opens the slave by name.
#ifndef ZAMKT_TESTS_SUPPORT_PTY_H
#define ZAMKT_TESTS_SUPPORT_PTY_H

#include <string>

class PtyPair {
 public:
  PtyPair();   // opens a master in raw mode; aborts the test run on failure
  ~PtyPair();  // closes the master
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  int master() const { return master_; }
  // "/dev/pts/N"
  const std::string &slavePath() const { return slavePath_; }
  // "pts/N": the form the driver's 12-character port name field takes.
  std::string portName() const { return slavePath_.substr(5); }

  // Writes all bytes to the master.
  void Write(const std::string &bytes) const;
  // Reads what arrives on the master until `terminator` (included) or until
  // timeoutMs passes without a byte; returns what was read.
  std::string ReadUntil(char terminator, int timeoutMs) const;
  // Everything that arrives within timeoutMs.
  std::string Drain(int timeoutMs) const;

 private:
  int master_ = -1;
  std::string slavePath_;
};

#endif  // ZAMKT_TESTS_SUPPORT_PTY_H
