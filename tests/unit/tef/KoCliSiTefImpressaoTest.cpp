// Tests of receipt printing and of the fiscal-printer helpers, with pending records made by hand
// and an application's handlers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TefTestSupport.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefRespCliSiTef.h"

namespace kelvora::tef {
namespace {

using testing::Ambiente;
using testing::Aplicacao;

std::string Falha(const std::function<void()>& chamada) {
  try {
    chamada();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// A pending record as the CliSiTef gateway leaves one: document, amount in cents, payment form
// and order, and its receipt copies ("" for none).
std::unique_ptr<TKoCliSiTefResp> Registro(const std::string& documento, int centavos,
                                          const std::string& indice, int ordem,
                                          const std::string& via1, const std::string& via2,
                                          const std::string& autenticacao = "") {
  auto r = std::make_unique<TKoCliSiTefRespCliSiTef>();
  r->Conteudo().GravaInformacao(899, 102, platform::AnsiBytes(documento));
  r->Conteudo().GravaInformacao(899, 103, platform::AnsiBytes(std::to_string(centavos)));
  if (!via1.empty()) r->GravaInformacao(121, platform::ToAnsi(via1));
  if (!via2.empty()) r->GravaInformacao(122, platform::ToAnsi(via2));
  if (!autenticacao.empty()) r->GravaInformacao(120, platform::ToAnsi(autenticacao));
  r->ConteudoToProperty();
  r->SetIndiceFPG_ECF(indice);
  r->SetOrdemPagamento(ordem);
  r->SetTipoGP(gpCliSiTef);
  return r;
}

class Impressao : public ::testing::Test {
 protected:
  Ambiente ambiente;
  Aplicacao app{ambiente};
  TKoCliSiTef& k = app.KoCliSiTef;
  std::string estado = "L";

  void SetUp() override {
    // Printing runs after a dialogue, with the CliSiTef gateway current.
    k.SetGPAtual(gpCliSiTef);
    k.OnInfoECF = [this](TKoCliSiTefInfoECF op, std::string& ret) {
      app.Eventos.push_back(std::string("OnInfoECF ") + NomeValor(op));
      ret = estado;
    };
  }
};

TEST_F(Impressao, EstadoECFTakesTheFirstLetterInUpperCase) {
  estado = "p";
  EXPECT_EQ(k.EstadoECF(), 'P');
  const std::string texto =
      "Retorno de \"OnInfoEcf( ineEstadoECF, Retorno )\" deve ser:\r\n\"L\" = Livre\r\n"
      "\"V\" = Venda de Itens\r\n\"P\" - Pagamento (ou SubTotal efetuado)\r\n"
      "\"C\" ou \"R\" - CDC ou Cupom Vinculado\r\n\"G\" ou \"R\" - Relatório Gerencial\r\n"
      "\"N\" - Recebimento Não Fiscal\r\n\"O\" - Outro";
  for (const char* invalido : {"", "x", " L"}) {
    estado = invalido;
    EXPECT_EQ(Falha([&] { k.EstadoECF(); }), texto) << invalido;
  }
  k.OnInfoECF = [](TKoCliSiTefInfoECF, std::string&) { throw std::runtime_error("sem impressora"); };
  EXPECT_THROW(k.EstadoECF(), EKoCliSiTefECF);
  EXPECT_EQ(Falha([&] { k.EstadoECF(); }), "sem impressora");
}

TEST_F(Impressao, InfoECFAsDoubleReadsEitherSeparatorAndReportsFailedConversions) {
  struct Caso {
    std::string retorno;
    int32_t padrao;
    double valor;
  };
  for (const Caso& caso : std::vector<Caso>{{"12,5", 0, 12.5},
                                            {"12.5", 0, 12.5},
                                            {" 3,456 ", 0, 3.46},
                                            {"abc", 0, 0},
                                            {"abc", 7, 7}}) {
    estado = caso.retorno;
    EXPECT_DOUBLE_EQ(k.InfoECFAsDouble(ineSubTotal, caso.padrao), caso.valor) << caso.retorno;
  }
  estado = "abc";
  EXPECT_EQ(Falha([&] { k.InfoECFAsDouble(ineTotalAPagar, -98787158); }),
            "Erro na conversão do Valor Retornado de: OnInfoECF( ineTotalAPagar)");
}

TEST_F(Impressao, AgruparRespostasPendentesGroupsByFormAndOrder) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 1, "v", ""));
  k.RespostasPendentes().Add(Registro("2", 500, "03", 0, "v", ""));
  k.RespostasPendentes().Add(Registro("3", 750, "02", 1, "v", ""));
  k.RespostasPendentes().Add(Registro("4", 100, "02", 0, "v", ""));
  TKoCliSiTefArrayGrupoRespostasPendentes grupos;
  k.AgruparRespostasPendentes(grupos);
  ASSERT_EQ(grupos.size(), 3u);
  // Sorted by order; equal orders keep the order in which their groups appeared.
  EXPECT_EQ(grupos[0].IndiceFPG_ECF, "03");
  EXPECT_EQ(grupos[0].Total, platform::Currency::FromCents(500));
  EXPECT_EQ(grupos[1].IndiceFPG_ECF, "02");
  EXPECT_EQ(grupos[1].OrdemPagamento, 0);
  EXPECT_EQ(grupos[2].IndiceFPG_ECF, "02");
  EXPECT_EQ(grupos[2].OrdemPagamento, 1);
  EXPECT_EQ(grupos[2].Total, platform::Currency::FromCents(1750));
}

TEST_F(Impressao, PrinterCommandsFailWithTheirOwnTexts) {
  int32_t retorno = -1;
  k.OnComandaECF = [&](TKoCliSiTefOperacaoECF, TKoCliSiTefResp&, int32_t& r) { r = retorno; };
  k.OnComandaECFPagamento = [&](const std::string&, platform::Currency, int32_t& r) { r = retorno; };
  k.OnComandaECFAbreVinculado = [&](const std::string&, const std::string&, platform::Currency,
                                    int32_t& r) { r = retorno; };
  k.OnComandaECFImprimeVia = [&](TKoCliSiTefTipoRelatorio, int32_t,
                                 const std::vector<std::string>&, int32_t& r) { r = retorno; };
  k.OnComandaECFSubtotaliza = [&](platform::Currency, int32_t& r) { r = retorno; };
  struct Caso {
    std::function<void()> comando;
    std::string naoTratado;
    std::string erro;
  };
  const std::vector<Caso> casos = {
      {[&] { k.ComandarECF(opeFechaVinculado); },
       "Operação [opeFechaVinculado] não tratada em \"OnComandaECF\"",
       "Erro ao imprimir comprovante \"TEF\""},
      {[&] { k.ECFPagamento("02", 1); }, "\"OnComandaECFPagamento\" não tratada",
       "Erro ao executar \"OnComandaECFPagamento\""},
      {[&] { k.ECFAbreVinculado("1", "02", 1); }, "\"OnComandaECFAbreVinculado\" não tratado",
       "Erro ao executar \"OnComandaECFAbreVinculado\""},
      {[&] { k.ECFImprimeVia(trVinculado, 1, {}); }, "\"OnComandaECFImprimeVia\" não tratado",
       "Erro ao executar \"OnComandaECFImprimeVia\""},
      {[&] { k.ECFSubtotaliza(1); }, "\"OnComandaECFSubtotaliza\" não tratada",
       "Erro ao executar \"OnComandaECFSubtotaliza\""},
  };
  for (const Caso& caso : casos) {
    retorno = -1;
    EXPECT_EQ(Falha(caso.comando), caso.naoTratado);
    retorno = 0;
    EXPECT_EQ(Falha(caso.comando), caso.erro);
    retorno = 1;
    EXPECT_EQ(Falha(caso.comando), "");
  }
  retorno = 0;
  EXPECT_THROW(k.ComandarECF(opeAbreGerencial), EKoCliSiTefECF);
}

TEST_F(Impressao, ECFSubtotalizaCommandsThePrinterWithOrWithoutItsHandler) {
  EXPECT_EQ(k.ECFSubtotaliza(1.5), 1);
  k.OnComandaECFSubtotaliza = [this](platform::Currency valor, int32_t& r) {
    app.Eventos.push_back("OnComandaECFSubtotaliza " + valor.ToText2());
    r = 2;
  };
  EXPECT_EQ(k.ECFSubtotaliza(1.5), 2);
  EXPECT_EQ(app.Eventos, (std::vector<std::string>{"OnComandaECF opeSubTotalizaCupom",
                                                   "OnComandaECFSubtotaliza 1,50",
                                                   "OnComandaECF opeImprimePagamentos"}));
}

TEST_F(Impressao, OneRecordWithOneCopyPrintsOneLinkedCouponAndIsConfirmed) {
  k.RespostasPendentes().Add(Registro("4321", 1234, "02", 0, "VIA CLIENTE\nlinha 2", ""));
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Eventos, (std::vector<std::string>{
                             "OnInfoECF ineEstadoECF",
                             "OnComandaECFAbreVinculado 4321 02 12,34",
                             "OnComandaECFImprimeVia trVinculado 1",
                             "OnComandaECF opeFechaVinculado",
                             "OnDepoisConfirmarTransacoes 1",
                         }));
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Impressao, EachPaymentFormPrintsItsOwnRecordsInItsOwnCoupon) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", "b"));
  k.RespostasPendentes().Add(Registro("2", 500, "03", 0, "c", ""));
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Filtra({"OnComandaECF", "OnDepois"}),
            (std::vector<std::string>{
                "OnComandaECFAbreVinculado 1 02 10,00",
                "OnComandaECFImprimeVia trVinculado 1",
                "OnComandaECFImprimeVia trVinculado 2",
                "OnComandaECF opeFechaVinculado",
                "OnComandaECFAbreVinculado 2 03 5,00",
                "OnComandaECFImprimeVia trVinculado 1",
                "OnComandaECF opeFechaVinculado",
                "OnDepoisConfirmarTransacoes 2",
            }));
}

TEST_F(Impressao, APrinterThatIsNotFreeIsClosedFirstOrRefused) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", ""));
  std::vector<std::string> estados = {"C", "L", "L"};
  k.OnInfoECF = [&](TKoCliSiTefInfoECF, std::string& ret) {
    ret = estados.empty() ? "L" : estados.front();
    if (!estados.empty()) estados.erase(estados.begin());
  };
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Filtra({"OnComandaECF "}).front(), "OnComandaECF opeFechaVinculado");

  app.Eventos.clear();
  k.RespostasPendentes().Add(Registro("2", 1000, "02", 0, "a", ""));
  estados = {"V", "V"};
  EXPECT_EQ(Falha([&] { k.ImprimirTransacoesPendentes(); }), "ECF não está LIVRE");
  EXPECT_EQ(app.Filtra({"OnComandaECFImprime", "OnComandaECFAbre"}).size(), 0u);
  EXPECT_EQ(k.RespostasPendentes().Count(), 1);
}

TEST_F(Impressao, AFailedPrintRetriedWithYesGoesToAManagerialReport) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", "b"));
  app.RetornosImprimeVia = {0};
  app.Respostas = {6};
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Filtra({"OnComandaECF", "OnExibeMsg", "OnDepois"}),
            (std::vector<std::string>{
                "OnComandaECFAbreVinculado 1 02 10,00",
                "OnComandaECFImprimeVia trVinculado 1",
                "OnExibeMsg opmYesNo Impressora não responde\r\nDeseja imprimir novamente ?",
                "OnComandaECF opeAbreGerencial",
                "OnComandaECFImprimeVia trGerencial 1",
                "OnComandaECF opePulaLinhas",
                "OnExibeMsg opmDestaqueVia Destaque a 1ª Via",
                "OnComandaECFImprimeVia trGerencial 2",
                "OnComandaECF opeFechaGerencial",
                "OnDepoisConfirmarTransacoes 1",
            }));
}

TEST_F(Impressao, AFailedPrintAnsweredNoCancelsThePendingPaymentsAndEndsNormally) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", "b"));
  app.RetornosImprimeVia = {0};
  app.Respostas = {7};
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Filtra({"OnComandaECF opeCancelaCupom", "OnDepois"}),
            (std::vector<std::string>{"OnComandaECF opeCancelaCupom",
                                      "OnDepoisCancelarTransacoes 1"}));
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Impressao, AnUnexpectedFailureCancelsThePaymentsAndIsPassedOn) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", ""));
  k.OnComandaECFImprimeVia = [](TKoCliSiTefTipoRelatorio, int32_t, const std::vector<std::string>&,
                                int32_t&) { throw std::runtime_error("cliente desconectado"); };
  EXPECT_EQ(Falha([&] { k.ImprimirTransacoesPendentes(); }), "cliente desconectado");
  EXPECT_EQ(app.Conta("OnDepoisCancelarTransacoes"), 1);
  EXPECT_EQ(app.Conta("OnDepoisConfirmarTransacoes"), 0);
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Impressao, AChequeAuthenticationIsShownAfterPrinting) {
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", "", "AUT 123"));
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Eventos.back(), "OnExibeMsg opmOK Favor anotar no verso do Cheque:\r\nAUT 123");
  app.Eventos.clear();
  k.SetExibirMsgAutenticacao(false);
  k.RespostasPendentes().Add(Registro("1", 1000, "02", 0, "a", "", "AUT 123"));
  k.ImprimirTransacoesPendentes();
  EXPECT_EQ(app.Conta("OnExibeMsg opmOK"), 0);
}

}  // namespace
}  // namespace kelvora::tef
