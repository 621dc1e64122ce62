// Whole payments through the facade, with an application's handlers and the SiTef simulator as
// the library: approvals, refusals, interruptions, cancellations, reprints, reversals, printing
// failures and a crash between approval and confirmation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "TefTestSupport.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::tef {
namespace {

using testing::Ambiente;
using testing::Aplicacao;
using testing::EventoLedger;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// A sale as the service's data module starts one: the whole amount is the card's.
bool Venda(Aplicacao& app, int operacao, double valor, const std::string& parcelas = "00") {
  TKoCliSiTef& k = app.KoCliSiTef;
  k.TEFCliSiTef().SetOperacaoCRT(operacao);
  k.TEFCliSiTef().SetCancelandoTransacaoTEF(false);
  k.RespostasPendentes().SetValorDinheiro(platform::Currency::FromDouble(valor));
  k.RespostasPendentes().SetValorTotalAPagar(platform::Currency::FromDouble(valor));
  return k.CRT(valor, "02", "123", 0, "", "", "", parcelas);
}

// The ledger's events of one kind.
std::vector<EventoLedger> DoTipo(const Ambiente& ambiente, const std::string& tipo) {
  std::vector<EventoLedger> saida;
  for (const EventoLedger& e : ambiente.Ledger()) {
    if (e.tipo == tipo) saida.push_back(e);
  }
  return saida;
}

class Simulador : public ::testing::Test {
 protected:
  Ambiente ambiente{SIMULADOR};
  Aplicacao app{ambiente};
  TKoCliSiTef& k = app.KoCliSiTef;

  void SetUp() override {
    k.Inicializar(gpCliSiTef);
    app.Eventos.clear();
  }

  // The NSU of the only approval in the ledger.
  std::string NsuAprovado() const {
    const auto aprovados = DoTipo(ambiente, "APPROVED");
    return aprovados.size() == 1 ? aprovados[0].campos.at("nsu") : "<" + std::to_string(aprovados.size()) + ">";
  }
};

TEST_F(Simulador, AnApprovedDebitIsBackedUpPrintedConfirmedOnceAndReported) {
  // While the receipt prints, the payment is approved, kept in its backup and not yet confirmed.
  std::vector<std::string> duranteImpressao;
  app.AoEvento = [&](const std::string& evento) {
    if (evento == "OnComandaECFImprimeVia trVinculado 1") {
      duranteImpressao = ambiente.Backups();
      EXPECT_EQ(DoTipo(ambiente, "APPROVED").size(), 1u);
      EXPECT_THAT(DoTipo(ambiente, "CONFIRMED"), IsEmpty());
    }
  };
  ASSERT_TRUE(Venda(app, 2, 25.9));

  EXPECT_THAT(duranteImpressao, ElementsAre("KoCliSiTef_CliSiTef_001.tef"));
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
  const std::string nsu = NsuAprovado();
  EXPECT_EQ(ambiente.Conta("CONFIRMED", nsu), 1);
  EXPECT_THAT(DoTipo(ambiente, "UNDONE"), IsEmpty());

  const std::string documento = std::to_string(k.TEFCliSiTef().IDSeq());
  EXPECT_EQ(app.Filtra({"OnExibeMsg opmExibir", "OnAguardaResp", "OnInfoECF", "OnComanda",
                        "OnDepois"}),
            (std::vector<std::string>{
                "OnExibeMsg opmExibirMsgOperador Aguardando o cartao do cliente",
                "OnExibeMsg opmExibirMsgCliente Insira ou passe o cartao",
                "OnAguardaResp 23",
                "OnAguardaResp 23",
                "OnAguardaResp 23",
                "OnInfoECF ineEstadoECF",
                "OnComandaECFAbreVinculado " + documento + " 02 25,90",
                "OnComandaECFImprimeVia trVinculado 1",
                "OnComandaECFImprimeVia trVinculado 2",
                "OnComandaECF opeFechaVinculado",
                "OnComandaImpressao",
                "OnDepoisConfirmarTransacoes 1",
            }));
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  const testing::RespostaVista& r = app.Confirmadas[0];
  EXPECT_TRUE(r.Debito);
  EXPECT_FALSE(r.Credito);
  EXPECT_FALSE(r.Pendente);
  EXPECT_EQ(r.NSU, nsu);
  EXPECT_EQ(r.Documento, documento);
  EXPECT_EQ(r.Valor, platform::Currency::FromCents(2590));
  EXPECT_EQ(r.Modalidade, "0100");
  EXPECT_EQ(r.Rede, "REDE");
  EXPECT_EQ(r.Cartao, "476173******0119");
  EXPECT_EQ(r.Indice, "02");
  EXPECT_GT(r.Linhas1, 5);
  EXPECT_GT(r.Linhas2, 5);
  EXPECT_FALSE(r.BackupExiste);
  EXPECT_EQ(k.CodigoNsu(), nsu);
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Simulador, ACreditInInstalmentsChoosesThePlanAndTheNumberByItself) {
  ASSERT_TRUE(Venda(app, 3, 100, "03"));
  EXPECT_EQ(app.Conta("OnExibeMenu"), 0);
  EXPECT_EQ(app.Conta("OnObtemCampo"), 0);
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  const testing::RespostaVista& r = app.Confirmadas[0];
  EXPECT_TRUE(r.Credito);
  EXPECT_EQ(r.Modalidade, "0202");
  EXPECT_EQ(r.QtdParcelas, 3);
  EXPECT_EQ(r.Parcelas, 3);
  EXPECT_EQ(r.Valor, platform::Currency::FromCents(10000));
  EXPECT_EQ(DoTipo(ambiente, "APPROVED").at(0).campos.at("instalments"), "3");
  EXPECT_EQ(ambiente.Conta("CONFIRMED", NsuAprovado()), 1);
}

TEST_F(Simulador, APixPaymentShowsItsQRCode) {
  app.Menus = {"3:Pix"};
  ASSERT_TRUE(Venda(app, 0, 12.34));
  EXPECT_THAT(app.Filtra({"OnExibeMenu", "OnExibeQRCode"}),
              ElementsAre("OnExibeMenu Selecione a forma de pagamento", StartsWith("OnExibeQRCode 000201")));
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  EXPECT_FALSE(app.Confirmadas[0].Debito);
  EXPECT_FALSE(app.Confirmadas[0].Credito);
  EXPECT_EQ(app.Confirmadas[0].Modalidade, "9900");
  EXPECT_EQ(app.Confirmadas[0].Rede, "PIX");
  EXPECT_EQ(ambiente.Conta("CONFIRMED", NsuAprovado()), 1);
}

TEST_F(Simulador, ARefusedPaymentShowsTheRefusalAndLeavesNothingPending) {
  EXPECT_FALSE(Venda(app, 2, 12.51));
  EXPECT_THAT(app.Eventos, Contains("OnExibeMsg opmExcept Negada pelo autorizador (51)"));
  EXPECT_EQ(DoTipo(ambiente, "REFUSED").size(), 1u);
  EXPECT_THAT(DoTipo(ambiente, "CONFIRMED"), IsEmpty());
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
  EXPECT_EQ(app.Conta("OnDepois"), 0);
}

TEST_F(Simulador, AnInterruptionWhileTheCardIsAwaitedCancelsTheSale) {
  app.InterromperNaEspera = 1;
  EXPECT_FALSE(Venda(app, 2, 10));
  EXPECT_EQ(app.Conta("OnAguardaResp"), 1);
  EXPECT_THAT(app.Eventos, Contains("OnExibeMsg opmExcept Operação cancelada pelo operador"));
  EXPECT_THAT(ambiente.Ledger(), IsEmpty());
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
}

TEST_F(Simulador, GoingBackFromAMenuAsksThePreviousQuestionAgain) {
  app.Menus = {"2:Credito", "<voltar>", "1:Debito"};
  ASSERT_TRUE(Venda(app, 0, 10));
  EXPECT_EQ(app.Filtra({"OnExibeMenu"}),
            (std::vector<std::string>{"OnExibeMenu Selecione a forma de pagamento",
                                      "OnExibeMenu Selecione a forma de financiamento",
                                      "OnExibeMenu Selecione a forma de pagamento"}));
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  EXPECT_TRUE(app.Confirmadas[0].Debito);
}

TEST_F(Simulador, ACancellationOfAnEarlierPaymentIsPrintedAsAReportAndConfirmed) {
  ASSERT_TRUE(Venda(app, 2, 12.34));
  const std::string original = NsuAprovado();
  app.Eventos.clear();
  app.Confirmadas.clear();

  ASSERT_TRUE(k.CNC("REDE", original, platform::Now(), 12.34));
  // The application was offered the preset answers and kept them.
  EXPECT_EQ(app.Filtra({"OnObtemCampo"}),
            (std::vector<std::string>{
                "OnObtemCampo 515 tcString Forneca a data da transacao original (DDMMAAAA)",
                "OnObtemCampo 516 tcString Forneca o NSU da transacao original",
                "OnObtemCampo 146 tcCurrency Forneca o valor da transacao original"}));
  const auto aprovados = DoTipo(ambiente, "APPROVED");
  ASSERT_EQ(aprovados.size(), 2u);
  EXPECT_EQ(aprovados[1].campos.at("orig_nsu"), original);
  EXPECT_EQ(aprovados[1].campos.at("value"), "12,34");
  EXPECT_EQ(ambiente.Conta("CONFIRMED", aprovados[1].campos.at("nsu")), 1);
  EXPECT_THAT(app.Eventos, Contains("OnComandaECF opeAbreGerencial"));
  EXPECT_THAT(app.Eventos, Contains("OnComandaECFImprimeVia trGerencial 2"));
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  EXPECT_EQ(app.Confirmadas[0].Header, "CNC");
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
}

TEST_F(Simulador, ACancellationStartedAsTheServiceDoesAnswersTheLibraryByItself) {
  ASSERT_TRUE(Venda(app, 2, 12.34));
  const std::string original = NsuAprovado();
  app.Eventos.clear();
  TKoCliSiTefCliSiTef& g = k.TEFCliSiTef();
  g.SetOperacaoCRT(200);
  g.SetCancelandoTransacaoNSU(original);
  g.SetCancelandoTransacaoDATA(platform::Now());
  g.SetCancelandoTransacaoVALOR(platform::Currency::FromCents(1234));
  g.SetCancelandoTransacaoTEF(true);
  ASSERT_TRUE(k.CRT(12.34, "02", "123", 0, "", "", "", "00"));
  EXPECT_EQ(app.Conta("OnObtemCampo"), 0);
  EXPECT_EQ(DoTipo(ambiente, "APPROVED").at(1).campos.at("orig_nsu"), original);
  EXPECT_EQ(DoTipo(ambiente, "CONFIRMED").size(), 2u);
}

TEST_F(Simulador, AReprintPrintsTheLastReceiptAndConfirmsNothing) {
  ASSERT_TRUE(Venda(app, 2, 10));
  const size_t linhas = ambiente.Ledger().size();
  app.Confirmadas.clear();
  app.Eventos.clear();

  k.TEFCliSiTef().SetOperacaoCRT(112);
  ASSERT_TRUE(k.CRT(1.0, "112", "0", 0, "", "", "", "0"));
  EXPECT_EQ(ambiente.Ledger().size(), linhas);
  EXPECT_EQ(app.Conta("OnComandaImpressao"), 0);
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  EXPECT_EQ(app.Confirmadas[0].Indice, "112");
  EXPECT_THAT(app.Confirmadas[0].Via1, Contains(HasSubstr("REIMPRESSÃO")));
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
}

TEST_F(Simulador, PendingPaymentsAreReversedInTheLibraryOnRequest) {
  k.SetAutoFinalizarCupom(false);
  ASSERT_TRUE(Venda(app, 2, 10));
  const std::string nsu = NsuAprovado();
  EXPECT_EQ(ambiente.Backups().size(), 1u);
  EXPECT_EQ(k.RespostasPendentes().Count(), 1);

  k.CancelarTransacoesPendentes();
  EXPECT_EQ(ambiente.Conta("UNDONE", nsu), 1);
  EXPECT_EQ(ambiente.Conta("CONFIRMED", nsu), 0);
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
  EXPECT_EQ(app.Filtra({"OnAntes", "OnDepois"}),
            (std::vector<std::string>{"OnAntesCancelarTransacao", "OnDepoisCancelarTransacoes 1"}));
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Simulador, APrintingFailureRetriedWithYesConfirmsThePayment) {
  app.RetornosImprimeVia = {0};
  app.Respostas = {6};
  ASSERT_TRUE(Venda(app, 2, 10));
  EXPECT_THAT(app.Eventos,
              Contains("OnExibeMsg opmYesNo Impressora não responde\r\nDeseja imprimir novamente ?"));
  EXPECT_THAT(app.Eventos, Contains("OnComandaECFImprimeVia trGerencial 2"));
  EXPECT_EQ(ambiente.Conta("CONFIRMED", NsuAprovado()), 1);
  EXPECT_EQ(app.Confirmadas.size(), 1u);
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
}

TEST_F(Simulador, APrintingFailureAnsweredNoUndoesThePayment) {
  app.RetornosImprimeVia = {0};
  app.Respostas = {7};
  Venda(app, 2, 10);
  const std::string nsu = NsuAprovado();
  EXPECT_EQ(ambiente.Conta("UNDONE", nsu), 1);
  EXPECT_EQ(ambiente.Conta("CONFIRMED", nsu), 0);
  EXPECT_EQ(app.Filtra({"OnComandaECF opeCancelaCupom", "OnAntes", "OnDepois"}),
            (std::vector<std::string>{"OnComandaECF opeCancelaCupom", "OnAntesCancelarTransacao",
                                      "OnDepoisCancelarTransacoes 1"}));
  EXPECT_THAT(app.Confirmadas, IsEmpty());
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
}

TEST_F(Simulador, WithoutAFreeBackupNameThePaymentIsUndoneAndTheSaleFails) {
  for (int n = 1; n <= 999; ++n) std::ofstream(ambiente.Backup(n)) << "";
  EXPECT_THROW(Venda(app, 2, 10), EKoCliSiTefArquivo);
  const std::string nsu = NsuAprovado();
  EXPECT_EQ(ambiente.Conta("UNDONE", nsu), 1);
  EXPECT_EQ(ambiente.Conta("CONFIRMED", nsu), 0);
  EXPECT_EQ(app.Conta("OnComanda"), 0);
  EXPECT_THAT(app.Confirmadas, IsEmpty());
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Simulador, CardReadingsLeaveTheCardsIdentificationInIDAmigo) {
  k.LerTrilha3();
  EXPECT_EQ(k.IDAmigo(), "8000000001");
  EXPECT_THAT(app.Eventos, Contains("OnExibeMsg opmExibirMsgCliente Passe o cartao"));
  EXPECT_EQ(k.LerCartaoSeguro(), "");
  EXPECT_EQ(k.IDAmigo(), "B6280000000000001^CLIENTE/SIMULADO^99120000000000000000\r ( "
                         "6280000000000001=99120000000000000000 )");
}

TEST(SimuladorQueda, APaymentLeftByACrashIsConfirmedAtTheNextStartAndLaterPaymentsToo) {
  Ambiente ambiente(SIMULADOR);
  // The earlier process approves a payment and dies while its receipt prints.
  const pid_t filho = ::fork();
  ASSERT_GE(filho, 0);
  if (filho == 0) {
    try {
      Aplicacao anterior(ambiente);
      anterior.AoEvento = [](const std::string& evento) {
        if (evento.rfind("OnComandaECFImprimeVia", 0) == 0) ::_exit(0);
      };
      anterior.KoCliSiTef.Inicializar(gpCliSiTef);
      Venda(anterior, 2, 42);
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(filho, &status, 0), filho);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ASSERT_THAT(ambiente.Backups(), ElementsAre("KoCliSiTef_CliSiTef_001.tef"));
  const auto aprovados = ambiente.Ledger();
  ASSERT_EQ(aprovados.size(), 1u);
  const std::string nsu = aprovados[0].campos.at("nsu");
  const std::string documento = aprovados[0].campos.at("doc");

  Aplicacao app(ambiente);
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  EXPECT_EQ(ambiente.Conta("CONFIRMED", nsu), 1);
  EXPECT_THAT(ambiente.Backups(), IsEmpty());
  ASSERT_EQ(app.Confirmadas.size(), 1u);
  EXPECT_TRUE(app.Confirmadas[0].Pendente);
  EXPECT_EQ(app.Confirmadas[0].NSU, nsu);
  EXPECT_EQ(app.Confirmadas[0].Valor, platform::Currency::FromCents(4200));
  EXPECT_THAT(app.Eventos, Contains("OnExibeMsg opmOK Transação TEF efetuada.\r\nFavor reimprimir "
                                    "último Cupom.\r\nNSU: " + nsu + "\r\n\r\nNº Documento: " +
                                    documento + "\r\n\r\n(Para Cielo utilizar os 6 últimos dígitos.)"));
  EXPECT_FALSE(app.KoCliSiTef.TransacaoConfirmada());

  // A later payment of the same process is confirmed in the library as usual.
  app.Eventos.clear();
  ASSERT_TRUE(Venda(app, 2, 10));
  const auto todos = DoTipo(ambiente, "APPROVED");
  ASSERT_EQ(todos.size(), 2u);
  EXPECT_EQ(ambiente.Conta("CONFIRMED", todos[1].campos.at("nsu")), 1);
  EXPECT_EQ(ambiente.Conta("CONFIRMED", nsu), 1);
  EXPECT_THAT(DoTipo(ambiente, "UNDONE"), IsEmpty());
  EXPECT_EQ(app.Conta("OnComandaImpressao"), 1);
}

// The library files a payment under the fiscal date its dialogue started with; a confirmation that
// names another day settles nothing. Both ways a confirmation can come after midnight are covered.
TEST(SimuladorMeiaNoite, AConfirmationAfterMidnightNamesTheDayOfThePayment) {
  for (const bool reiniciando : {false, true}) {
    SCOPED_TRACE(reiniciando ? "leftover confirmed by a new process" : "same process");
    Ambiente ambiente(SIMULADOR);
    testing::RelogioFixo relogio(2025, 1, 5, 23, 59, 50);
    std::optional<Aplicacao> app(std::in_place, ambiente, relogio);
    app->KoCliSiTef.Inicializar(gpCliSiTef);
    app->KoCliSiTef.SetAutoFinalizarCupom(false);  // approved and backed up, not yet confirmed
    ASSERT_TRUE(Venda(*app, 2, 10));
    relogio.Avanca(std::chrono::minutes(2));
    if (reiniciando) {
      app.emplace(ambiente, relogio);
      app->KoCliSiTef.Inicializar(gpCliSiTef);
    } else {
      app->KoCliSiTef.ConfirmarTransacoesPendentes();
    }
    const auto confirmados = DoTipo(ambiente, "CONFIRMED");
    ASSERT_EQ(confirmados.size(), 1u);
    EXPECT_EQ(confirmados[0].campos.at("date"), "20250105");
    EXPECT_EQ(confirmados[0].campos.at("count"), "1");
    EXPECT_THAT(ambiente.Backups(), IsEmpty());
  }
}

}  // namespace
}  // namespace kelvora::tef
