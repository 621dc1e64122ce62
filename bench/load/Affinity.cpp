// Pinning of every thread of a set of processes to one processor, and its undoing.
#include "Affinity.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kelvora::bench {
namespace {

// The thread ids of a process, from /proc/<pid>/task.
std::vector<pid_t> Threads(pid_t process) {
  std::vector<pid_t> threads;
  const std::filesystem::path tasks = "/proc/" + std::to_string(process) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    threads.push_back(static_cast<pid_t>(std::stol(task.path().filename().string())));
  }
  return threads;
}

}  // namespace

TOneProcessor::TOneProcessor(const std::vector<pid_t>& processes) {
  const int processor = ::sched_getcpu();
  if (processor < 0) throw std::runtime_error("sched_getcpu failed");
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(processor, &one);
  std::vector<pid_t> all = processes;
  all.push_back(::getpid());
  for (pid_t process : all) {
    for (pid_t thread : Threads(process)) {
      cpu_set_t former;
      if (::sched_getaffinity(thread, sizeof former, &former) != 0) continue;  // it has ended
      if (::sched_setaffinity(thread, sizeof one, &one) != 0) continue;
      saved_.emplace_back(thread, former);
    }
  }
}

TOneProcessor::~TOneProcessor() {
  for (const auto& [thread, former] : saved_) ::sched_setaffinity(thread, sizeof former, &former);
}

}  // namespace kelvora::bench
