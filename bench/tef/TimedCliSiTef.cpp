// A stand-in for CliSiTef32I.dll that forwards every call to the simulator in the folder
// "simulador" beside it and adds up the time spent inside the library, so a benchmark can subtract
// the library's share from a dialogue and keep the component's own time.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tef/CliSiTefLibrary.h"

namespace {

using Relogio = std::chrono::steady_clock;

// Results the library documents for an internal failure.
constexpr int kErroInterno = -100;

std::atomic<int64_t> gNanossegundos{0};
std::atomic<int64_t> gChamadasContinua{0};

// The simulator's entry points, resolved once from the copy beside this library.
struct Simulador {
  kelvora::tef::TConfiguraIntSiTefInterativoEx Configura = nullptr;
  kelvora::tef::TIniciaFuncaoSiTefInterativo Inicia = nullptr;
  kelvora::tef::TContinuaFuncaoSiTefInterativo Continua = nullptr;
  kelvora::tef::TFinalizaTransacaoSiTefInterativo Finaliza = nullptr;
  kelvora::tef::TObtemQuantidadeTransacoesPendentes Pendentes = nullptr;
  kelvora::tef::TVerificaPresencaPinPad PinPad = nullptr;
  kelvora::tef::TEscreveMensagemPermanentePinPad Mensagem = nullptr;
  kelvora::tef::TLeTrilha3 Trilha3 = nullptr;
  kelvora::tef::TLeCartaoDiretoEx CartaoDireto = nullptr;
  kelvora::tef::TLeCartaoSeguro CartaoSeguro = nullptr;
  kelvora::tef::TLeCartaoDiretoSeguro CartaoDiretoSeguro = nullptr;
};

template <class Funcao>
void Resolve(void* biblioteca, const char* nome, Funcao& slot) {
  slot = reinterpret_cast<Funcao>(::dlsym(biblioteca, nome));
  if (slot == nullptr) std::fprintf(stderr, "TimedCliSiTef: %s not found\n", nome);
}

// Loads <this library's folder>/simulador/CliSiTef32I.dll. It stays loaded for the life of the
// process, as the component keeps its library; a failure leaves every slot empty and each call
// answers kErroInterno.
Simulador Abre() {
  Simulador s;
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&Abre), &info) == 0 || info.dli_fname == nullptr) return s;
  const std::string alvo =
      (std::filesystem::path(info.dli_fname).parent_path() / "simulador" / "CliSiTef32I.dll")
          .string();
  void* biblioteca = ::dlopen(alvo.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (biblioteca == nullptr) {
    std::fprintf(stderr, "TimedCliSiTef: %s\n", ::dlerror());
    return s;
  }
  Resolve(biblioteca, "ConfiguraIntSiTefInterativoEx", s.Configura);
  Resolve(biblioteca, "IniciaFuncaoSiTefInterativo", s.Inicia);
  Resolve(biblioteca, "ContinuaFuncaoSiTefInterativo", s.Continua);
  Resolve(biblioteca, "FinalizaTransacaoSiTefInterativo", s.Finaliza);
  Resolve(biblioteca, "ObtemQuantidadeTransacoesPendentes", s.Pendentes);
  Resolve(biblioteca, "VerificaPresencaPinPad", s.PinPad);
  Resolve(biblioteca, "EscreveMensagemPermanentePinPad", s.Mensagem);
  Resolve(biblioteca, "LeTrilha3", s.Trilha3);
  Resolve(biblioteca, "LeCartaoDiretoEx", s.CartaoDireto);
  Resolve(biblioteca, "LeCartaoSeguro", s.CartaoSeguro);
  Resolve(biblioteca, "LeCartaoDiretoSeguro", s.CartaoDiretoSeguro);
  return s;
}

const Simulador& Alvo() {
  static const Simulador simulador = Abre();
  return simulador;
}

// Calls one entry point of the simulator and adds the time it took to the library's total.
template <class Funcao, class... Argumentos>
int Cronometra(Funcao funcao, Argumentos... argumentos) {
  if (funcao == nullptr) return kErroInterno;
  const Relogio::time_point inicio = Relogio::now();
  const int resultado = funcao(argumentos...);
  gNanossegundos +=
      std::chrono::duration_cast<std::chrono::nanoseconds>(Relogio::now() - inicio).count();
  return resultado;
}

}  // namespace

extern "C" {

// The time spent inside the library since it was loaded, and how many ContinuaFuncao calls it
// served; either pointer may be null.
__attribute__((visibility("default"))) void KelvoraBenchTempoBiblioteca(int64_t* nanossegundos,
                                                                        int64_t* chamadasContinua) {
  if (nanossegundos != nullptr) *nanossegundos = gNanossegundos.load();
  if (chamadasContinua != nullptr) *chamadasContinua = gChamadasContinua.load();
}

__attribute__((visibility("default"))) int ConfiguraIntSiTefInterativoEx(
    char* EnderecoIP, char* CodigoLoja, char* NumeroTerminal, int Reservado,
    char* ParametrosAdicionais) {
  return Cronometra(Alvo().Configura, EnderecoIP, CodigoLoja, NumeroTerminal, Reservado,
                    ParametrosAdicionais);
}

__attribute__((visibility("default"))) int IniciaFuncaoSiTefInterativo(
    int Modalidade, char* Valor, char* CupomFiscal, char* DataFiscal, char* Horario, char* Operador,
    char* Restricoes) {
  return Cronometra(Alvo().Inicia, Modalidade, Valor, CupomFiscal, DataFiscal, Horario, Operador,
                    Restricoes);
}

__attribute__((visibility("default"))) int ContinuaFuncaoSiTefInterativo(
    int* ProximoComando, int* TipoCampo, short* TamanhoMinimo, short* TamanhoMaximo, char* Buffer,
    int TamBuffer, int Continua) {
  ++gChamadasContinua;
  return Cronometra(Alvo().Continua, ProximoComando, TipoCampo, TamanhoMinimo, TamanhoMaximo,
                    Buffer, TamBuffer, Continua);
}

__attribute__((visibility("default"))) int FinalizaTransacaoSiTefInterativo(int Confirma,
                                                                            char* CupomFiscal,
                                                                            char* DataFiscal,
                                                                            char* Horario) {
  return Cronometra(Alvo().Finaliza, Confirma, CupomFiscal, DataFiscal, Horario);
}

__attribute__((visibility("default"))) int ObtemQuantidadeTransacoesPendentes(char* DataFiscal,
                                                                              char* CupomFiscal) {
  return Cronometra(Alvo().Pendentes, DataFiscal, CupomFiscal);
}

__attribute__((visibility("default"))) int VerificaPresencaPinPad() {
  return Cronometra(Alvo().PinPad);
}

__attribute__((visibility("default"))) int EscreveMensagemPermanentePinPad(char* Mensagem) {
  return Cronometra(Alvo().Mensagem, Mensagem);
}

__attribute__((visibility("default"))) int LeTrilha3(char* Mensagem) {
  return Cronometra(Alvo().Trilha3, Mensagem);
}

__attribute__((visibility("default"))) int LeCartaoDiretoEx(char* Mensagem, char* Trilha1,
                                                            char* Trilha2, short TimeOut,
                                                            void* Reservado) {
  return Cronometra(Alvo().CartaoDireto, Mensagem, Trilha1, Trilha2, TimeOut, Reservado);
}

__attribute__((visibility("default"))) int LeCartaoSeguro(char* Mensagem) {
  return Cronometra(Alvo().CartaoSeguro, Mensagem);
}

__attribute__((visibility("default"))) int LeCartaoDiretoSeguro(char* Mensagem, char* Trilha1,
                                                                char* Trilha2, short TimeOut) {
  return Cronometra(Alvo().CartaoDiretoSeguro, Mensagem, Trilha1, Trilha2, TimeOut);
}

}  // extern "C"
