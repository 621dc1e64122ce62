// Whether a payment through the simulated library costs the same when its ledger already holds
// thousands of them: runs payments in a row through the library's exports (loaded with dlopen,
// as the service loads it) and compares the cost per payment of the first and the last hundred
// (mean and median; the ratio of the medians is the one to judge).
//
//   bench_sim_ledger [--payments N] [--dir DIR] [--library PATH]
//
// DIR holds the library's copy and its ledger (default /dev/shm, where the ledger's flushes return
// at once and only the simulator's own work is measured); PATH is the library to copy (default:
// the simulator built beside this program).
#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using Configura = int (*)(char*, char*, char*, int, char*);
using Inicia = int (*)(int, char*, char*, char*, char*, char*, char*);
using Continua = int (*)(int*, int*, short*, short*, char*, int, int);
using Finaliza = int (*)(int, char*, char*, char*);

constexpr int kWindow = 100;
constexpr int kBufferSize = 20001;

// A private copy of the library in a folder of its own, removed with everything in it at the end.
class LibraryCopy {
 public:
  LibraryCopy(const fs::path& library, const fs::path& parent) {
    std::string pattern = (parent / "kelvora-bench-sim-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("mkdtemp in " + parent.string());
    dir_ = pattern;
    fs::copy_file(library, dir_ / "CliSiTef32I.dll");
    // No interruption checks while the card is awaited and no sleeps: only the library's own work.
    std::ofstream(dir_ / "CliSiTefSim.ini") << "[dialog]\ncard_polls=0\n";
    handle_ = ::dlopen((dir_ / "CliSiTef32I.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(::dlerror());
  }
  LibraryCopy(const LibraryCopy&) = delete;
  LibraryCopy& operator=(const LibraryCopy&) = delete;
  ~LibraryCopy() {
    if (handle_ != nullptr) ::dlclose(handle_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  template <typename Fn>
  Fn get(const char* name) const {
    void* address = ::dlsym(handle_, name);
    if (address == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Fn>(address);
  }

  std::uintmax_t ledgerBytes() const {
    std::error_code error;
    const auto size = fs::file_size(dir_ / "CliSiTefSim.ledger", error);
    return error ? 0 : size;
  }

 private:
  fs::path dir_;
  void* handle_ = nullptr;
};

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  char text[16];
  return std::string(text, std::strftime(text, sizeof text, "%Y%m%d", &parts));
}

// A debit of 10,00 under its own document, run to its end and confirmed, as the service does it.
void pay(const LibraryCopy& lib, int document, const std::string& date) {
  static const auto inicia = lib.get<Inicia>("IniciaFuncaoSiTefInterativo");
  static const auto continua = lib.get<Continua>("ContinuaFuncaoSiTefInterativo");
  static const auto finaliza = lib.get<Finaliza>("FinalizaTransacaoSiTefInterativo");
  std::string amount = "10,00", doc = std::to_string(document), day = date, time = "101010",
              op = "CAIXA01", restrictions = "[10];", confirmed = "101500";
  int status =
      inicia(2, amount.data(), doc.data(), day.data(), time.data(), op.data(), restrictions.data());
  std::vector<char> buffer(kBufferSize, '\0');
  int command = 0, field = 0;
  short min = 0, max = 0;
  while (status == 10000) {
    buffer[0] = '\0';
    status = continua(&command, &field, &min, &max, buffer.data(), kBufferSize, 0);
  }
  if (status != 0)
    throw std::runtime_error("payment " + doc + " ended with " + std::to_string(status));
  finaliza(1, doc.data(), day.data(), confirmed.data());
}

double meanMicroseconds(const std::vector<double>& us, std::size_t from) {
  double sum = 0;
  for (std::size_t i = from; i < from + kWindow; ++i) sum += us[i];
  return sum / kWindow;
}

double medianMicroseconds(const std::vector<double>& us, std::size_t from) {
  std::vector<double> window(us.begin() + static_cast<std::ptrdiff_t>(from),
                             us.begin() + static_cast<std::ptrdiff_t>(from + kWindow));
  std::nth_element(window.begin(), window.begin() + kWindow / 2, window.end());
  return window[kWindow / 2];
}

int usage() {
  std::fprintf(stderr,
               "usage: bench_sim_ledger [--payments N (>= 200)] [--dir DIR] [--library PATH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int payments = 10000;
  fs::path dir = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  fs::path library = KELVORA_BENCH_SIMULATOR;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--payments") == 0) {
      payments = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--dir") == 0) {
      dir = argv[i + 1];
    } else if (std::strcmp(argv[i], "--library") == 0) {
      library = argv[i + 1];
    } else {
      return usage();
    }
  }
  if (argc % 2 == 0 || payments < 2 * kWindow) return usage();

  try {
    const LibraryCopy lib(library, dir);
    std::string server = "127.0.0.1", store = "00000001", terminal = "SE000001",
                parameters = "[];{ValorIncluiTaxa=0;};";
    if (lib.get<Configura>("ConfiguraIntSiTefInterativoEx")(
            server.data(), store.data(), terminal.data(), 0, parameters.data()) != 0) {
      throw std::runtime_error("the library refused its configuration");
    }
    const std::string date = today();
    // One payment before the measure, so that the first calls' page faults and lazy binding are
    // not counted against the first hundred.
    pay(lib, 0, date);
    std::vector<double> us(static_cast<std::size_t>(payments));
    for (int i = 0; i < payments; ++i) {
      const auto t0 = Clock::now();
      pay(lib, i + 1, date);
      us[static_cast<std::size_t>(i)] =
          std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    }
    const auto last = static_cast<std::size_t>(payments - kWindow);
    const double first = meanMicroseconds(us, 0), closing = meanMicroseconds(us, last);
    const double firstMedian = medianMicroseconds(us, 0),
                 closingMedian = medianMicroseconds(us, last);
    std::printf("simulator ledger growth: %d payments in a row (debit, confirmed), ledger in %s\n",
                payments, dir.c_str());
    std::printf("  ledger at the end: %ju bytes\n", lib.ledgerBytes());
    std::printf("  first %d payments: %.1f us per payment (median %.1f)\n", kWindow, first,
                firstMedian);
    std::printf("  last %d payments:  %.1f us per payment (median %.1f)\n", kWindow, closing,
                closingMedian);
    // The medians' ratio is the verdict: on a shared machine one stalled payment moves a mean.
    std::printf("  last/first: %.2f (means %.2f)\n", closingMedian / firstMedian, closing / first);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_sim_ledger: %s\n", error.what());
    return 1;
  }
  return 0;
}
