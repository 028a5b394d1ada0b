// CPU time of the calling thread, user and system, in seconds: the driver
// runs on its caller's thread, so this is the driver's time (kernel work of
// its system calls included) and not the simulator's, which serves on a
// thread of its own.
#ifndef ZAMKT_BENCH_THREAD_CPU_H
#define ZAMKT_BENCH_THREAD_CPU_H

#include <sys/resource.h>

namespace bench {

inline double ThreadCpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Voluntary context switches of the calling thread so far: each time it
// blocked (a poll, a read, a sleep) and was woken again.
inline unsigned long long ThreadWakeups() {
  rusage usage;
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<unsigned long long>(usage.ru_nvcsw);
}

}  // namespace bench

#endif  // ZAMKT_BENCH_THREAD_CPU_H
