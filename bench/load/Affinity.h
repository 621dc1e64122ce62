// Runs the client and the servers on one processor for the length of a measure.
#pragma once

#include <sched.h>
#include <sys/types.h>

#include <utility>
#include <vector>

namespace kelvora::bench {

// While alive, every thread of this process and of the given processes runs on the processor the
// caller is on now; the affinities they had are restored at the end. Threads that start meanwhile
// inherit the pinning of the thread that starts them and are left so.
class TOneProcessor {
 public:
  explicit TOneProcessor(const std::vector<pid_t>& processes);
  ~TOneProcessor();
  TOneProcessor(const TOneProcessor&) = delete;
  TOneProcessor& operator=(const TOneProcessor&) = delete;

 private:
  std::vector<std::pair<pid_t, cpu_set_t>> saved_;  // thread id, its former affinity
};

}  // namespace kelvora::bench
