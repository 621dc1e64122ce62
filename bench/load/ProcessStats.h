// What the load tool reads about a server process from /proc: CPU time and resident memory.
#pragma once

#include <sys/types.h>

namespace kelvora::bench {

// Resident memory (VmRSS of /proc/<pid>/status) in KiB; throws when the process is gone.
long ResidentKiB(pid_t pid);

// User plus system CPU time of the whole process in milliseconds, from /proc/<pid>/stat (clock
// ticks, 10 ms each on most systems, and counting threads that have ended).
double CpuMsFromStat(pid_t pid);

// The same from the scheduler, to the nanosecond: the sum of /proc/<pid>/task/*/schedstat over the
// threads alive now. Exact for an interval in which no thread starts or ends, such as an idle one.
double CpuMsFromSchedstat(pid_t pid);

}  // namespace kelvora::bench
