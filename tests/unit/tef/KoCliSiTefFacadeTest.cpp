// Tests of the facade's settings, rules and helpers and of the gateway base class, without a
// SiTef library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TefTestSupport.h"
#include "tef/CliSiTefLibrary.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefNumero.h"

namespace kelvora::tef {
namespace {

using testing::Ambiente;
using testing::Aplicacao;
using ::testing::HasSubstr;
using testing::kSemArquivo;
using testing::RelogioFixo;

// Runs a call and returns the message it failed with ("" when it did not fail).
std::string Falha(const std::function<void()>& chamada) {
  try {
    chamada();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(KoCliSiTefFacade, StartsWithoutACurrentGatewayAndRefusesOperationsOnNone) {
  Ambiente ambiente;
  TKoCliSiTef k(ambiente.Base());
  EXPECT_EQ(k.GPAtual(), gpTefDial);
  EXPECT_EQ(k.About(), "KoCliSiTef Ver: 4.3.4");
  EXPECT_EQ(k.EsperaSleep(), 250);
  EXPECT_TRUE(k.AutoFinalizarCupom());
  EXPECT_FALSE(k.TEFCliSiTef().Inicializado());
  EXPECT_FALSE(k.TEFCliSiTef().Habilitado());
  EXPECT_EQ(k.TEFCliSiTef().Name(), "CliSiTef");

  const std::string semGateway = "Nenhum Gerenciador Padrão selecionado";
  EXPECT_EQ(Falha([&] { k.CRT(10, "02", "1", 0, "", "", "", "00"); }), semGateway);
  EXPECT_EQ(Falha([&] { k.Inicializado(); }), semGateway);
  EXPECT_EQ(Falha([&] { k.Resp(); }), semGateway);
  EXPECT_THROW(k.ATV(), EKoCliSiTefErro);

  // Selecting another type after the CliSiTef gateway keeps it current.
  k.SetGPAtual(gpCliSiTef);
  EXPECT_EQ(&k.TEF(), &k.TEFCliSiTef());
  k.SetGPAtual(gpTefDial);
  EXPECT_EQ(&k.TEF(), &k.TEFCliSiTef());
  EXPECT_EQ(k.GPAtual(), gpTefDial);
}

TEST(KoCliSiTefFacade, InicializarRequiresEachEventInOrder) {
  struct Caso {
    std::function<void(TKoCliSiTef&)> retira;
    std::string mensagem;
  };
  const std::vector<Caso> casos = {
      {[](TKoCliSiTef& k) { k.OnExibeMsg = nullptr; }, "Evento \"OnExibeMsg\" não programado"},
      {[](TKoCliSiTef& k) { k.OnComandaECF = nullptr; }, "Evento \"OnComandaECF\" não programado"},
      {[](TKoCliSiTef& k) { k.OnComandaImpressao = nullptr; },
       "Evento \"OnComandaImpressão\" não programado"},
      {[](TKoCliSiTef& k) { k.OnComandaECFAbreVinculado = nullptr; },
       "Evento \"OnComandaECFAbreVinculado\" não programado"},
      {[](TKoCliSiTef& k) { k.OnComandaECFImprimeVia = nullptr; },
       "Evento \"OnComandaECFImprimeVia\" não programado"},
      {[](TKoCliSiTef& k) { k.OnInfoECF = nullptr; }, "Evento \"OnInfoECF\" não programado"},
      // The first missing event is the one reported.
      {[](TKoCliSiTef& k) {
         k.OnInfoECF = nullptr;
         k.OnExibeMsg = nullptr;
       },
       "Evento \"OnExibeMsg\" não programado"},
  };
  for (const Caso& caso : casos) {
    Ambiente ambiente;
    Aplicacao app(ambiente);
    caso.retira(app.KoCliSiTef);
    EXPECT_EQ(Falha([&] { app.KoCliSiTef.Inicializar(gpCliSiTef); }), caso.mensagem);
    EXPECT_FALSE(app.KoCliSiTef.TEFCliSiTef().Inicializado());
  }
}

TEST(KoCliSiTefFacade, InicializarWithoutTheLibraryReportsTheConnectionErrorAndLogsWhy) {
  Ambiente ambiente;  // no library in dll/
  Aplicacao app(ambiente);
  EXPECT_EQ(Falha([&] { app.KoCliSiTef.Inicializar(gpCliSiTef); }),
            "Erro ao conectar com servidor TEF");
  EXPECT_FALSE(app.KoCliSiTef.Inicializado(gpCliSiTef));
  EXPECT_FALSE(app.KoCliSiTef.TEFCliSiTef().Habilitado());
  EXPECT_THAT(ambiente.Log(), HasSubstr("CliSiTef Inicializar: Erro ao carregar a função:"
                                        "ConfiguraIntSiTefInterativoEx de: CliSiTef32I.dll"));
  EXPECT_THAT(ambiente.Log(),
              HasSubstr("CliSiTef CarregarFuncoesDLL: " +
                        (std::filesystem::path(ambiente.PathDLL()) / "CliSiTef32I.dll").string() +
                        ": " + kSemArquivo));
  // The backup directory was created on the way.
  EXPECT_TRUE(std::filesystem::is_directory(ambiente.PathBackup()));
}

TEST(KoCliSiTefFacade, PathBackupDefaultsToTheBaseDirectoryAndIsStoredTrimmed) {
  Ambiente ambiente;
  TKoCliSiTef k(ambiente.Base());
  EXPECT_EQ(k.PathBackup(), (std::filesystem::path(ambiente.Base()) / "TEF").string());
  k.SetPathBackup("  /var/lib/kelvora/TEF/ ");
  EXPECT_EQ(k.PathBackup(), "/var/lib/kelvora/TEF");
}

TEST(KoCliSiTefFacade, InicializarFailsWhenTheBackupDirectoryCannotBeMade) {
  Ambiente ambiente;
  Aplicacao app(ambiente);
  std::ofstream(ambiente.Base() + "/arquivo") << "x";
  const std::string caminho = ambiente.Base() + "/arquivo/TEF";
  app.KoCliSiTef.SetPathBackup(caminho);
  EXPECT_EQ(Falha([&] { app.KoCliSiTef.Inicializar(gpCliSiTef); }),
            "Diretório de Backup não existente:\r\n" + caminho);
}

TEST(KoCliSiTefFacade, EsperaSleepAcceptsTenToFiveHundred) {
  Ambiente ambiente;
  TKoCliSiTef k(ambiente.Base());
  EXPECT_EQ(Falha([&] { k.SetEsperaSleep(9); }), "Valor mínimo de EsperaSleep deve ser: 10");
  EXPECT_EQ(Falha([&] { k.SetEsperaSleep(501); }), "Valor máximo de EsperaSleep deve ser: 500");
  k.SetEsperaSleep(500);
  EXPECT_EQ(k.EsperaSleep(), 500);
  k.SetEsperaSleep(10);
  EXPECT_EQ(k.EsperaSleep(), 10);
}

TEST(KoCliSiTefFacade, SaleSettingsCannotChangeWhileResponsesArePending) {
  struct Caso {
    const char* nome;
    std::function<void(TKoCliSiTef&, bool)> define;
    bool atual;
  };
  const std::vector<Caso> casos = {
      {"MultiplosCartoes", [](TKoCliSiTef& k, bool v) { k.SetMultiplosCartoes(v); }, false},
      {"AutoEfetuarPagamento", [](TKoCliSiTef& k, bool v) { k.SetAutoEfetuarPagamento(v); }, false},
      {"AutoFinalizarCupom", [](TKoCliSiTef& k, bool v) { k.SetAutoFinalizarCupom(v); }, true},
  };
  for (const Caso& caso : casos) {
    Ambiente ambiente;
    TKoCliSiTef k(ambiente.Base());
    k.RespostasPendentes().Add(std::make_unique<TKoCliSiTefResp>());
    EXPECT_EQ(
        Falha([&] { caso.define(k, !caso.atual); }),
        std::string("Existem Respostas Pendentes. Não é possível alterar \"") + caso.nome + "\"")
        << caso.nome;
    EXPECT_EQ(Falha([&] { caso.define(k, caso.atual); }), "") << caso.nome;
    k.RespostasPendentes().Clear();
    caso.define(k, !caso.atual);
  }
  Ambiente ambiente;
  TKoCliSiTef k(ambiente.Base());
  k.SetNumeroMaximoCartoes(-3);
  EXPECT_EQ(k.NumeroMaximoCartoes(), 0);
}

TEST(KoCliSiTefClass, VerificaValorChecksTheAmountBeforeAPayment) {
  Ambiente ambiente;
  TKoCliSiTef k(ambiente.Base());
  TKoCliSiTefClass& gateway = k.TEFCliSiTef();
  auto valor = [](double v) { return platform::Currency::FromDouble(v); };

  EXPECT_EQ(Falha([&] { gateway.VerificaValor(valor(0.004)); }), "Valor inválido");
  EXPECT_EQ(Falha([&] { gateway.VerificaValor(valor(-5)); }), "Valor inválido");
  gateway.VerificaValor(valor(0.006));
  EXPECT_EQ(k.RespostasPendentes().SaldoAPagar(), platform::Currency::FromCents(1));
  // Half a cent goes to the even cent.
  gateway.VerificaValor(valor(0.025));
  EXPECT_EQ(k.RespostasPendentes().SaldoAPagar(), platform::Currency::FromCents(2));

  k.SetTrocoMaximo(5);
  k.RespostasPendentes().SetValorTotalAPagar(valor(10));
  gateway.VerificaValor(valor(15));
  EXPECT_EQ(Falha([&] { gateway.VerificaValor(valor(15.01)); }),
            "Operação TEF permite Troco Máximo de R$ 5,00");

  k.SetTrocoMaximo(0);
  k.SetMultiplosCartoes(true);
  k.SetNumeroMaximoCartoes(2);
  k.RespostasPendentes().Add(std::make_unique<TKoCliSiTefResp>());
  gateway.VerificaValor(valor(1));
  k.RespostasPendentes().Add(std::make_unique<TKoCliSiTefResp>());
  EXPECT_EQ(Falha([&] { gateway.VerificaValor(valor(1)); }),
            "Multiplos Cartões Limitado a 2 operações.");
}

TEST(KoCliSiTefClass, GravaLogAppendsTimeStampedLinesInTheAnsiCodePage) {
  Ambiente ambiente;
  RelogioFixo relogio(2025, 10, 7, 14, 3, 22, 15);
  TKoCliSiTef k(ambiente.Base(), relogio);
  TKoCliSiTefClass& gateway = k.TEFCliSiTef();

  gateway.GravaLog("sem arquivo");  // no log file set: nothing written, nothing raised
  EXPECT_FALSE(std::filesystem::exists(ambiente.ArqLOG()));

  k.SetArqLOG(ambiente.ArqLOG());
  EXPECT_EQ(gateway.ArqLOG(), ambiente.ArqLOG());
  gateway.GravaLog("CliSiTef DesInicializado");
  gateway.GravaLog("Ação");
  EXPECT_EQ(testing::TempDir::Read(ambiente.ArqLOG()),
            "-- 07/10 14:03:22:015 - CliSiTef DesInicializado\r\n"
            "-- 07/10 14:03:22:015 - A\xE7\xE3o\r\n");

  gateway.SetArqLOG(ambiente.Base() + "/nao/existe/tef.log");
  EXPECT_NO_THROW(gateway.GravaLog("perdido"));

  // The facade hands a new log only to gateways that log where it did.
  k.SetArqLOG(ambiente.Base() + "/outro.log");
  EXPECT_EQ(gateway.ArqLOG(), ambiente.Base() + "/nao/existe/tef.log");
}

TEST(KoCliSiTefClass, GatewaySettingsAndRefusals) {
  Ambiente ambiente;
  TKoCliSiTef k(ambiente.Base());
  TKoCliSiTefCliSiTef& gateway = k.TEFCliSiTef();
  EXPECT_EQ(Falha([&] { gateway.VerificaInicializado(); }),
            "Gerenciador Padrão: CliSiTef não foi inicializado");
  EXPECT_THROW(gateway.VerificaInicializado(), EKoCliSiTefGPNaoInicializado);
  gateway.SetNumVias(3);
  EXPECT_EQ(gateway.NumVias(), 2);
  EXPECT_EQ(Falha([&] { k.AtivarGP(gpCliSiTef); }), "CliSiTef não pode ser ativado localmente");
  EXPECT_EQ(Falha([&] { gateway.VerificaRequisicaoIniciada(); }), "Nenhuma Requisição Iniciada");
  EXPECT_EQ(gateway.OperacaoATV(), 111);
  EXPECT_EQ(gateway.OperacaoADM(), 110);
  EXPECT_EQ(gateway.OperacaoCRT(), 0);
  EXPECT_EQ(gateway.OperacaoCHQ(), 1);
  EXPECT_EQ(gateway.OperacaoCNC(), 200);
  EXPECT_EQ(gateway.OperacaoReImpressao(), 112);

  // Texts are kept as Windows-1252 holds them.
  gateway.SetOperador("José ✓");
  EXPECT_EQ(gateway.Operador(), "José ?");
  gateway.SetParametrosAdicionaisTexto("A=1\r\nB=2\nC=3");
  EXPECT_EQ(gateway.ParametrosAdicionais(), (std::vector<std::string>{"A=1", "B=2", "C=3"}));

  k.Identificacao().SetNomeAplicacao("  Lumo XE2 ");
  EXPECT_EQ(k.Identificacao().NomeAplicacao(), "Lumo XE2");
}

TEST(KoCliSiTefClass, LibraryCallsWithoutTheLibraryFailInsteadOfCallingNothing) {
  Ambiente ambiente;
  Aplicacao app(ambiente);
  TKoCliSiTefCliSiTef& gateway = app.KoCliSiTef.TEFCliSiTef();
  const std::string erro = "Erro ao iniciar \"TEF\"";
  EXPECT_EQ(Falha([&] { gateway.VerificarPresencaPinPad(); }), erro);
  EXPECT_EQ(Falha([&] { gateway.DefineMensagemPermanentePinPad("x"); }), erro);
  EXPECT_EQ(Falha([&] { gateway.ObtemQuantidadeTransacoesPendentes(45000, "1"); }), erro);
  app.KoCliSiTef.SetGPAtual(gpCliSiTef);
  EXPECT_EQ(Falha([&] { app.KoCliSiTef.CRT(10, "02", "1", 0, "", "", "", "00"); }), erro);
  EXPECT_FALSE(gateway.AguardandoResposta());
}

TEST(KoCliSiTefFacade, DoExibeMsgLogsAndHandsTheTextAsTheCodePageHoldsIt) {
  Ambiente ambiente;
  Aplicacao app(ambiente);
  app.Respostas = {7};
  EXPECT_EQ(app.KoCliSiTef.DoExibeMsg(opmYesNo, "Olá € ✓"), 7);
  EXPECT_EQ(app.KoCliSiTef.DoExibeMsg(opmOK, "ok"), 0);
  EXPECT_EQ(app.Eventos,
            (std::vector<std::string>{"OnExibeMsg opmYesNo Olá € ?", "OnExibeMsg opmOK ok"}));
  EXPECT_THAT(ambiente.Log(),
              HasSubstr(" - CliSiTef DoExibeMsg: Oper: opmYesNo Mensagem: Olá € ?"));

  TKoCliSiTef semEventos(ambiente.Base());
  EXPECT_EQ(semEventos.DoExibeMsg(opmYesNo, "?"), 0);
}

TEST(KoCliSiTefFacade, StateChangesFireTheirEventsOnlyWhenTheValueChanges) {
  Ambiente ambiente;
  Aplicacao app(ambiente);
  app.KoCliSiTef.SetEstadoResp(respNenhum);
  app.KoCliSiTef.SetEstadoResp(respProcessando);
  app.KoCliSiTef.SetEstadoResp(respProcessando);
  EXPECT_EQ(app.Eventos, (std::vector<std::string>{"OnMudaEstadoResp respProcessando"}));
}

TEST(KoCliSiTefFacade, ConfirmarTransacaoReportsAFailureAsFalse) {
  Ambiente ambiente;
  Aplicacao app(ambiente);
  // Even without a receipt a confirmation goes to the library, and there is none loaded.
  EXPECT_FALSE(app.KoCliSiTef.ConfirmarTransacao(true, "123"));
  app.KoCliSiTef.OnExibeMsg = [](TKoCliSiTefOperacaoMensagem, const std::string&, int&) {
    throw std::runtime_error("tela fechada");
  };
  EXPECT_FALSE(app.KoCliSiTef.ConfirmarTransacao(false, "123"));
}

TEST(KoCliSiTefCliSiTef, FormatarMensagemSiTefBreaksLinesAtTheLibrarysMarks) {
  EXPECT_EQ(TKoCliSiTefCliSiTef::FormatarMensagemSiTef("A@B/nC"), "A\r\nB\r\nC");
  EXPECT_EQ(TKoCliSiTefCliSiTef::FormatarMensagemSiTef("@@/n/"), "\r\n\r\n\r\n/");
}

TEST(CliSiTefLibrary, LibraryNameFollowsPathDLL) {
  const char separador = static_cast<char>(std::filesystem::path::preferred_separator);
  EXPECT_EQ(NomeCompletoDLL("  /opt/x/dll \t"),
            std::string("/opt/x/dll") + separador + "CliSiTef32I.dll");
  EXPECT_EQ(NomeCompletoDLL("/opt/x/dll/"), "/opt/x/dll/CliSiTef32I.dll");
  EXPECT_EQ(NomeCompletoDLL(""), "CliSiTef32I.dll");
  EXPECT_EQ(NomeCompletoDLL("/opt/x/", "libclisitef.so"), "/opt/x/libclisitef.so");
}

TEST(CliSiTefLibrary, TheConfiguredLibraryGivesItsFolderAndFileName) {
  struct Caso {
    const char* configurado;
    const char* pathDLL;
    const char* nomeDLL;
  };
  const Caso casos[] = {
      {"", "/base/dll/", "CliSiTef32I.dll"},
      {" \t", "/base/dll/", "CliSiTef32I.dll"},
      {"/opt/sitef/libclisitef.so", "/opt/sitef/", "libclisitef.so"},
      {"vendor/libclisitef.so", "/base/vendor/", "libclisitef.so"},
      {" ../sitef/./libclisitef.so ", "/sitef/", "libclisitef.so"},
      {"/opt/sitef/", "/opt/sitef/", "CliSiTef32I.dll"},
  };
  for (const Caso& caso : casos) {
    const TLocalDLL local = LocalizaDLL("/base", caso.configurado);
    std::string pasta = caso.pathDLL;
    std::replace(pasta.begin(), pasta.end(), '/',
                 static_cast<char>(std::filesystem::path::preferred_separator));
    EXPECT_EQ(local.PathDLL, pasta) << caso.configurado;
    EXPECT_EQ(local.NomeDLL, caso.nomeDLL) << caso.configurado;
  }
}

TEST(KoCliSiTefNumero, ReadsDecimalsWithEitherSeparator) {
  struct Caso {
    const char* texto;
    std::optional<double> valor;
  };
  const std::vector<Caso> casos = {
      {"12,5", 12.5}, {" 12.5 ", 12.5}, {"-3", -3.0},     {"+7,25", 7.25}, {",5", 0.5},
      {"1e2", 100.0}, {"abc", {}},      {"1.234,56", {}}, {"", {}},        {"inf", {}},
      {"12,", 12.0},  {"1 2", {}},      {"0x10", {}},     {"-", {}},
  };
  for (const Caso& caso : casos) EXPECT_EQ(LeNumeroDecimal(caso.texto), caso.valor) << caso.texto;
}

}  // namespace
}  // namespace kelvora::tef
