// How a poll shows its results: a table that refreshes in place on a
// terminal (and is printed once per cycle otherwise), CSV rows, or JSON
// lines, each with time stamps, the status of every gate and the requests
// and failures of every station.
#ifndef ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H
#define ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H

#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "host/common/poll_output.h"

namespace zamhost {

using namespace n2host;


enum class PollFormat { kTable, kCsv, kJson };


// terminal: standard output is a terminal (the table refreshes in place).
std::unique_ptr<PollOutput> MakePollOutput(PollFormat format, FILE *out, bool terminal);

// A CSV field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string &text);
// A JSON string literal.
std::string JsonString(const std::string &text);

}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H
