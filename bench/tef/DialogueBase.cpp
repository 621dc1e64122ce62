// The runtime tree of the dialogue benchmark and its application's immediate answers.
#include "DialogueBase.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

#include "platform/Currency.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::bench {
namespace {

// The simulator's steering: no interruption checks while the card or the Pix is awaited, no sleeps.
constexpr const char* kControleSimulador =
    "[dialog]\ncard_polls=0\npix_polls=0\n[delay]\ncontinue_ms=0\nfinalize_ms=0\n";

std::filesystem::path NovaPasta(TArmazenamento armazenamento) {
  const std::filesystem::path raiz = armazenamento == TArmazenamento::Memoria
                                         ? "/dev/shm"
                                         : std::filesystem::temp_directory_path();
  std::string modelo = (raiz / "kelvora-bench-tef-XXXXXX").string();
  if (::mkdtemp(modelo.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed in " + raiz.string());
  return modelo;
}

}  // namespace

TAmbienteDialogo::TAmbienteDialogo(TArmazenamento armazenamento) : fBase(NovaPasta(armazenamento)) {
  const std::filesystem::path simulador = fBase / "dll" / "simulador";
  std::filesystem::create_directories(simulador);
  std::filesystem::copy_file(KELVORA_BENCH_TIMED_LIBRARY, fBase / "dll" / "CliSiTef32I.dll");
  std::filesystem::copy_file(KELVORA_BENCH_SIMULATOR, simulador / "CliSiTef32I.dll");
  std::ofstream(simulador / "CliSiTefSim.ini", std::ios::binary) << kControleSimulador;
}

TAmbienteDialogo::~TAmbienteDialogo() {
  std::error_code ignorado;
  std::filesystem::remove_all(fBase, ignorado);
}

void TAmbienteDialogo::Recomeca() const {
  std::error_code ignorado;
  std::filesystem::remove(fBase / "dll" / "simulador" / "CliSiTefSim.ledger", ignorado);
  std::filesystem::remove(fBase / "tef.log", ignorado);
}

TAplicacaoDialogo::TAplicacaoDialogo(const TAmbienteDialogo& ambiente)
    : fKoCliSiTef(ambiente.Base()) {
  fKoCliSiTef.SetTelevenda(false);
  fKoCliSiTef.Identificacao().SetNomeAplicacao("Lumo XE2");
  fKoCliSiTef.Identificacao().SetVersaoAplicacao("1.0.12");
  fKoCliSiTef.Identificacao().SetSoftwareHouse("Tarvosa");
  fKoCliSiTef.Identificacao().SetRazaoSocial("Tarvosa transportes");
  fKoCliSiTef.SetEsperaSTS(7);
  fKoCliSiTef.SetArqLOG(ambiente.Base() + "/tef.log");
  tef::TKoCliSiTefCliSiTef& gateway = fKoCliSiTef.TEFCliSiTef();
  gateway.SetPathDLL(ambiente.PathDLL());
  gateway.SetModoServico(true);
  gateway.SetEnderecoIP("127.0.0.1");
  gateway.SetCodigoLoja("00000001");
  gateway.SetNumeroTerminal("SE000001");
  gateway.SetOperador("CAIXA01");
  LigaEventos();
  fKoCliSiTef.Inicializar(tef::gpCliSiTef);

  // The same file the component loaded, so the loader hands back the same library.
  std::string erro;
  fBiblioteca = platform::DynamicLibrary::Open(ambiente.PathDLL() + "/CliSiTef32I.dll", true, erro);
  fLeTempo = reinterpret_cast<TLeTempo>(fBiblioteca.Symbol("KelvoraBenchTempoBiblioteca", erro));
  if (fLeTempo == nullptr) {
    throw std::runtime_error("the SiTef library in use is not the timing stand-in: " + erro);
  }
}

void TAplicacaoDialogo::LigaEventos() {
  tef::TKoCliSiTef& k = fKoCliSiTef;
  k.OnAguardaResp = [](const std::string&, int32_t, bool&) {};
  k.OnExibeMsg = [](tef::TKoCliSiTefOperacaoMensagem op, const std::string&, int& modal) {
    if (op == tef::opmYesNo || op == tef::opmYesNoCustom) modal = 6;
  };
  k.OnComandaECF = [](tef::TKoCliSiTefOperacaoECF, tef::TKoCliSiTefResp&, int32_t& ret) {
    ret = 1;
  };
  k.OnComandaImpressao = [](int32_t& ret, tef::TKoCliSiTefResp&, bool) { ret = 1; };
  k.OnComandaECFPagamento = [](const std::string&, platform::Currency, int32_t& ret) { ret = 1; };
  k.OnComandaECFAbreVinculado = [](const std::string&, const std::string&, platform::Currency,
                                   int32_t& ret) { ret = 1; };
  k.OnComandaECFImprimeVia = [](tef::TKoCliSiTefTipoRelatorio, int32_t,
                                const std::vector<std::string>&, int32_t& ret) { ret = 1; };
  k.OnInfoECF = [](tef::TKoCliSiTefInfoECF op, std::string& ret) {
    if (op == tef::ineEstadoECF) ret = "L";
  };
  k.OnExibeMenu = [this](const std::string&, const std::vector<std::string>& opcoes, int32_t& item,
                         bool&) {
    for (size_t i = 0; i < opcoes.size(); ++i) {
      if (opcoes[i] == fOpcaoMenu) item = static_cast<int32_t>(i);
    }
  };
  k.OnObtemCampo = [](const std::string&, int32_t, int32_t, int32_t,
                      tef::TKoCliSiTefCliSiTefOperacaoCampo, platform::AnsiString&, bool&,
                      bool&) {};
  k.OnExibeQRCode = [](const std::string&) {};
}

bool TAplicacaoDialogo::Executa(TDialogo dialogo) {
  int operacao = 2;
  double valor = 25.9;
  std::string parcelas = "00";
  switch (dialogo) {
    case TDialogo::Debito:
      break;
    case TDialogo::CreditoParcelado:
      operacao = 3, valor = 100, parcelas = "03";
      break;
    case TDialogo::Pix:
      operacao = 0, valor = 12.34, fOpcaoMenu = "3:Pix";
      break;
  }
  // As the data module starts a sale: the whole amount is the card's.
  fKoCliSiTef.TEFCliSiTef().SetOperacaoCRT(operacao);
  fKoCliSiTef.TEFCliSiTef().SetCancelandoTransacaoTEF(false);
  fKoCliSiTef.RespostasPendentes().SetValorDinheiro(platform::Currency::FromDouble(valor));
  fKoCliSiTef.RespostasPendentes().SetValorTotalAPagar(platform::Currency::FromDouble(valor));
  return fKoCliSiTef.CRT(valor, "02", "123", 0, "", "", "", parcelas);
}

TTempoBiblioteca TAplicacaoDialogo::TempoBiblioteca() const {
  TTempoBiblioteca tempo;
  fLeTempo(&tempo.Nanossegundos, &tempo.ChamadasContinua);
  return tempo;
}

}  // namespace kelvora::bench
