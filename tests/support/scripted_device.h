// A device on the master side of a pseudo-terminal that follows a script:
// for each step it reads one request line (up to CR), records it, checks it
// against the expected text when one is given, and answers as the step says.
// Runs on a thread of its own while the test calls ZamMain.
#ifndef ZAMKT_TESTS_SUPPORT_SCRIPTED_DEVICE_H
#define ZAMKT_TESTS_SUPPORT_SCRIPTED_DEVICE_H

#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct DeviceStep {
  std::string expect;  // the request line without its CR; empty: accept any
  std::string reply;   // sent back with a CR appended, unless silent
  bool silent = false; // no answer at all
};

// Helpers that make steps read like a script.
DeviceStep Answer(const std::string &expect, const std::string &reply);
DeviceStep Silence(const std::string &expect);

// Appends the System 91 data-reply form to data hex digits:
// "A" + data + "0000" + frame sum of (data + "0000"). E.g. DataReply("3412").
std::string DataReply(const std::string &data);
// "A" + data + frame sum of data, the N2 Open item-read reply form.
std::string N2OpenDataReply(const std::string &data);

class ScriptedDevice {
 public:
  explicit ScriptedDevice(int masterFd);
  ~ScriptedDevice();  // stops and joins

  // Starts serving the steps on a thread. Requests beyond the script are
  // recorded and left unanswered.
  void Run(std::vector<DeviceStep> steps);
  // Waits for the thread (at most timeoutMs) and returns every request line
  // received, without CRs, in order.
  std::vector<std::string> Finish(int timeoutMs = 2000);
  // Mismatches between expected and received lines, one text each.
  std::vector<std::string> Mismatches() const;

 private:
  void Serve();

  int master_;
  std::vector<DeviceStep> steps_;
  std::vector<std::string> received_;
  std::vector<std::string> mismatches_;
  mutable std::mutex mutex_;
  std::thread thread_;
  bool stop_ = false;
};

#endif  // ZAMKT_TESTS_SUPPORT_SCRIPTED_DEVICE_H
