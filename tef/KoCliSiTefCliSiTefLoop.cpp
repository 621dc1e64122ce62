// The interactive dialogue with the SiTef library: starting a function, the loop that carries out
// every command the library returns, the answers the gateway gives by itself, and the message for
// a failed final status.
#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FormatSettings.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefMascara.h"
#include "tef/KoCliSiTefNumero.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

using platform::AnsiString;

// The buffer shared with the library: at most 20000 bytes of answer plus the terminating NUL.
constexpr int kTamanhoBuffer = 20001;
// ContinuaFuncaoSiTefInterativo's status while a command is pending.
constexpr int kComandoPendente = 10000;
constexpr int kSim = 6;

// Seconds since midnight of a date-time.
int32_t SegundosDoDia(platform::TDateTime momento) {
  const platform::DateParts partes = platform::DecodeDateTime(momento);
  return partes.hour * 3600 + partes.minute * 60 + partes.second;
}

// A text without its trailing blanks and control characters.
AnsiString SemBrancosAFinal(AnsiString texto) {
  while (!texto.empty() && static_cast<unsigned char>(texto.back()) <= ' ') texto.pop_back();
  return texto;
}

// A text as the TEF log shows it: one line, which a dialogue can be rebuilt from. Control bytes
// and the backslash become \xHH, so a receipt of many lines stays on its own log line and
// reads back exactly.
std::string TextoParaLog(std::string_view texto) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string linha;
  linha.reserve(texto.size());
  for (const char c : texto) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      linha += "\\x";
      linha += kHex[byte >> 4];
      linha += kHex[byte & 0x0F];
    } else {
      linha += c;
    }
  }
  return linha;
}

bool ComecaCom(const std::string& texto, const char* prefixo) {
  return texto.compare(0, std::strlen(prefixo), prefixo) == 0;
}

// Reads the number of instalments the caller gave; a text that is not a whole number is a
// conversion error, as it would be anywhere else in the application.
int32_t ParcelasInformadas(const AnsiString& QtdParcela) {
  // Two different defaults tell a text that is not a number from one that reads as a default.
  const AnsiString texto = Trim(QtdParcela);
  const int32_t valor = StrToIntDef(texto, 0);
  if (valor != StrToIntDef(texto, 1)) {
    throw std::invalid_argument("'" + platform::FromAnsi(QtdParcela) +
                                "' is not a valid integer value");
  }
  return valor;
}

}  // namespace

// The state of one dialogue, alive while the loop runs.
struct TKoCliSiTefCliSiTef::Dialogo {
  int ProximoComando = 0;
  int TipoCampo = 0;
  short TamanhoMinimo = 0;
  short TamanhoMaximo = 0;
  int Continua = 0;
  int STS = 0;
  AnsiString TextoAnsi;  // the buffer's text as the library gave it, trailing blanks removed
  std::string Texto;     // the same text in UTF-8, as the events get it
  AnsiString Resposta;
  // How the answer may appear in the log: card data and secrets never appear in clear.
  TKoCliSiTefSigilo SigiloResposta = TKoCliSiTefSigilo::Nenhum;
  std::string Titulo;
  std::string MsgOperador;
  std::string MsgCliente;
  bool VoltarMenu = false;
  bool Digitado = true;
  bool ModoTrilha3 = false;
  AnsiString NumeroCartao;
  AnsiString DataVencimento;
  AnsiString CVV;
  AnsiString QtdParcela;
  // How often each field was answered from the request rather than by the page: the library asks
  // again for a value it refused, and the same answer would be refused for ever.
  std::map<int32_t, int> RespostasAutomaticas;
};

std::string TKoCliSiTefCliSiTef::FormatarMensagemSiTef(std::string texto) {
  for (const std::string marca : {"@", "/n"}) {
    for (size_t p = texto.find(marca); p != std::string::npos; p = texto.find(marca, p + 2)) {
      texto.replace(p, marca.size(), "\r\n");
    }
  }
  return texto;
}

int32_t TKoCliSiTefCliSiTef::IniciarFuncaoInterativa(int32_t Modalidade, const std::string& Header,
                                                     const AnsiString& Restricoes,
                                                     platform::Currency Valor) {
  if (fAguardandoResposta) throw std::runtime_error("Requisição anterior não concluida");
  const auto inicia = Exportacao(fDLL.xIniciaFuncaoSiTefInterativo, "IniciaFuncaoSiTefInterativo");
  fIniciouRequisicao = true;

  const platform::TDateTime agora = platform::Now(Owner().Clock());
  const std::string dataFiscal = platform::FormatDateTime("yyyymmdd", agora);
  const std::string horario = platform::FormatDateTime("hhnnss", agora);
  const std::string valorTexto = Valor.ToText2();

  fRespCliSiTef.Clear();
  fpIDSeq = SegundosDoDia(platform::Now(Owner().Clock()));
  const std::string documento = std::to_string(fpIDSeq);
  TKoCliSiTefArquivo& conteudo = fRespCliSiTef.Conteudo();
  conteudo.GravaInformacao(899, 100, platform::ToAnsi(Header));
  conteudo.GravaInformacao(899, 101, platform::AnsiBytes(documento));
  conteudo.GravaInformacao(899, 102, platform::AnsiBytes(documento));
  conteudo.GravaInformacao(899, 103, platform::AnsiBytes(std::to_string(Valor.RoundedCents())));
  // The library files a transaction under its document and fiscal date; the confirmation must name
  // the same date, even after midnight or in a later process, or it settles nothing.
  conteudo.GravaInformacao(899, 104, platform::AnsiBytes(dataFiscal + horario));
  fRespCliSiTef.SetTipoGP(Tipo());

  GravaLog("*** IniciaFuncaoSiTefInterativo. Modalidade: " + std::to_string(Modalidade) +
           " Valor: " + valorTexto + " Documento: " + documento + " Data: " + dataFiscal +
           " Hora: " + horario + " Operador: " + Operador() +
           " Restricoes: " + platform::FromAnsi(Restricoes));

  AnsiString valor = platform::AnsiBytes(valorTexto);
  AnsiString cupom = platform::AnsiBytes(documento);
  AnsiString data = platform::AnsiBytes(dataFiscal);
  AnsiString hora = platform::AnsiBytes(horario);
  AnsiString operador = fOperador;
  AnsiString restricoes = Restricoes;
  return inicia(Modalidade, valor.data(), cupom.data(), data.data(), hora.data(), operador.data(),
                restricoes.data());
}

int32_t TKoCliSiTefCliSiTef::ContinuarFuncaoInterativa(bool ModoTrilha3,
                                                       const AnsiString& NumeroCartao,
                                                       const AnsiString& DataVencimento,
                                                       const AnsiString& CVV,
                                                       const AnsiString& QtdParcela) {
  const auto continua =
      Exportacao(fDLL.xContinuaFuncaoSiTefInterativo, "ContinuaFuncaoSiTefInterativo");
  Dialogo d;
  d.ModoTrilha3 = ModoTrilha3;
  d.NumeroCartao = NumeroCartao;
  d.DataVencimento = DataVencimento;
  d.CVV = CVV;
  d.QtdParcela = QtdParcela;

  TKoCliSiTef& facade = Owner();
  fIniciouRequisicao = true;
  fDevolucao = false;
  fReimpressao = false;
  for (std::string* campo :
       {&facade.fIdDaCarteiraDigital, &facade.fNomeCarteiraDigital,
        &facade.fBandeiraCarteiraDigital, &facade.fValorAprovadoCarteiraDigital,
        &facade.fCPFCliente, &facade.FCNPJCliente, &facade.fTelefoneCliente}) {
    campo->clear();
  }
  fAguardandoResposta = true;
  facade.SetIDAmigo("");

  // Runs however the loop ends: the record is converted even when a handler failed.
  auto encerrar = [&] {
    facade.BloquearMouseTeclado(false);
    // The whole record, one field per line; its values are escaped and card data masked already.
    std::vector<std::string> textos;
    for (const AnsiString& linha : fRespCliSiTef.Conteudo().Conteudo()) {
      textos.push_back(platform::FromAnsi(linha));
    }
    GravaLogLinhas(std::vector<std::string_view>(textos.begin(), textos.end()));
    fRespCliSiTef.ConteudoToProperty();
    fAguardandoResposta = false;
  };

  std::vector<char> Buffer(kTamanhoBuffer, '\0');
  facade.BloquearMouseTeclado(true);
  try {
    do {
      GravaLog(
          "ContinuaFuncaoSiTefInterativo, Chamando: Continua = " + std::to_string(d.Continua) +
          " Buffer = " + TextoParaLog(platform::FromAnsi(Mascarar(d.SigiloResposta, d.Resposta))));
      d.STS = continua(&d.ProximoComando, &d.TipoCampo, &d.TamanhoMinimo, &d.TamanhoMaximo,
                       Buffer.data(), kTamanhoBuffer, d.Continua);

      d.Continua = 0;
      const size_t tamanho = ::strnlen(Buffer.data(), Buffer.size());
      d.TextoAnsi = SemBrancosAFinal(AnsiString(Buffer.data(), tamanho));
      d.Texto = platform::FromAnsi(d.TextoAnsi);
      d.Resposta.clear();
      d.SigiloResposta = TKoCliSiTefSigilo::Nenhum;
      d.VoltarMenu = false;
      d.Digitado = true;
      // A result field's value is logged as the record keeps it; other buffers are prompts.
      const bool resultado = d.STS == kComandoPendente && d.ProximoComando == 0;
      const std::string textoLog =
          resultado ? platform::FromAnsi(Mascarar(SigiloDoCampo(d.TipoCampo), d.TextoAnsi))
                    : d.Texto;
      GravaLog("ContinuaFuncaoSiTefInterativo, Retornos: STS = " + std::to_string(d.STS) +
               " ProximoComando = " + std::to_string(d.ProximoComando) + " TipoCampo = " +
               std::to_string(d.TipoCampo) + " Buffer = " + TextoParaLog(textoLog) + " Tam.Min = " +
               std::to_string(d.TamanhoMinimo) + " Tam.Max = " + std::to_string(d.TamanhoMaximo));

      if (d.STS != kComandoPendente) {
        GravaLog("*** ContinuaFuncaoSiTefInterativo, Finalizando: STS = " + std::to_string(d.STS));
      } else {
        if (d.TipoCampo > 0) {
          const auto preDefinida = fRespostas.find(d.TipoCampo);
          if (preDefinida != fRespostas.end()) d.Resposta = preDefinida->second;
          d.SigiloResposta = SigiloDoCampo(d.TipoCampo);
        }
        ExecutarComando(d);
      }

      if (d.STS == 0 && d.ModoTrilha3) {
        // The card's identification: the ten bytes after the track's start sentinel.
        const size_t fim = std::min<size_t>(11, std::max<size_t>(1, tamanho));
        facade.SetIDAmigo(facade.IDAmigo() +
                          platform::FromAnsi(AnsiString(Buffer.data() + 1, fim - 1)));
        RemoverMensagens();
      }
      if (d.VoltarMenu) {
        d.Continua = 1;
      } else if (!d.Digitado) {
        d.Continua = -1;
      }
      if ((d.VoltarMenu && d.STS == kComandoPendente) || !d.Digitado) RemoverMensagens();

      // An answer is never cut to fit: the library would act on a value nobody gave.
      if (d.Resposta.size() >= Buffer.size()) {
        throw EKoCliSiTefErro("Resposta de " + std::to_string(d.Resposta.size()) +
                              " bytes não cabe no buffer do CliSiTef (máximo de " +
                              std::to_string(kTamanhoBuffer - 1) + " bytes)");
      }
      std::memcpy(Buffer.data(), d.Resposta.data(), d.Resposta.size());
      Buffer[d.Resposta.size()] = '\0';
    } while (d.STS == kComandoPendente);
  } catch (...) {
    encerrar();
    throw;
  }
  encerrar();
  return d.STS;
}

void TKoCliSiTefCliSiTef::RemoverMensagens() {
  Owner().DoExibeMsg(opmRemoverMsgOperador, "");
  Owner().DoExibeMsg(opmRemoverMsgCliente, "");
}

void TKoCliSiTefCliSiTef::ExecutarComando(Dialogo& d) {
  TKoCliSiTef& facade = Owner();
  switch (d.ProximoComando) {
    case 0:
      ComandoResultado(d);
      break;
    case 1:
      d.MsgOperador = FormatarMensagemSiTef(d.Texto);
      facade.DoExibeMsg(opmExibirMsgOperador, d.MsgOperador);
      break;
    case 2:
      d.MsgCliente = FormatarMensagemSiTef(d.Texto);
      facade.DoExibeMsg(opmExibirMsgCliente, d.MsgCliente);
      break;
    case 3:
      d.MsgOperador = d.MsgCliente = FormatarMensagemSiTef(d.Texto);
      facade.DoExibeMsg(opmExibirMsgOperador, d.MsgOperador);
      facade.DoExibeMsg(opmExibirMsgCliente, d.MsgCliente);
      break;
    case 4:
      d.Titulo = d.Texto;
      break;
    case 11:
      d.MsgOperador.clear();
      facade.DoExibeMsg(opmRemoverMsgOperador, "");
      break;
    case 12:
      d.MsgCliente.clear();
      facade.DoExibeMsg(opmRemoverMsgCliente, "");
      break;
    case 13:
      RemoverMensagens();
      break;
    case 14:
      d.Titulo.clear();
      break;
    case 20: {
      const std::string pergunta = d.Texto.empty() ? "CONFIRMA ?" : d.Texto;
      d.Resposta = platform::AnsiBytes(facade.DoExibeMsg(opmYesNo, pergunta) == kSim ? "0" : "1");
      break;
    }
    case 21:
      ComandoMenu(d);
      break;
    case 22: {
      const std::string texto = d.Texto.empty() ? "PRESSIONE <ENTER>" : d.Texto;
      const std::string aparado = Trim(texto);
      if (aparado == "Unauthorized") {
        facade.DoExibeMsg(opmExcept, texto);
      } else if (aparado == "Transacao ja efetuada") {
        facade.DoExibeMsg(opmOK,
                          "Transação já efetuada no sitef\r\nImprima o ultimo comprovante de "
                          "pagamento e informe o pagamento manual.");
      }
      // The key press is answered by going back, which the library takes as "go on".
      d.Continua = -1;
      d.Digitado = false;
      d.VoltarMenu = true;
      break;
    }
    case 23: {
      bool Interromper = false;
      if (facade.OnAguardaResp) facade.OnAguardaResp("23", 0, Interromper);
      if (Interromper) {
        d.Continua = -1;
        d.Digitado = false;
      }
      break;
    }
    case 30:
      ComandoCampo(d);
      break;
    case 31:
      ComandoCheque(d);
      break;
    case 34:
      ComandoValor(d);
      break;
    case 35:
      facade.BloquearMouseTeclado(false);
      if (facade.OnObtemCampo) {
        facade.OnObtemCampo(d.Texto, d.TamanhoMinimo, d.TamanhoMaximo, d.TipoCampo, tcBarCode,
                            d.Resposta, d.Digitado, d.VoltarMenu);
      }
      facade.BloquearMouseTeclado(true);
      break;
    case 50:
      if (d.TipoCampo == 584 && facade.OnExibeQRCode) facade.OnExibeQRCode(d.Texto);
      break;
    case 52:
      if (d.TipoCampo == 4128) {
        facade.DoExibeMsg(opmQRCode, FormatarMensagemSiTef(d.Texto));
      } else {
        d.MsgOperador = d.MsgCliente = FormatarMensagemSiTef(d.Texto);
        facade.DoExibeMsg(opmExibirMsgOperador, d.MsgOperador);
        facade.DoExibeMsg(opmExibirMsgCliente, d.MsgCliente);
      }
      break;
    default:
      break;
  }
}

void TKoCliSiTefCliSiTef::ComandoResultado(Dialogo& d) {
  TKoCliSiTef& facade = Owner();
  fRespCliSiTef.GravaInformacao(d.TipoCampo, d.TextoAnsi);
  // The first value of a dialogue wins.
  auto primeiro = [&](std::string& destino) {
    if (destino.empty()) destino = d.Texto;
  };
  switch (d.TipoCampo) {
    case 15:
    case 25:
      fRespCliSiTef.GravaInformacao(d.TipoCampo, platform::AnsiBytes("True"));
      break;
    case 56:
    case 57:
    case 58:
      fReimpressao = true;
      break;
    case 106:
      primeiro(facade.fIdDaCarteiraDigital);
      break;
    case 107:
      primeiro(facade.fNomeCarteiraDigital);
      break;
    case 108:
      primeiro(facade.fBandeiraCarteiraDigital);
      break;
    case 109:
      primeiro(facade.fValorAprovadoCarteiraDigital);
      break;
    case 110:
      fDevolucao = true;
      break;
    case 131:
      primeiro(facade.fCodigoRede);
      break;
    case 132:
      primeiro(facade.fCodigoBandeira);
      break;
    case 133:
      primeiro(facade.fCodigoNsu);
      break;
    case 134:
      primeiro(facade.fCodigoNSUHost);
      break;
    case 135:
      primeiro(facade.fCodigoAutorizacao);
      break;
    case 500:
      if (facade.OnObterSenha) facade.OnObterSenha(d.Texto, d.VoltarMenu);
      break;
    case 502:
      primeiro(facade.fCPFCliente);
      break;
    case 503:
      primeiro(facade.FCNPJCliente);
      break;
    case 504:
      primeiro(facade.fTelefoneCliente);
      break;
    case 732:
      facade.DoExibeMsg(opmExibirMsgOperador, FormatarMensagemSiTef(d.Texto));
      break;
    case 800:
      primeiro(FCodigoHASH);
      break;
    default:
      break;
  }
}

void TKoCliSiTefCliSiTef::ComandoMenu(Dialogo& d) {
  const bool magneticoOuDigitado = d.Texto == "1:Magnetico/Chip;2:Digitado;";
  if (fOperacaoCRT == 2 && (magneticoOuDigitado || ComecaCom(d.Texto, "1:VISA ELECTRON") ||
                            ComecaCom(d.Texto, "1:A Vista"))) {
    d.Resposta = platform::AnsiBytes("1");
    return;
  }
  if (fOperacaoCRT == 3 && magneticoOuDigitado) {
    d.Resposta = platform::AnsiBytes("1");
    return;
  }
  if (fOperacaoCRT == 3 && ComecaCom(d.Texto, "1:A Vista")) {
    d.Resposta = platform::AnsiBytes(d.QtdParcela == "01" ? "1" : "2");
    return;
  }

  // Each item "code:label;" becomes one option, keeping its code.
  AnsiString itens = d.TextoAnsi;
  for (char& c : itens) {
    if (c == ';') c = '\n';
  }
  const std::vector<AnsiString> linhas = SeparaLinhas(itens);
  std::vector<std::string> Opcoes;
  for (const AnsiString& linha : linhas) Opcoes.push_back(platform::FromAnsi(linha));

  TKoCliSiTef& facade = Owner();
  int32_t ItemSelecionado = -1;
  facade.BloquearMouseTeclado(false);
  if (facade.OnExibeMenu) facade.OnExibeMenu(d.Titulo, Opcoes, ItemSelecionado, d.VoltarMenu);
  facade.BloquearMouseTeclado(true);
  if (d.VoltarMenu) return;
  if (ItemSelecionado >= 0 && static_cast<size_t>(ItemSelecionado) < linhas.size()) {
    const AnsiString& linha = linhas[static_cast<size_t>(ItemSelecionado)];
    const size_t doisPontos = linha.find(':');
    d.Resposta = doisPontos == AnsiString::npos ? AnsiString() : linha.substr(0, doisPontos);
  } else {
    d.Digitado = false;
  }
}

// A field the request answers (the instalments, a cancellation's date, NSU and amount, a typed
// card) asked for a third time: the library refused what the request gave, and giving it again
// would loop for ever with the till held. The dialogue is ended instead, as a page's "not typed"
// answer ends it; what the library said about the value has reached the page already.
bool TKoCliSiTefCliSiTef::AutoRespostaRecusada(Dialogo& d) {
  const bool automatica = (FCancelandoTransacaoTEF &&
                           (d.TipoCampo == 515 || d.TipoCampo == 516 || d.TipoCampo == 146)) ||
                          (d.TipoCampo == 512 && !d.NumeroCartao.empty()) ||
                          (d.TipoCampo == 513 && !d.DataVencimento.empty()) ||
                          (d.TipoCampo == 505 && d.QtdParcela != "01" && !d.QtdParcela.empty() &&
                           ParcelasInformadas(d.QtdParcela) > 0);
  if (!automatica || ++d.RespostasAutomaticas[d.TipoCampo] <= kMaxRespostasAutomaticas)
    return false;
  GravaLog(Name() + " Campo " + std::to_string(d.TipoCampo) +
           " pedido de novo após a resposta da requisição ser recusada: operação interrompida.");
  d.Continua = -1;
  d.Digitado = false;
  d.Resposta.clear();
  return true;
}

void TKoCliSiTefCliSiTef::ComandoCampo(Dialogo& d) {
  TKoCliSiTef& facade = Owner();
  auto perguntar = [&](TKoCliSiTefCliSiTefOperacaoCampo operacao) {
    if (facade.OnObtemCampo) {
      facade.OnObtemCampo(d.Texto, d.TamanhoMinimo, d.TamanhoMaximo, d.TipoCampo, operacao,
                          d.Resposta, d.Digitado, d.VoltarMenu);
    }
  };

  facade.BloquearMouseTeclado(false);
  bool guardar = true;
  switch (d.TipoCampo) {
    case 501:
    case 502:
    case 506:
      guardar = false;
      break;
    case 514:
      if (d.CVV.empty()) {
        perguntar(tcSeguranca);
      } else {
        d.Resposta = d.CVV;
      }
      guardar = false;
      break;
    case 500:
      if (facade.OnObterSenha) facade.OnObterSenha(d.Texto, d.VoltarMenu);
      guardar = false;
      break;
    default:
      if (AutoRespostaRecusada(d)) {
        guardar = false;
      } else if (FCancelandoTransacaoTEF && d.TipoCampo == 515) {
        d.Resposta =
            platform::AnsiBytes(platform::FormatDateTime("ddmmyyyy", FCancelandoTransacaoDATA));
      } else if (FCancelandoTransacaoTEF && d.TipoCampo == 516) {
        d.Resposta = platform::ToAnsi(FCancelandoTransacaoNSU);
      } else if (FCancelandoTransacaoTEF && d.TipoCampo == 146) {
        d.Resposta = platform::AnsiBytes(FCancelandoTransacaoVALOR.ToText2());
      } else if (d.TipoCampo == 512 && !d.NumeroCartao.empty()) {
        d.Resposta = d.NumeroCartao;
      } else if (d.TipoCampo == 513 && !d.DataVencimento.empty()) {
        d.Resposta = d.DataVencimento;
      } else if (d.TipoCampo == 505 && d.QtdParcela != "01" && !d.QtdParcela.empty()) {
        if (ParcelasInformadas(d.QtdParcela) > 0) {
          d.Resposta = d.QtdParcela;
        } else {
          perguntar(tcString);
          if (d.Digitado) d.QtdParcela = d.Resposta;
        }
      } else if (d.NumeroCartao.empty() && d.DataVencimento.empty()) {
        perguntar(tcString);
      }
      break;
  }
  if (guardar) fRespCliSiTef.GravaInformacao(d.TipoCampo, d.Resposta);
  facade.BloquearMouseTeclado(true);
}

void TKoCliSiTefCliSiTef::ComandoCheque(Dialogo& d) {
  TKoCliSiTef& facade = Owner();
  facade.BloquearMouseTeclado(false);
  if (d.TipoCampo == 517) {
    const auto preDefinida = fRespostas.find(517);
    const bool vazia = preDefinida == fRespostas.end() || Trim(preDefinida->second).empty();
    if (vazia && facade.OnObtemCheque) {
      facade.OnObtemCheque(d.Texto, 517, tcString, d.Resposta, d.Digitado, d.VoltarMenu);
    }
  } else if (facade.OnObtemCampo) {
    facade.OnObtemCampo(d.Texto, d.TamanhoMinimo, d.TamanhoMaximo, d.TipoCampo, tcCMC7, d.Resposta,
                        d.Digitado, d.VoltarMenu);
  }
  facade.BloquearMouseTeclado(true);
}

void TKoCliSiTefCliSiTef::ComandoValor(Dialogo& d) {
  TKoCliSiTef& facade = Owner();
  if (d.TipoCampo == 146 && FCancelandoTransacaoTEF) {
    d.Resposta = platform::AnsiBytes(FCancelandoTransacaoVALOR.ToText2());
    fRespCliSiTef.GravaInformacao(d.TipoCampo, d.Resposta);
    return;
  }
  bool perguntar = true;
  if (d.Texto == "Forneca a taxa de embarque") perguntar = facade.FornecerTaxaDeEmbarque();
  if (d.Texto == "Forneca a taxa de servico") perguntar = facade.FornecerTaxaDeServico();
  if (d.Texto == "VISA ELECTRON\nSAQUE") perguntar = false;
  if (!perguntar) {
    d.Resposta = platform::AnsiBytes(platform::FormatFloat2(0));
    return;
  }
  facade.BloquearMouseTeclado(false);
  if (facade.OnObtemCampo) {
    facade.OnObtemCampo(d.Texto, d.TamanhoMinimo, d.TamanhoMaximo, d.TipoCampo, tcCurrency,
                        d.Resposta, d.Digitado, d.VoltarMenu);
  }
  facade.BloquearMouseTeclado(true);
  // "12.5", "12,5" and "12,50" all become "12,50"; what is not a number becomes "0,00".
  const double valor = LeNumeroDecimal(platform::RawBytes(d.Resposta)).value_or(0);
  d.Resposta = platform::AnsiBytes(platform::FormatFloat2(valor));
}

void TKoCliSiTefCliSiTef::ExibirErroSiTef(int32_t Codigo) {
  std::string mensagem;
  switch (Codigo) {
    case -1:
      mensagem = "Módulo não inicializado";
      break;
    case -2:
      mensagem = "Operação cancelada pelo operador";
      break;
    case -3:
      mensagem = "Fornecida uma modalidade inválida";
      break;
    case -4:
      mensagem = "Falta de memória para rodar a função";
      break;
    case -5:
      mensagem =
          "Não foi possivel realizar a conexão com o servidor SiTef\r\nPor favor tente mais "
          "tarde...";
      break;
    case -6:
      mensagem = "Operação cancelada pelo usuário";
      break;
    default:
      mensagem = Codigo < 0
                     ? "Operadora do cartão de crédito off-line (" + std::to_string(Codigo) + ")"
                     : "Negada pelo autorizador (" + std::to_string(Codigo) + ")";
      break;
  }
  Owner().DoExibeMsg(opmExcept, mensagem);
}

}  // namespace kelvora::tef
