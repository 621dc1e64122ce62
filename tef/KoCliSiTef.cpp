// The facade: settings and their rules, selection of the current gateway, initialisation, the
// payment operations forwarded to the gateway, and the confirmation and reversal of pending
// payments.
#include "tef/KoCliSiTef.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/PrivateDirectory.h"
#include "platform/Utf8Path.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

// The names of the events Inicializar requires, as its messages write them.
void ExigeEvento(bool atribuido, const char* nome) {
  if (!atribuido) throw std::runtime_error(std::string("Evento \"") + nome + "\" não programado");
}

}  // namespace

void TKoCliSiTefIdentificacao::SetNomeAplicacao(const std::string& value) {
  fNomeAplicacao = Trim(value);
}

void TKoCliSiTefIdentificacao::SetVersaoAplicacao(const std::string& value) {
  fVersaoAplicacao = Trim(value);
}

void TKoCliSiTefIdentificacao::SetSoftwareHouse(const std::string& value) {
  fSoftwareHouse = Trim(value);
}

void TKoCliSiTefIdentificacao::SetRazaoSocial(const std::string& value) {
  fRazaoSocial = Trim(value);
}

TKoCliSiTef::TKoCliSiTef(std::string DiretorioBase, const platform::Clock& Clock)
    : fDiretorioBase(std::move(DiretorioBase)), fClock(Clock) {
  auto gateway = std::make_unique<TKoCliSiTefCliSiTef>(*this);
  fTEFCliSiTef = gateway.get();
  fGateways.Add(std::move(gateway));
  SetGPAtual(gpTefDial);
}

TKoCliSiTef::~TKoCliSiTef() = default;

void TKoCliSiTef::VerificaSemRespostasPendentes(const char* propriedade) const {
  if (fRespostasPendentes.Count() > 0) {
    throw std::runtime_error(std::string("Existem Respostas Pendentes. Não é possível alterar \"") +
                             propriedade + "\"");
  }
}

void TKoCliSiTef::SetMultiplosCartoes(bool value) {
  if (value == fMultiplosCartoes) return;
  VerificaSemRespostasPendentes("MultiplosCartoes");
  fMultiplosCartoes = value;
}

void TKoCliSiTef::SetAutoEfetuarPagamento(bool value) {
  if (value == fAutoEfetuarPagamento) return;
  VerificaSemRespostasPendentes("AutoEfetuarPagamento");
  fAutoEfetuarPagamento = value;
}

void TKoCliSiTef::SetAutoFinalizarCupom(bool value) {
  if (value == fAutoFinalizarCupom) return;
  VerificaSemRespostasPendentes("AutoFinalizarCupom");
  fAutoFinalizarCupom = value;
}

void TKoCliSiTef::SetEsperaSleep(int32_t value) {
  if (value == fEsperaSleep) return;
  if (value < 10) throw std::runtime_error("Valor mínimo de EsperaSleep deve ser: 10");
  if (value > 500) throw std::runtime_error("Valor máximo de EsperaSleep deve ser: 500");
  fEsperaSleep = value;
}

const std::string& TKoCliSiTef::PathBackup() {
  if (fPathBackup.empty()) fPathBackup = (platform::PathFromUtf8(fDiretorioBase) / "TEF").string();
  return fPathBackup;
}

void TKoCliSiTef::SetPathBackup(const std::string& value) {
  if (value == fPathBackup) return;
  // Before a gateway is selected the CliSiTef gateway, the only one, is the one to ask.
  const TKoCliSiTefClass& gateway = fTEF != nullptr ? *fTEF : *fTEFCliSiTef;
  if (gateway.Inicializado()) {
    throw std::runtime_error("PathBackup não pode ser modificado com o KoCliSiTef Inicializado");
  }
  std::string caminho = Trim(value);
  if (!caminho.empty() && caminho.back() == '/') caminho.pop_back();
  fPathBackup = std::move(caminho);
}

void TKoCliSiTef::SetArqLOG(const std::string& value) {
  for (int i = 0; i < fGateways.Count(); ++i) {
    TKoCliSiTefClass& gateway = fGateways.GetObject(i);
    if (gateway.ArqLOG() == fArqLOG) gateway.SetArqLOG(value);
  }
  fArqLOG = value;
}

void TKoCliSiTef::SetGPAtual(TKoCliSiTefTipo Value) {
  if (Value == fGPAtual) return;
  if (Value == gpCliSiTef) fTEF = fTEFCliSiTef;
  fGPAtual = Value;
}

TKoCliSiTefClass& TKoCliSiTef::TEF() const {
  if (fTEF == nullptr) throw EKoCliSiTefErro("Nenhum Gerenciador Padrão selecionado");
  return *fTEF;
}

void TKoCliSiTef::SetEstadoReq(TKoCliSiTefReqEstado value) {
  if (value == fEstadoReq) return;
  fEstadoReq = value;
  if (OnMudaEstadoReq) OnMudaEstadoReq(value);
}

void TKoCliSiTef::SetEstadoResp(TKoCliSiTefRespEstado value) {
  if (value == fEstadoResp) return;
  fEstadoResp = value;
  if (OnMudaEstadoResp) OnMudaEstadoResp(value);
}

void TKoCliSiTef::Inicializar(TKoCliSiTefTipo GP) {
  ExigeEvento(static_cast<bool>(OnExibeMsg), "OnExibeMsg");
  ExigeEvento(static_cast<bool>(OnComandaECF), "OnComandaECF");
  ExigeEvento(static_cast<bool>(OnComandaImpressao), "OnComandaImpressão");
  ExigeEvento(static_cast<bool>(OnComandaECFAbreVinculado), "OnComandaECFAbreVinculado");
  ExigeEvento(static_cast<bool>(OnComandaECFImprimeVia), "OnComandaECFImprimeVia");
  ExigeEvento(static_cast<bool>(OnInfoECF), "OnInfoECF");

  const std::string& diretorio = PathBackup();
  std::error_code erro;
  const std::filesystem::path pasta = platform::PathFromUtf8(diretorio);
  platform::CreatePrivateDirectories(pasta, erro);
  if (!std::filesystem::is_directory(pasta, erro)) {
    throw std::runtime_error("Diretório de Backup não existente:\r\n" + diretorio);
  }

  if (GP != gpNenhum) {
    SetGPAtual(GP);
    TKoCliSiTefClass& gateway = TEF();
    try {
      gateway.SetInicializado(true);
      gateway.SetHabilitado(true);
    } catch (const std::exception& e) {
      // The application sees one connection error; the log keeps what went wrong.
      gateway.GravaLog(gateway.Name() + " Inicializar: " + e.what());
      try {
        gateway.SetInicializado(false);
      } catch (...) {
        // Releasing cannot add anything useful to the failure being reported.
      }
      throw std::runtime_error("Erro ao conectar com servidor TEF");
    }
    return;
  }

  std::string erros;
  for (int i = 0; i < fGateways.Count(); ++i) {
    TKoCliSiTefClass& gateway = fGateways.GetObject(i);
    if (!gateway.Habilitado()) continue;
    try {
      gateway.SetInicializado(true);
    } catch (const std::exception& e) {
      try {
        gateway.SetInicializado(false);
      } catch (...) {
        // As above: the failure's own message is what the caller gets.
      }
      erros += std::string(e.what()) + "\r\n";
    }
  }
  if (!erros.empty()) throw std::runtime_error(erros);
}

void TKoCliSiTef::DesInicializar(TKoCliSiTefTipo GP) {
  if (GP != gpNenhum) {
    SetGPAtual(GP);
    TEF().SetInicializado(false);
    return;
  }
  for (int i = 0; i < fGateways.Count(); ++i) {
    if (fGateways.GetObject(i).Habilitado()) fGateways.GetObject(i).SetInicializado(false);
  }
}

bool TKoCliSiTef::Inicializado(TKoCliSiTefTipo GP) {
  if (GP != gpNenhum) SetGPAtual(GP);
  return TEF().Inicializado();
}

void TKoCliSiTef::AtivarGP(TKoCliSiTefTipo GP) {
  if (GP != gpNenhum) {
    SetGPAtual(GP);
    TEF().AtivarGP();
    return;
  }
  for (int i = 0; i < fGateways.Count(); ++i) {
    if (fGateways.GetObject(i).Habilitado()) fGateways.GetObject(i).AtivarGP();
  }
}

void TKoCliSiTef::ATV(TKoCliSiTefTipo GP) {
  if (GP != gpNenhum) SetGPAtual(GP);
  TEF().ATV();
}

bool TKoCliSiTef::ADM(TKoCliSiTefTipo GP) {
  if (GP != gpNenhum) SetGPAtual(GP);
  return TEF().ADM();
}

bool TKoCliSiTef::CRT(double Valor, const std::string& IndiceFPG_ECF,
                      const std::string& DocumentoVinculado, int32_t Moeda,
                      const std::string& NumeroCartaoDigitado,
                      const std::string& DataVencimentoDigitado, const std::string& CVVDigitado,
                      const std::string& QtdParcela) {
  return TEF().CRT(platform::Currency::FromDouble(Valor), IndiceFPG_ECF, NumeroCartaoDigitado,
                   DataVencimentoDigitado, CVVDigitado, QtdParcela, DocumentoVinculado, Moeda);
}

bool TKoCliSiTef::CHQ(double Valor, const std::string& IndiceFPG_ECF,
                      const std::string& DocumentoVinculado, const std::string& CMC7,
                      char TipoPessoa, const std::string& DocumentoPessoa,
                      platform::TDateTime DataCheque, const std::string& Banco,
                      const std::string& Agencia, const std::string& AgenciaDC,
                      const std::string& Conta, const std::string& ContaDC,
                      const std::string& Cheque, const std::string& ChequeDC,
                      const std::string& Compensacao) {
  return TEF().CHQ(platform::Currency::FromDouble(Valor), IndiceFPG_ECF, DocumentoVinculado, CMC7,
                   TipoPessoa, DocumentoPessoa, DataCheque, Banco, Agencia, AgenciaDC, Conta,
                   ContaDC, Cheque, ChequeDC, Compensacao);
}

bool TKoCliSiTef::CNC(const std::string& Rede, const std::string& NSU,
                      platform::TDateTime DataHoraTransacao, double Valor) {
  return TEF().CNC(Rede, NSU, DataHoraTransacao, platform::Currency::FromDouble(Valor));
}

void TKoCliSiTef::CNF(const std::string& Rede, const std::string& NSU,
                      const std::string& Finalizacao, const std::string& DocumentoVinculado) {
  TEF().CNF(Rede, NSU, Finalizacao, DocumentoVinculado);
}

void TKoCliSiTef::NCN(const std::string& Rede, const std::string& NSU,
                      const std::string& Finalizacao, double Valor,
                      const std::string& DocumentoVinculado) {
  TEF().NCN(Rede, NSU, Finalizacao, platform::Currency::FromDouble(Valor), DocumentoVinculado);
}

bool TKoCliSiTef::ConfirmarTransacao(bool Confirma, const std::string& DocumentoVinculado) {
  try {
    fTEFCliSiTef->FinalizarTransacao(Confirma, DocumentoVinculado);
    return true;
  } catch (...) {
    return false;
  }
}

void TKoCliSiTef::CancelarTransacoesPendentes() {
  CancelarTransacoesPendentesFiltradas(nullptr);
}

void TKoCliSiTef::CancelarTransacoesPendentes(const std::vector<std::string>& pArquivos) {
  CancelarTransacoesPendentesFiltradas([&pArquivos](const std::string& arquivo) {
    return std::find(pArquivos.begin(), pArquivos.end(), arquivo) != pArquivos.end();
  });
}

void TKoCliSiTef::CancelarTransacoesPendentesFiltradas(
    const std::function<bool(const std::string&)>& pIncluir) {
  try {
    for (int i = 0; i < fGateways.Count(); ++i) {
      if (fGateways.GetObject(i).Habilitado()) {
        fGateways.GetObject(i).CancelarTransacoesPendentesClass(pIncluir);
      }
    }
    if (OnDepoisCancelarTransacoes) OnDepoisCancelarTransacoes(fRespostasPendentes);
  } catch (...) {
    fRespostasPendentes.Clear();
    throw;
  }
  fRespostasPendentes.Clear();
}

void TKoCliSiTef::ConfirmarTransacoesPendentes() {
  GravaLog("ConfirmarTransacoesPendentes");
  for (int i = 0; i < fRespostasPendentes.Count(); ++i) {
    TKoCliSiTefResp& registro = fRespostasPendentes.GetObject(i);
    // One attempt per record: a failed confirmation keeps the backup file on disk, so that the
    // start-up confirmation completes the payment instead of this loop retrying it.
    try {
      SetGPAtual(registro.TipoGP());
      if (!registro.CNFEnviado()) {
        TEF().CNF(registro.Rede(), registro.NSU(), registro.Finalizacao(),
                  registro.DocumentoVinculado());
        registro.SetCNFEnviado(true);
      }
      ApagaArquivo(registro.ArqRespPendente());
      // Settled in the library: should the file outlive this step, its mark keeps every later
      // pass from undoing, confirming or reporting the payment again.
      TEF().EncerrarBackup(registro.ArqBackup());
    } catch (const std::exception& e) {
      GravaLog("ConfirmarTransacoesPendentes: " + registro.ArqBackup() + " - " + e.what());
    }
  }
  try {
    if (OnDepoisConfirmarTransacoes) OnDepoisConfirmarTransacoes(fRespostasPendentes);
  } catch (...) {
    fRespostasPendentes.Clear();
    throw;
  }
  fRespostasPendentes.Clear();
}

std::string TKoCliSiTef::LerTrilha3() {
  platform::AnsiString resposta;
  TEF().LerTrilha3(resposta);
  return platform::FromAnsi(resposta);
}

std::string TKoCliSiTef::LerCartaoSeguro() {
  TEF().LerCartaoSeguro();
  return std::string();
}

const TKoCliSiTefClass& TKoCliSiTef::GatewayDoLog() const {
  return fTEF != nullptr ? *fTEF : *fTEFCliSiTef;
}

void TKoCliSiTef::GravaLog(std::string_view texto) const {
  GatewayDoLog().GravaLog(texto);
}

int TKoCliSiTef::DoExibeMsg(TKoCliSiTefOperacaoMensagem Operacao, const std::string& Mensagem) {
  GravaLog(GatewayDoLog().Name() + " DoExibeMsg: Oper: " + NomeValor(Operacao) +
           " Mensagem: " + Mensagem);
  if (Operacao == opmOK || Operacao == opmYesNo || Operacao == opmDestaqueVia) {
    RestaurarFocoAplicacao();
  }
  int AModalResult = 0;
  if (OnExibeMsg)
    OnExibeMsg(Operacao, platform::FromAnsi(platform::ToAnsi(Mensagem)), AModalResult);
  return AModalResult;
}

void TKoCliSiTef::LimparTeclado() {
  bool Tratado = false;
  if (OnLimpaTeclado) OnLimpaTeclado(Tratado);
}

void TKoCliSiTef::RestaurarFocoAplicacao() {
  bool Tratado = false;
  if (OnRestauraFocoAplicacao) OnRestauraFocoAplicacao(Tratado);
}

void TKoCliSiTef::EsperarAte(std::chrono::steady_clock::time_point Limite) const {
  while (std::chrono::steady_clock::now() < Limite) {
    std::this_thread::sleep_for(std::chrono::milliseconds(fEsperaSleep));
  }
}

}  // namespace kelvora::tef
