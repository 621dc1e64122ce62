// Fuzz target of the interactive dialogue with the SiTef library: a stand-in CliSiTef32I.dll
// (FakeCliSiTef.cpp) returns the commands the input scripts, the application's handlers answer
// menus, fields, questions and printer commands from the input too, and one payment, cancellation
// or administrative dialogue runs per input, followed by the confirmation or reversal of what it
// left pending, and a process start on whatever backups are still on disk.
//
// Input: from the front, the script (steps with their buffer bytes); from the back, the choices
// (operation, settings, command and field picks, handler answers). Once the input is used up the
// handlers give the plain answers (no option chosen, no interruption, printer done).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/FakeCliSiTef.h"
#include "fuzz/FuzzSupport.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefErro.h"

namespace kelvora::fuzz {
namespace {

using namespace kelvora::tef;

constexpr int kComandoPendente = 10000;
constexpr size_t kMaxPassos = 48;
// Texts this large reach the edge of the 20001-byte buffer.
constexpr size_t kTextoGrande = 19995;

// The commands the gateway knows, and the field types it acts on; a pick past the end of either
// table takes a raw value instead.
constexpr int kComandos[] = {0, 1, 2, 3, 4, 11, 12, 13, 14, 20, 21, 22, 23, 30, 31, 34, 35, 50, 52};
constexpr int kCampos[] = {-1,  0,   1,   15,  25,  56,  57,  58,  100, 105, 106, 107, 108, 109,
                           110, 121, 122, 131, 132, 133, 134, 135, 146, 147, 500, 501, 502, 503,
                           504, 505, 506, 512, 513, 514, 515, 516, 517, 584, 732, 800, 4128};
constexpr int kStatusFinais[] = {0, -1, -2, -3, -5, -6, -40, 1, 13, 255, 20000};

// What a handler raises when the input says so, as the service's handlers do when their client
// has gone: it must leave the component through the operation, and nothing else.
class FalhaDoManipulador : public std::runtime_error {
 public:
  FalhaDoManipulador() : std::runtime_error("the handler failed") {}
};

template <size_t N>
int Escolhe(FuzzedDataProvider& dados, const int (&tabela)[N]) {
  const size_t i = dados.ConsumeIntegralInRange<size_t>(0, N);
  return i < N ? tabela[i] : dados.ConsumeIntegral<int>();
}

// A directory of its own in memory for the backups and the TEF log, removed at exit.
class Pasta {
 public:
  Pasta() {
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string modelo = (base / "kelvora-fuzz-loop-XXXXXX").string();
    if (::mkdtemp(modelo.data()) == nullptr) throw std::runtime_error("cannot create a directory");
    path_ = modelo;
  }
  ~Pasta() {
    std::error_code ignorado;
    std::filesystem::remove_all(path_, ignorado);
  }
  Pasta(const Pasta&) = delete;
  Pasta& operator=(const Pasta&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A clock that moves one second each time it is read, from the same moment for every input: each
// dialogue of a run has a document number of its own, and runs repeat exactly.
class RelogioDoRoteiro final : public platform::Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::sys_days{std::chrono::year{2025} / 7 / 1} + std::chrono::hours{12} +
           std::chrono::seconds{leituras_++};
  }
  void Reinicia() { leituras_ = 0; }

 private:
  mutable int64_t leituras_ = 0;
};

// The component with its handlers, initialised once, and the stand-in library's script setter.
class Aplicacao {
  // Declared first: the component is built on them.
  Pasta pasta_;

 public:
  Aplicacao() : KoCliSiTef(pasta_.Path().string(), Relogio) {
    const std::string pathDLL = (platform::ExecutableDirectory() / "fake-clisitef").string();
    std::string erro;
    biblioteca_ = platform::DynamicLibrary::Open(pathDLL + "/" + kNomeDLL, true, erro);
    Require(biblioteca_.Loaded(), "the stand-in library loads");
    roteiro_ = reinterpret_cast<TKelvoraFuzzRoteiro>(biblioteca_.Symbol(kKelvoraFuzzRoteiro, erro));
    Require(roteiro_ != nullptr, "the stand-in library exports its script setter");

    pathDLL_ = pathDLL;
    Prepara(KoCliSiTef);
  }

  RelogioDoRoteiro Relogio;
  TKoCliSiTef KoCliSiTef;
  // The input's choices while an input runs; none (plain answers) otherwise.
  FuzzedDataProvider* Dados = nullptr;
  // The handler failures the input has asked for so far.
  int Falhas = 0;

  // Sets a component up as this application's and initialises it: the first time, and for a
  // process that starts again on what an earlier one left on disk.
  void Prepara(TKoCliSiTef& k) {
    k.SetArqLOG(ArqLOG());
    k.SetPathBackup(PathBackup());
    TKoCliSiTefCliSiTef& g = k.TEFCliSiTef();
    g.SetPathDLL(pathDLL_);
    g.SetModoServico(true);
    g.SetEnderecoIP("127.0.0.1");
    g.SetCodigoLoja("00000000");
    g.SetNumeroTerminal("SE000001");
    g.SetOperador("OPERADOR");
    Liga(k);
    k.Inicializar(gpCliSiTef);
  }

  std::string ArqLOG() const { return (pasta_.Path() / "tef.log").string(); }
  std::string PathBackup() const { return (pasta_.Path() / "TEF").string(); }
  void Roteiro(const std::vector<KelvoraFuzzPasso>& passos, int statusFinal, int statusInicia) {
    roteiro_(passos.data(), passos.size(), statusFinal, statusInicia);
  }

  // The backup files on disk.
  std::set<std::string> Backups() const {
    std::set<std::string> nomes;
    std::error_code erro;
    for (const auto& e : std::filesystem::directory_iterator(PathBackup(), erro)) {
      nomes.insert(e.path().string());
    }
    return nomes;
  }

 private:
  // A number from the input, 0 once it is used up.
  int Numero(int maximo) { return Dados ? Dados->ConsumeIntegralInRange<int>(0, maximo) : 0; }
  bool Sim() { return Dados && Dados->ConsumeBool(); }
  // Raises FalhaDoManipulador when the input says so (rarely).
  void TalvezFalhe() {
    if (!Dados || Dados->ConsumeIntegral<uint8_t>() != 0xA5) return;
    ++Falhas;
    throw FalhaDoManipulador();
  }
  // An answer typed by the user: usually short, sometimes past what the buffer holds.
  platform::AnsiString Texto() {
    if (!Dados) return {};
    const size_t escolha = Dados->ConsumeIntegral<uint8_t>();
    if (escolha < 250) return platform::AnsiBytes(Dados->ConsumeBytesAsString(escolha % 40));
    std::string texto = Dados->ConsumeBytesAsString(8);
    texto.resize(kTextoGrande + escolha - 250 + Dados->ConsumeIntegralInRange<size_t>(0, 8), '9');
    return platform::AnsiBytes(texto);
  }
  // A printer's result: done, failed, or an unknown code.
  int32_t RetornoECF() {
    static constexpr int32_t kRetornos[] = {1, 0, -1, 2};
    return kRetornos[Numero(3)];
  }

  void Liga(TKoCliSiTef& k) {
    k.OnExibeMsg = [this](TKoCliSiTefOperacaoMensagem op, const std::string&, int& modal) {
      TalvezFalhe();
      static constexpr int kModais[] = {7, 6, 2, 0};
      if (op == opmYesNo || op == opmYesNoCustom) modal = kModais[Numero(3)];
    };
    k.OnAguardaResp = [this](const std::string&, int32_t, bool& interromper) {
      TalvezFalhe();
      interromper = Sim();
    };
    k.OnExibeMenu = [this](const std::string&, const std::vector<std::string>& opcoes,
                           int32_t& item, bool& voltar) {
      TalvezFalhe();
      item = Numero(static_cast<int>(opcoes.size()) + 1) - 1;
      voltar = Sim();
    };
    k.OnObtemCampo = [this](const std::string&, int32_t, int32_t, int32_t,
                            TKoCliSiTefCliSiTefOperacaoCampo, platform::AnsiString& resposta,
                            bool& digitado, bool& voltar) {
      TalvezFalhe();
      if (Sim()) resposta = Texto();
      digitado = !Sim();
      voltar = Sim();
    };
    k.OnObtemCheque = [this](const std::string&, int32_t, TKoCliSiTefCliSiTefOperacaoCampo,
                             platform::AnsiString& resposta, bool& digitado, bool& voltar) {
      TalvezFalhe();
      resposta = Texto();
      digitado = !Sim();
      voltar = Sim();
    };
    k.OnObterSenha = [this](const std::string&, bool& voltar) {
      TalvezFalhe();
      voltar = Sim();
    };
    k.OnExibeQRCode = [this](const std::string&) { TalvezFalhe(); };
    k.OnComandaECF = [this](TKoCliSiTefOperacaoECF, TKoCliSiTefResp&, int32_t& ret) {
      TalvezFalhe();
      ret = RetornoECF();
    };
    k.OnComandaImpressao = [this](int32_t& ret, TKoCliSiTefResp&, bool) {
      TalvezFalhe();
      ret = RetornoECF();
    };
    k.OnComandaECFPagamento = [this](const std::string&, platform::Currency, int32_t& ret) {
      TalvezFalhe();
      ret = RetornoECF();
    };
    k.OnComandaECFAbreVinculado = [this](const std::string&, const std::string&,
                                         platform::Currency, int32_t& ret) {
      TalvezFalhe();
      ret = RetornoECF();
    };
    k.OnComandaECFImprimeVia = [this](TKoCliSiTefTipoRelatorio, int32_t,
                                      const std::vector<std::string>&, int32_t& ret) {
      TalvezFalhe();
      ret = RetornoECF();
    };
    k.OnInfoECF = [this](TKoCliSiTefInfoECF op, std::string& ret) {
      TalvezFalhe();
      static constexpr const char* kEstados[] = {"L", "C", "G", "V", "R", "X", ""};
      static constexpr const char* kValores[] = {"0", "10,00", "1e400", "abc", ""};
      ret = op == ineEstadoECF ? kEstados[Numero(6)] : kValores[Numero(4)];
    };
    k.OnDepoisConfirmarTransacoes = [this](TKoCliSiTefRespostasPendentes&) { TalvezFalhe(); };
    k.OnAntesCancelarTransacao = [this](TKoCliSiTefResp&) { TalvezFalhe(); };
    k.OnDepoisCancelarTransacoes = [this](TKoCliSiTefRespostasPendentes&) { TalvezFalhe(); };
  }

  std::string pathDLL_;
  platform::DynamicLibrary biblioteca_;
  TKelvoraFuzzRoteiro roteiro_ = nullptr;
};

Aplicacao& ApplicacaoUnica() {
  static Aplicacao aplicacao;
  return aplicacao;
}

// The script of one run: the steps, with their texts kept alive beside them.
struct Script {
  std::vector<std::string> Textos;
  std::vector<KelvoraFuzzPasso> Passos;
};

Script LeScript(FuzzedDataProvider& dados) {
  Script script;
  const size_t quantidade = dados.ConsumeIntegralInRange<size_t>(0, kMaxPassos);
  script.Textos.reserve(quantidade);
  for (size_t i = 0; i < quantidade && dados.remaining_bytes() > 0; ++i) {
    KelvoraFuzzPasso passo{};
    passo.Status = dados.ConsumeIntegral<uint8_t>() < 232 ? kComandoPendente
                                                          : Escolhe(dados, kStatusFinais);
    passo.Comando = Escolhe(dados, kComandos);
    passo.TipoCampo = Escolhe(dados, kCampos);
    passo.Minimo = dados.ConsumeIntegral<short>();
    passo.Maximo = dados.ConsumeIntegral<short>();
    const size_t escolha = dados.ConsumeIntegral<uint8_t>();
    std::string texto = dados.ConsumeBytesAsString(escolha < 250 ? escolha : 64);
    if (escolha >= 250) texto.resize(kTextoGrande + (escolha - 250) * 2, 'A');
    passo.ComNul = texto.size() < kTextoGrande || !dados.ConsumeBool();
    script.Textos.push_back(std::move(texto));
    passo.Texto = script.Textos.back().data();
    passo.Tamanho = script.Textos.back().size();
    script.Passos.push_back(passo);
  }
  return script;
}

// Runs one operation, letting through only the exceptions the component defines and the
// handlers' own failures; true when it returned.
template <class Operacao>
bool ExecutaComponente(Operacao&& operacao) {
  try {
    operacao();
    return true;
  } catch (const FalhaDoManipulador&) {
  } catch (const EKoCliSiTefErro&) {
  } catch (const std::filesystem::filesystem_error& e) {
    std::fprintf(stderr, "filesystem_error: %s\n", e.what());
    Require(false, "no file system failure leaves the component");
  } catch (const std::invalid_argument& e) {
    // "'<text>' is not a valid integer value", cut short where the text holds a NUL.
    Require(e.what()[0] == '\'', "an invalid_argument is the instalments' own");
  } catch (const std::runtime_error& e) {
    Require(IsWellFormedUtf8(e.what()) && e.what()[0] != '\0',
            "a runtime_error carries a message of the component");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "exception: %s\n", e.what());
    Require(false, "only the component's exceptions leave it");
  } catch (...) {
    Require(false, "only standard exceptions leave the component");
  }
  return false;
}

// Every backup file on disk belongs to a pending response. Only after operations that returned and
// handlers that did not fail: a failure may leave the backup of a response that was dropped, or
// whose confirmation or reversal did not finish, for the next reversal (the client's
// disconnection) or start-up confirmation to settle.
void ExigeBackupsPendentes(Aplicacao& app) {
  std::set<std::string> pendentes;
  TKoCliSiTefRespostasPendentes& lista = app.KoCliSiTef.RespostasPendentes();
  for (int i = 0; i < lista.Count(); ++i) pendentes.insert(lista.GetObject(i).ArqBackup());
  for (const std::string& arquivo : app.Backups()) {
    Require(pendentes.count(arquivo) == 1, "every backup file belongs to a pending response");
  }
}

}  // namespace
}  // namespace kelvora::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelvora::fuzz::ApplicacaoUnica();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using namespace kelvora::tef;
  using fuzz::Require;
  fuzz::Aplicacao& app = fuzz::ApplicacaoUnica();
  TKoCliSiTef& k = app.KoCliSiTef;
  TKoCliSiTefCliSiTef& g = k.TEFCliSiTef();
  std::error_code ignorado;
  std::filesystem::resize_file(app.ArqLOG(), 0, ignorado);
  app.Relogio.Reinicia();
  app.Falhas = 0;

  FuzzedDataProvider dados(data, size);
  const fuzz::Script script = fuzz::LeScript(dados);
  const int operacao = dados.ConsumeIntegralInRange(0, 2);
  static constexpr int kOperacoesCRT[] = {0, 2, 3, 201};
  g.SetOperacaoCRT(fuzz::Escolhe(dados, kOperacoesCRT));
  k.SetAutoFinalizarCupom(!dados.ConsumeBool());
  k.SetAutoEfetuarPagamento(dados.ConsumeBool());
  const bool confirmar = dados.ConsumeBool();
  const int statusFinal = fuzz::Escolhe(dados, fuzz::kStatusFinais);
  const int statusInicia = dados.ConsumeIntegral<uint8_t>() < 224
                               ? fuzz::kComandoPendente
                               : fuzz::Escolhe(dados, fuzz::kStatusFinais);
  app.Roteiro(script.Passos, statusFinal == fuzz::kComandoPendente ? 0 : statusFinal, statusInicia);

  app.Dados = &dados;
  const bool operacaoConcluida = fuzz::ExecutaComponente([&] {
    if (operacao == 0) {
      const double valor = dados.ConsumeIntegralInRange<int64_t>(-100, 100000000) / 100.0;
      const std::string cartao = dados.ConsumeRandomLengthString(24);
      const std::string vencimento = dados.ConsumeRandomLengthString(8);
      const std::string cvv = dados.ConsumeRandomLengthString(6);
      const std::string parcelas = dados.ConsumeRandomLengthString(6);
      k.CRT(valor, "01", "", 0, cartao, vencimento, cvv, parcelas);
    } else if (operacao == 1) {
      const std::string nsu = dados.ConsumeRandomLengthString(16);
      const double dia = 36526 + dados.ConsumeIntegralInRange(0, 40000) +
                         dados.ConsumeIntegralInRange(0, 86399) / 86400.0;
      const double valor = dados.ConsumeIntegralInRange<int64_t>(0, 100000000) / 100.0;
      k.CNC("", nsu, dia, valor);
    } else {
      k.ADM(gpCliSiTef);
    }
  });
  Require(!k.AguardandoResposta(), "no dialogue is left running");
  if (operacaoConcluida && app.Falhas == 0) fuzz::ExigeBackupsPendentes(app);

  const bool finalizacaoConcluida = fuzz::ExecutaComponente([&] {
    if (confirmar) {
      k.ConfirmarTransacoesPendentes();
    } else {
      k.CancelarTransacoesPendentes();
    }
  });
  if (finalizacaoConcluida) {
    Require(k.RespostasPendentes().Count() == 0, "confirming or reversing empties the pending list");
    if (operacaoConcluida && app.Falhas == 0) fuzz::ExigeBackupsPendentes(app);
  }

  // A process that ended here and starts again confirms the payments its backups hold; the
  // stand-in library checks that none of them had been undone.
  app.Dados = nullptr;
  if (!app.Backups().empty()) {
    TKoCliSiTef reinicio(app.PathBackup(), app.Relogio);
    app.Prepara(reinicio);
    Require(app.Backups().empty(), "the start-up confirmation settles every backup left");
  }

  // With the plain answers nothing fails: whatever is left is reversed, to the last file.
  k.CancelarTransacoesPendentes();
  Require(k.RespostasPendentes().Count() == 0, "the reversal empties the pending list");
  Require(app.Backups().empty(), "the reversal leaves no backup file");
  return 0;
}
