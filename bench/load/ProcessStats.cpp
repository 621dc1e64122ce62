// Parsing of /proc/<pid>/status, /proc/<pid>/stat and /proc/<pid>/task/*/schedstat.
#include "ProcessStats.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace kelvora::bench {
namespace {

std::string ProcPath(pid_t pid, const std::string& name) {
  return "/proc/" + std::to_string(pid) + "/" + name;
}

std::ifstream OpenProc(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path + " (has the process ended?)");
  return file;
}

}  // namespace

long ResidentKiB(pid_t pid) {
  std::ifstream status = OpenProc(ProcPath(pid, "status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  throw std::runtime_error("no VmRSS in " + ProcPath(pid, "status"));
}

double CpuMsFromStat(pid_t pid) {
  std::ifstream stat = OpenProc(ProcPath(pid, "stat"));
  std::string text;
  std::getline(stat, text);
  // The command name may hold blanks and parentheses; the fields after its closing one are fixed:
  // state is field 3, utime field 14 and stime field 15.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) utime = std::stoull(field);
    if (number == 15) stime = std::stoull(field);
  }
  return 1000.0 * static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double CpuMsFromSchedstat(pid_t pid) {
  double nanoseconds = 0;
  for (const auto& task : std::filesystem::directory_iterator(ProcPath(pid, "task"))) {
    std::ifstream schedstat(task.path() / "schedstat");
    unsigned long long onCpu = 0;
    if (schedstat >> onCpu) nanoseconds += static_cast<double>(onCpu);
  }
  return nanoseconds / 1e6;
}

}  // namespace kelvora::bench
