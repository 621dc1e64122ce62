// The file version lookup that every "/version" request for "service_exe" makes on the service's
// own executable; here it reads this benchmark's executable, which carries a note of the same kind
// and, like the service, its debug information.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/FileVersion.h"

KELVORA_FILE_VERSION_NOTE("1.0.0.4");

namespace kelvora::bench {
namespace {

void BM_ReadFileVersion(benchmark::State& state) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  for (auto _ : state) {
    auto version = platform::ReadFileVersion(self);
    if (!version) state.SkipWithError("no version note found");
    benchmark::DoNotOptimize(version);
  }
  state.counters["file_MiB"] = static_cast<double>(std::filesystem::file_size(self)) / (1 << 20);
}
BENCHMARK(BM_ReadFileVersion);

}  // namespace
}  // namespace kelvora::bench
