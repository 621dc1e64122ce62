// The CliSiTef gateway's life cycle: creation, loading and configuring the library, releasing it,
// and the three direct library services.
#include "tef/KoCliSiTefCliSiTef.h"

#include <stdexcept>
#include <utility>

#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

// The message for a configuration result the library defines as a failure; empty for success.
std::string MensagemConfiguracao(int resultado) {
  switch (resultado) {
    case 1: return "Endereço IP inválido ou não resolvido";
    case 2: return "Código da loja inválido";
    case 3: return "Código de terminal inválido";
    case 6: return "Erro na inicialização do TCP/IP";
    case 7: return "Falta de memória";
    case 8: return "Não encontrou a dll do \"TEF\" ou ela está com problemas";
    case 10: return "O PinPad não está devidamente configurado no arquivo CliSiTef.ini";
    case 11: return "Dados inválidos passados pela automação.";
    case 12:
      return "Modo seguro não ativo (possível falta de configuração no servidor SiTef do arquivo "
             ".cha).";
    case 13: return "Caminho da DLL inválido (o caminho completo das bibliotecas está muito grande).";
    default: return std::string();
  }
}

// Every CR LF of a text replaced by another text.
std::string TrocaQuebras(const std::string& texto, const std::string& por) {
  std::string saida;
  for (size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] == '\r' && i + 1 < texto.size() && texto[i + 1] == '\n') {
      saida += por;
      ++i;
    } else {
      saida += texto[i];
    }
  }
  return saida;
}

}  // namespace

TKoCliSiTefCliSiTef::TKoCliSiTefCliSiTef(TKoCliSiTef& AOwner)
    : TKoCliSiTefClass(AOwner, "CliSiTef", gpCliSiTef, std::make_unique<TKoCliSiTefRespCliSiTef>()),
      fRespCliSiTef(static_cast<TKoCliSiTefRespCliSiTef&>(Resp())) {}

std::unique_ptr<TKoCliSiTefResp> TKoCliSiTefCliSiTef::CriarResposta() const {
  auto resposta = std::make_unique<TKoCliSiTefRespCliSiTef>();
  resposta->SetTipoGP(Tipo());
  return resposta;
}

void TKoCliSiTefCliSiTef::SetParametrosAdicionaisTexto(std::string_view texto) {
  std::vector<std::string> linhas;
  for (const platform::AnsiString& linha : SeparaLinhas(platform::AnsiBytes(texto))) {
    linhas.emplace_back(platform::RawBytes(linha));
  }
  fParametrosAdicionais = std::move(linhas);
}

void TKoCliSiTefCliSiTef::Inicializar() {
  if (fInicializado) return;
  try {
    fDLL.CarregarFuncoesDLL(fPathDLL, fNomeDLL);
  } catch (const std::exception&) {
    // The exception names the export; the log keeps the loader's reason.
    GravaLog(Name() + " CarregarFuncoesDLL: " + fDLL.ErroCarregamento());
    throw;
  }
  GravaLog(Name() + " Biblioteca carregada: " + NomeCompletoDLL(fPathDLL, fNomeDLL));

  // The lines as one text (each ended by CR LF), trimmed, with the line breaks turned into ";".
  std::string texto;
  for (const std::string& linha : fParametrosAdicionais) texto += linha + "\r\n";
  std::string parametros = "[" + TrocaQuebras(Trim(texto), ";") + "];{ValorIncluiTaxa=0;};";
  if (!Owner().CNPJLoja().empty() && !Owner().CNPJQuirena().empty()) {
    parametros += "[ParmsClient=1=" + Trim(Owner().CNPJLoja()) + ";2=" +
                  Trim(Owner().CNPJQuirena()) + "];";
  }

  GravaLog("*** ConfiguraIntSiTefInterativoEx. EnderecoIP: " + EnderecoIP() +
           " CodigoLoja: " + CodigoLoja() + " NumeroTerminal: " + NumeroTerminal() +
           " Resultado: 0 ParametrosAdicionais: " + parametros);
  platform::AnsiString endereco = fEnderecoIP;
  platform::AnsiString loja = fCodigoLoja;
  platform::AnsiString terminal = fNumeroTerminal;
  platform::AnsiString parametrosAnsi = platform::ToAnsi(parametros);
  const int resultado =
      Exportacao(fDLL.xConfiguraIntSiTefInterativoEx, "ConfiguraIntSiTefInterativoEx")(
          endereco.data(), loja.data(), terminal.data(), 0, parametrosAnsi.data());

  // Outside service mode the message would also go to a modal box; this platform has none, and
  // the exception carries the same text to whoever shows it.
  if (const std::string mensagem = MensagemConfiguracao(resultado); !mensagem.empty()) {
    throw EKoCliSiTefErro(mensagem);
  }

  GravaLog(Name() + " Inicializado CliSiTEF");
  if (BibliotecaSimulada()) {
    GravaLog(Name() + " " + std::string(kAvisoSimulador));
  }
  try {
    Owner().EstadoECF();
  } catch (...) {
    // Only asked so that the application knows the component is starting; any answer will do.
  }
  fInicializado = true;
  ConfirmarTransacoesPendentesClass();
}

void TKoCliSiTefCliSiTef::DesInicializar() {
  fDLL.DescarregarDLL();
  TKoCliSiTefClass::DesInicializar();
}

void TKoCliSiTefCliSiTef::AtivarGP() {
  throw std::runtime_error("CliSiTef não pode ser ativado localmente");
}

void TKoCliSiTefCliSiTef::SetNumVias(int32_t /*Value*/) { TKoCliSiTefClass::SetNumVias(2); }

int32_t TKoCliSiTefCliSiTef::DefineMensagemPermanentePinPad(const std::string& Mensagem) {
  const auto escreve =
      Exportacao(fDLL.xEscreveMensagemPermanentePinPad, "EscreveMensagemPermanentePinPad");
  platform::AnsiString mensagem = platform::ToAnsi(Mensagem);
  return escreve(mensagem.data());
}

std::string TKoCliSiTefCliSiTef::VerificarPresencaPinPad() {
  // Loaded entry points are checked by the first of them, as the library resolves them together.
  Exportacao(fDLL.xEscreveMensagemPermanentePinPad, "EscreveMensagemPermanentePinPad");
  const int presenca = Exportacao(fDLL.xVerificaPresencaPinPad, "VerificaPresencaPinPad")();
  metrics::NotePinpadPresence(presenca == 1);
  switch (presenca) {
    case 1: return "PINPAD conectado com sucesso...";
    case 0: return "Nenhum PINPAD conectado...";
    case -1: return "Erro na DLL ou arquivo .INI do PINPAD";
    default: return std::string();
  }
}

int32_t TKoCliSiTefCliSiTef::ObtemQuantidadeTransacoesPendentes(platform::TDateTime Data,
                                                               const std::string& CupomFiscal) {
  const auto obtem =
      Exportacao(fDLL.xObtemQuantidadeTransacoesPendentes, "ObtemQuantidadeTransacoesPendentes");
  platform::AnsiString data = platform::AnsiBytes(platform::FormatDateTime("yyyymmdd", Data));
  platform::AnsiString cupom = platform::ToAnsi(CupomFiscal);
  return obtem(data.data(), cupom.data());
}

}  // namespace kelvora::tef
