// Printing of the pending payments' receipts and the fiscal-printer (ECF) commands, all through
// the application's events.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefNumero.h"

namespace kelvora::tef {
namespace {

using Instante = std::chrono::steady_clock::time_point;

constexpr const char* kImpressoraNaoResponde =
    "Impressora não responde\r\nDeseja imprimir novamente ?";
constexpr int kSim = 6;
// The value callers of InfoECFAsDouble pass as DefaultValue to be told of a failed conversion.
constexpr double kValorInvalido = -98787158;

std::string DestaqueVia(int via) { return "Destaque a " + std::to_string(via) + "ª Via"; }

const std::vector<std::string>& Imagem(const TKoCliSiTefResp& registro, int via) {
  return via == 1 ? registro.ImagemComprovante1aVia() : registro.ImagemComprovante2aVia();
}

}  // namespace

void TKoCliSiTef::RemoverMensagens() {
  DoExibeMsg(opmRemoverMsgOperador, "");
  DoExibeMsg(opmRemoverMsgCliente, "");
}

void TKoCliSiTef::ImprimirTransacoesPendentes() {
  if (fRespostasPendentes.Count() == 0) return;
  GravaLog("ImprimirTransacoesPendentes");
  if (const char estado = EstadoECF(); estado != 'L') {
    if (estado == 'C') ComandarECF(opeFechaVinculado);
    if (estado == 'G' || estado == 'R') ComandarECF(opeFechaGerencial);
    if (estado == 'N' || estado == 'P' || estado == 'V') FinalizarCupom(false);
    if (EstadoECF() != 'L') throw EKoCliSiTefECF("ECF não está LIVRE");
  }

  std::string MsgsExibir;
  TKoCliSiTefArrayGrupoRespostasPendentes Grupos;
  AgruparRespostasPendentes(Grupos);
  BloquearMouseTeclado(true);
  bool Gerencial = false;
  bool Impresso = false;
  std::exception_ptr falha;
  try {
    while (!Impresso) {
      bool MsgExibida = false;
      try {
        if (Gerencial) {
          ImprimirPassagemGerencial(MsgsExibir, MsgExibida);
        } else {
          ImprimirPassagemVinculado(Grupos, Gerencial, MsgsExibir, MsgExibida);
        }
        Impresso = true;
      } catch (const EKoCliSiTefECF&) {
        Impresso = false;
      } catch (...) {
        if (MsgExibida) RemoverMensagens();
        throw;
      }
      if (MsgExibida) RemoverMensagens();
      if (!Impresso) {
        // A failed pass is retried only at the operator's word, with every receipt in a
        // managerial report.
        if (DoExibeMsg(opmYesNo, kImpressoraNaoResponde) != kSim) break;
        Gerencial = true;
      }
    }
  } catch (...) {
    falha = std::current_exception();
  }

  // Printed receipts are confirmed; otherwise the coupon is cancelled and the payments reversed.
  try {
    if (Impresso) {
      ConfirmarTransacoesPendentes();
    } else {
      try {
        ComandarECF(opeCancelaCupom);
      } catch (...) {
        // The reversal below matters more than the coupon's state.
      }
      CancelarTransacoesPendentes();
    }
  } catch (...) {
    BloquearMouseTeclado(false);
    throw;
  }
  BloquearMouseTeclado(false);
  if (!MsgsExibir.empty()) DoExibeMsg(opmOK, MsgsExibir);
  if (falha) std::rethrow_exception(falha);
  fRespostasPendentes.Clear();
}

int32_t TKoCliSiTef::PrepararRegistro(const TKoCliSiTefResp& Registro, Instante& Inicio,
                                      bool& MsgExibida) {
  SetGPAtual(Registro.TipoGP());
  Inicio = std::chrono::steady_clock::now();
  int32_t copias = TEF().NumVias();
  if (Registro.ImagemComprovante2aVia().empty()) copias = 1;
  if (Registro.ImagemComprovante1aVia().empty()) copias = 0;

  const std::string& operador = Registro.TextoEspecialOperador();
  const std::string& cliente = Registro.TextoEspecialCliente();
  if (copias == 0) {
    if (!operador.empty() || !cliente.empty()) {
      DoExibeMsg(opmOK, operador + (operador.empty() ? "" : "\r\n\r\n") + cliente);
    }
    return copias;
  }
  if (!operador.empty()) {
    DoExibeMsg(opmExibirMsgOperador, operador);
    MsgExibida = true;
  }
  if (!cliente.empty()) {
    DoExibeMsg(opmExibirMsgCliente, cliente);
    MsgExibida = true;
  }
  return copias;
}

void TKoCliSiTef::ConcluirRegistro(const TKoCliSiTefResp& Registro, bool Ultimo, Instante Inicio,
                                   std::string& MsgsExibir, bool& MsgExibida) {
  // The special texts stay on screen at least five seconds.
  if (MsgExibida) {
    EsperarAte(Inicio + std::chrono::seconds(5));
    RemoverMensagens();
    MsgExibida = false;
  }
  if (fExibirMsgAutenticacao && !Registro.Autenticacao().empty()) {
    MsgsExibir = "Favor anotar no verso do Cheque:\r\n" + Registro.Autenticacao();
  }
  if (!Ultimo && !MsgsExibir.empty()) {
    DoExibeMsg(opmOK, MsgsExibir);
    MsgsExibir.clear();
  }
}

void TKoCliSiTef::ImprimirPassagemGerencial(std::string& MsgsExibir, bool& MsgExibida) {
  if (const char estado = EstadoECF(); estado != 'L') {
    if (estado == 'C') ComandarECF(opeFechaVinculado);
    if (estado == 'G' || estado == 'R') ComandarECF(opeFechaGerencial);
    if (EstadoECF() != 'L') throw EKoCliSiTefECF("ECF não está LIVRE");
  }
  bool RelatorioAberto = false;
  const int total = fRespostasPendentes.Count();
  for (int q = 0; q < total; ++q) {
    const TKoCliSiTefResp& registro = fRespostasPendentes.GetObject(q);
    const bool ultimo = q == total - 1;
    Instante Inicio;
    const int32_t copias = PrepararRegistro(registro, Inicio, MsgExibida);
    if (copias > 0 && !RelatorioAberto) {
      ComandarECF(opeAbreGerencial);
      RelatorioAberto = true;
    }
    for (int32_t Via = 1; Via <= copias; ++Via) {
      ECFImprimeVia(trGerencial, Via, Imagem(registro, Via));
      if (Via < copias || !ultimo) {
        ComandarECF(opePulaLinhas);
        DoExibeMsg(opmDestaqueVia, DestaqueVia(Via));
      }
    }
    ConcluirRegistro(registro, ultimo, Inicio, MsgsExibir, MsgExibida);
  }
  if (RelatorioAberto) ComandarECF(opeFechaGerencial);
}

void TKoCliSiTef::ImprimirPassagemVinculado(const TKoCliSiTefArrayGrupoRespostasPendentes& Grupos,
                                            bool& Gerencial, std::string& MsgsExibir,
                                            bool& MsgExibida) {
  const int total = fRespostasPendentes.Count();
  for (const TKoCliSiTefGrupoRespostasPendentes& grupo : Grupos) {
    if (grupo.OrdemPagamento >= 999) Gerencial = true;
    // Each group prints its own records in a coupon (or report) of its own, opened for its first
    // record with a receipt and closed after its last record.
    int32_t UltimaOrdem = -1;
    bool RelatorioAberto = false;
    for (int q = 0; q < total; ++q) {
      const TKoCliSiTefResp& registro = fRespostasPendentes.GetObject(q);
      if (registro.OrdemPagamento() != grupo.OrdemPagamento ||
          registro.IndiceFPG_ECF() != grupo.IndiceFPG_ECF) {
        continue;
      }
      const bool ultimo = q == total - 1;
      Instante Inicio;
      const int32_t copias = PrepararRegistro(registro, Inicio, MsgExibida);
      if (copias > 0 && registro.OrdemPagamento() != UltimaOrdem) {
        UltimaOrdem = registro.OrdemPagamento();
        if (Gerencial) {
          ComandarECF(opeAbreGerencial);
          RelatorioAberto = true;
        } else {
          ECFAbreVinculado(registro.DocumentoVinculado(), grupo.IndiceFPG_ECF,
                           grupo.Total.ToDouble());
        }
      }
      for (int32_t Via = 1; Via <= copias; ++Via) {
        ECFImprimeVia(Gerencial ? trGerencial : trVinculado, Via, Imagem(registro, Via));
        if (Gerencial && (Via < copias || !ultimo)) {
          ComandarECF(opePulaLinhas);
          DoExibeMsg(opmDestaqueVia, DestaqueVia(Via));
        }
      }
      ConcluirRegistro(registro, ultimo, Inicio, MsgsExibir, MsgExibida);
    }
    if (UltimaOrdem >= 0) {
      if (RelatorioAberto) {
        ComandarECF(opeFechaGerencial);
      } else {
        ComandarECF(opeFechaVinculado);
      }
    }
  }
}

void TKoCliSiTef::FinalizarCupom(bool DesbloquearMouseTecladoNoTermino) {
  GravaLog(DesbloquearMouseTecladoNoTermino ? "FinalizarCupom, DesbloquearMouseTecladoNoTermino"
                                            : "FinalizarCupom");
}

void TKoCliSiTef::AgruparRespostasPendentes(TKoCliSiTefArrayGrupoRespostasPendentes& Grupo) {
  Grupo.clear();
  for (int q = 0; q < fRespostasPendentes.Count(); ++q) {
    const TKoCliSiTefResp& registro = fRespostasPendentes.GetObject(q);
    auto grupo = std::find_if(Grupo.begin(), Grupo.end(), [&](const auto& g) {
      return g.IndiceFPG_ECF == registro.IndiceFPG_ECF() &&
             g.OrdemPagamento == registro.OrdemPagamento();
    });
    if (grupo == Grupo.end()) {
      grupo = Grupo.insert(Grupo.end(), {registro.IndiceFPG_ECF(), registro.OrdemPagamento(), {}});
    }
    grupo->Total += registro.ValorTotal();
  }
  std::stable_sort(Grupo.begin(), Grupo.end(), [](const auto& a, const auto& b) {
    return a.OrdemPagamento < b.OrdemPagamento;
  });
}

std::string TKoCliSiTef::InfoECFAsString(TKoCliSiTefInfoECF Operacao) {
  GravaLog(std::string("InfoECF: ") + NomeValor(Operacao));
  std::string Ret;
  try {
    if (OnInfoECF) OnInfoECF(Operacao, Ret);
  } catch (const std::exception& e) {
    GravaLog(GatewayDoLog().Name() + "   Erro: " + e.what());
    throw EKoCliSiTefECF(e.what());
  }
  GravaLog("    Ret: " + Ret);
  return Ret;
}

double TKoCliSiTef::InfoECFAsDouble(TKoCliSiTefInfoECF Operacao, int32_t DefaultValue) {
  const std::optional<double> lido = LeNumeroDecimal(InfoECFAsString(Operacao));
  const double valor = std::nearbyint(lido.value_or(DefaultValue) * 100.0) / 100.0;
  if (valor == kValorInvalido) {
    throw EKoCliSiTefErro(std::string("Erro na conversão do Valor Retornado de: OnInfoECF( ") +
                          NomeValor(Operacao) + ")");
  }
  return valor;
}

char TKoCliSiTef::EstadoECF() {
  const std::string ret = InfoECFAsString(ineEstadoECF);
  char estado = ret.empty() ? ' ' : ret.front();
  if (estado >= 'a' && estado <= 'z') estado = static_cast<char>(estado - 'a' + 'A');
  if (std::string_view("CGLNOPRV").find(estado) == std::string_view::npos) {
    throw EKoCliSiTefECF(
        "Retorno de \"OnInfoEcf( ineEstadoECF, Retorno )\" deve ser:\r\n"
        "\"L\" = Livre\r\n"
        "\"V\" = Venda de Itens\r\n"
        "\"P\" - Pagamento (ou SubTotal efetuado)\r\n"
        "\"C\" ou \"R\" - CDC ou Cupom Vinculado\r\n"
        "\"G\" ou \"R\" - Relatório Gerencial\r\n"
        "\"N\" - Recebimento Não Fiscal\r\n"
        "\"O\" - Outro");
  }
  return estado;
}

namespace {

// Logs and raises the failure of a printer command whose handler answered `retorno`.
[[noreturn]] void FalhaECF(const TKoCliSiTef& facade, int32_t retorno, const std::string& naoTratado,
                           const std::string& erro) {
  const std::string texto = retorno < 0 ? naoTratado : erro;
  facade.GravaLog(texto);
  throw EKoCliSiTefECF(texto);
}

}  // namespace

int32_t TKoCliSiTef::ComandarECF(TKoCliSiTefOperacaoECF Operacao) {
  GravaLog(GatewayDoLog().Name() + " ComandarECF: Oper: " + NomeValor(Operacao));
  int32_t RetornoECF = -1;
  if (OnComandaECF) OnComandaECF(Operacao, Resp(), RetornoECF);
  if (RetornoECF <= 0) {
    FalhaECF(*this, RetornoECF,
             std::string("Operação [") + NomeValor(Operacao) + "] não tratada em \"OnComandaECF\"",
             "Erro ao imprimir comprovante \"TEF\"");
  }
  return RetornoECF;
}

int32_t TKoCliSiTef::ECFSubtotaliza(double DescAcres) {
  GravaLog(GatewayDoLog().Name() + " ECFSubtotaliza: DescAcres: " +
           platform::FormatFloat2(DescAcres));
  if (!OnComandaECFSubtotaliza) return ComandarECF(opeSubTotalizaCupom);
  int32_t RetornoECF = -1;
  OnComandaECFSubtotaliza(platform::Currency::FromDouble(DescAcres), RetornoECF);
  if (RetornoECF < 1) {
    FalhaECF(*this, RetornoECF, "\"OnComandaECFSubtotaliza\" não tratada",
             "Erro ao executar \"OnComandaECFSubtotaliza\"");
  }
  ComandarECF(opeImprimePagamentos);
  return RetornoECF;
}

int32_t TKoCliSiTef::ECFPagamento(const std::string& Indice, double Valor) {
  GravaLog(GatewayDoLog().Name() + " ECFPagamento: Indice: " + Indice +
           " Valor: " + platform::FormatFloat2(Valor));
  int32_t RetornoECF = -1;
  if (OnComandaECFPagamento) {
    OnComandaECFPagamento(Indice, platform::Currency::FromDouble(Valor), RetornoECF);
  }
  if (RetornoECF < 1) {
    FalhaECF(*this, RetornoECF, "\"OnComandaECFPagamento\" não tratada",
             "Erro ao executar \"OnComandaECFPagamento\"");
  }
  return RetornoECF;
}

int32_t TKoCliSiTef::ECFAbreVinculado(const std::string& COO, const std::string& Indice,
                                      double Valor) {
  GravaLog(GatewayDoLog().Name() + " ECFAbreVinculado: COO: " + COO + " Indice: " + Indice +
           " Valor: " + platform::FormatFloat2(Valor));
  int32_t RetornoECF = -1;
  if (OnComandaECFAbreVinculado) {
    OnComandaECFAbreVinculado(COO, Indice, platform::Currency::FromDouble(Valor), RetornoECF);
  }
  if (RetornoECF < 1) {
    FalhaECF(*this, RetornoECF, "\"OnComandaECFAbreVinculado\" não tratado",
             "Erro ao executar \"OnComandaECFAbreVinculado\"");
  }
  return RetornoECF;
}

int32_t TKoCliSiTef::ECFImprimeVia(TKoCliSiTefTipoRelatorio TipoRelatorio, int32_t Via,
                                   const std::vector<std::string>& ImagemComprovante) {
  GravaLog(GatewayDoLog().Name() + " ECFImprimeVia: " + NomeValor(TipoRelatorio) +
           " Via: " + std::to_string(Via));
  int32_t RetornoECF = -1;
  if (OnComandaECFImprimeVia) OnComandaECFImprimeVia(TipoRelatorio, Via, ImagemComprovante, RetornoECF);
  if (RetornoECF <= 0) {
    FalhaECF(*this, RetornoECF, "\"OnComandaECFImprimeVia\" não tratado",
             "Erro ao executar \"OnComandaECFImprimeVia\"");
  }
  return RetornoECF;
}

}  // namespace kelvora::tef
