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
#include "host/zamhost/result_rows.h"

namespace zamhost {

using namespace n2host;


using PollFormat = OutputFormat;


// terminal: standard output is a terminal (the table refreshes in place).
std::unique_ptr<PollOutput> MakePollOutput(PollFormat format, FILE *out, bool terminal);


}  // namespace zamhost

#endif  // ZAMKT_HOST_ZAMHOST_POLL_OUTPUT_H
