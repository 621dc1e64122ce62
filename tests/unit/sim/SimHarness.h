// Loads a private copy of the simulated library for one test and drives its C exports.
#pragma once

#include <dlfcn.h>
#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Exports.h"

namespace kelvora::sim::test {

namespace fs = std::filesystem;

// One answer of ContinuaFuncaoSiTefInterativo: the status and what the out arguments held.
struct Cmd {
  int status = 0;
  int command = 0;
  int field = 0;
  short min = 0;
  short max = 0;
  std::string data;
};

inline std::string localNow(const char* pattern) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, pattern, &parts));
}

inline std::string today() {
  return localNow("%Y%m%d");
}

// A temporary folder holding a copy of the library, with the control file and the ledger that
// the copy finds beside itself. Each instance is a fresh library with its own state.
class SimLibrary {
 public:
  explicit SimLibrary(const std::string& ini = "") : dir_(makeDirectory()) {
    fs::copy_file(SIM_LIBRARY_PATH, dir_ / "CliSiTef32I.dll");
    if (!ini.empty()) writeIni(ini);
    load();
  }

  SimLibrary(const SimLibrary&) = delete;
  SimLibrary& operator=(const SimLibrary&) = delete;

  ~SimLibrary() {
    if (handle_) dlclose(handle_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  const fs::path& dir() const { return dir_; }

  void writeIni(const std::string& text) const { std::ofstream(dir_ / "CliSiTefSim.ini") << text; }

  std::string ledgerText() const {
    std::ifstream in(dir_ / "CliSiTefSim.ledger", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> ledgerLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ledgerText());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  template <typename Fn>
  Fn* symbol(const char* name) const {
    void* address = dlsym(handle_, name);
    if (!address) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<Fn*>(address);
  }

  int configure(const char* server = "127.0.0.1", const char* store = "00000000",
                const char* terminal = "SE000001") const {
    return configura(const_cast<char*>(server), const_cast<char*>(store),
                     const_cast<char*>(terminal), 0, const_cast<char*>("[];{ValorIncluiTaxa=0;};"));
  }

  int start(int function, const std::string& amount = "12,34", const std::string& doc = "1234",
            const std::string& date = today(), const std::string& time = "101010") const {
    return inicia(function, s(amount), s(doc), s(date), s(time), s("OPERADOR"), s(""));
  }

  // One call of the loop, with `answer` in the buffer and the continue flag `proceed`.
  Cmd next(const std::string& answer = "", int proceed = 0, int bufferSize = 20001) const {
    std::vector<char> buffer(static_cast<std::size_t>(bufferSize), '\0');
    answer.copy(buffer.data(), buffer.size() - 1);
    Cmd cmd;
    cmd.status =
        continua(&cmd.command, &cmd.field, &cmd.min, &cmd.max, buffer.data(), bufferSize, proceed);
    cmd.data = buffer.data();
    return cmd;
  }

  // Answers the last command with `answer`, then calls on with empty answers up to the final
  // status; returns every step, the final one last.
  std::vector<Cmd> drain(const std::string& answer = "") const {
    std::vector<Cmd> steps{next(answer)};
    while (steps.back().status == 10000 && steps.size() < 500) steps.push_back(next());
    return steps;
  }

  int finalize(int confirm, const std::string& doc = "1234",
               const std::string& date = today()) const {
    return finaliza(confirm, s(doc), s(date), s("101500"));
  }

  int pending(const std::string& date = today(), const std::string& doc = "1234") const {
    return pendentes(s(date), s(doc));
  }

  decltype(&ConfiguraIntSiTefInterativoEx) configura = nullptr;
  decltype(&IniciaFuncaoSiTefInterativo) inicia = nullptr;
  decltype(&ContinuaFuncaoSiTefInterativo) continua = nullptr;
  decltype(&FinalizaTransacaoSiTefInterativo) finaliza = nullptr;
  decltype(&ObtemQuantidadeTransacoesPendentes) pendentes = nullptr;
  decltype(&VerificaPresencaPinPad) pinpad = nullptr;
  decltype(&EscreveMensagemPermanentePinPad) mensagem = nullptr;
  decltype(&LeTrilha3) trilha3 = nullptr;
  decltype(&LeCartaoDiretoEx) cartaoDireto = nullptr;
  decltype(&KelvoraCliSiTefSimulador) simulador = nullptr;

 private:
  static fs::path makeDirectory() {
    std::string pattern = (fs::temp_directory_path() / "kelvora-sim-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
  }

  // The exports take char*; the library never writes through these.
  static char* s(const std::string& text) { return const_cast<char*>(text.c_str()); }

  void load() {
    handle_ = dlopen((dir_ / "CliSiTef32I.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(dlerror());
    configura = symbol<std::remove_pointer_t<decltype(configura)>>("ConfiguraIntSiTefInterativoEx");
    inicia = symbol<std::remove_pointer_t<decltype(inicia)>>("IniciaFuncaoSiTefInterativo");
    continua = symbol<std::remove_pointer_t<decltype(continua)>>("ContinuaFuncaoSiTefInterativo");
    finaliza =
        symbol<std::remove_pointer_t<decltype(finaliza)>>("FinalizaTransacaoSiTefInterativo");
    pendentes =
        symbol<std::remove_pointer_t<decltype(pendentes)>>("ObtemQuantidadeTransacoesPendentes");
    pinpad = symbol<std::remove_pointer_t<decltype(pinpad)>>("VerificaPresencaPinPad");
    mensagem = symbol<std::remove_pointer_t<decltype(mensagem)>>("EscreveMensagemPermanentePinPad");
    trilha3 = symbol<std::remove_pointer_t<decltype(trilha3)>>("LeTrilha3");
    cartaoDireto = symbol<std::remove_pointer_t<decltype(cartaoDireto)>>("LeCartaoDiretoEx");
    simulador = symbol<std::remove_pointer_t<decltype(simulador)>>("KelvoraCliSiTefSimulador");
  }

  fs::path dir_;
  void* handle_ = nullptr;
};

// The result fields (command 0) of a run, in the order they came.
inline std::vector<std::pair<int, std::string>> resultFields(const std::vector<Cmd>& steps) {
  std::vector<std::pair<int, std::string>> fields;
  for (const auto& c : steps) {
    if (c.status == 10000 && c.command == 0) fields.emplace_back(c.field, c.data);
  }
  return fields;
}

// The first value of `field` in a run, or empty.
inline std::string fieldValue(const std::vector<Cmd>& steps, int field) {
  for (const auto& [f, v] : resultFields(steps)) {
    if (f == field) return v;
  }
  return "";
}

inline std::vector<int> fieldNumbers(const std::vector<Cmd>& steps) {
  std::vector<int> numbers;
  for (const auto& [f, v] : resultFields(steps)) numbers.push_back(f);
  return numbers;
}

}  // namespace kelvora::sim::test
