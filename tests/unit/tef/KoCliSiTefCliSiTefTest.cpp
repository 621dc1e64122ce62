// Tests of the CliSiTef gateway's initialisation, library binding, direct services and
// operations, against the simulator and the scripted stand-in library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TefTestSupport.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::tef {
namespace {

using testing::Ambiente;
using testing::Aplicacao;
using testing::ComponenteNaBiblioteca;
using testing::SemExportacao;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Falha(const std::function<void()>& chamada) {
  try {
    chamada();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// The calls the stand-in library recorded whose name is `nome`, without the name.
std::vector<std::string> Chamadas(const Ambiente& ambiente, const std::string& nome) {
  std::vector<std::string> saida;
  for (const std::string& linha : ambiente.Linhas("CliSiTefChamadas.txt")) {
    if (linha.compare(0, nome.size() + 1, nome + "|") == 0) saida.push_back(linha.substr(nome.size() + 1));
  }
  return saida;
}

TEST(CliSiTefInicializacao, GoodSettingsConfigureTheLibraryAndEnableTheGateway) {
  Ambiente ambiente(SIMULADOR);
  Aplicacao app(ambiente);
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  EXPECT_TRUE(app.KoCliSiTef.Inicializado(gpCliSiTef));
  EXPECT_TRUE(app.KoCliSiTef.TEFCliSiTef().Habilitado());
  EXPECT_FALSE(app.KoCliSiTef.TransacaoConfirmada());
  // Without leftovers the start asks the printer state and nothing else.
  EXPECT_THAT(app.Eventos, ElementsAre("OnInfoECF ineEstadoECF"));
  const std::string log = ambiente.Log();
  EXPECT_THAT(log, HasSubstr(" - *** ConfiguraIntSiTefInterativoEx. EnderecoIP: 127.0.0.1 "
                             "CodigoLoja: 00000000 NumeroTerminal: SE000001 Resultado: 0 "
                             "ParametrosAdicionais: [];{ValorIncluiTaxa=0;};\r\n"));
  EXPECT_THAT(log, HasSubstr(" - CliSiTef Inicializado CliSiTEF\r\n"));
  EXPECT_EQ(Falha([&] { app.KoCliSiTef.SetPathBackup("/tmp/outro"); }),
            "PathBackup não pode ser modificado com o KoCliSiTef Inicializado");

  app.KoCliSiTef.DesInicializar(gpCliSiTef);
  EXPECT_FALSE(app.KoCliSiTef.Inicializado());
  EXPECT_THAT(ambiente.Log(), HasSubstr(" - CliSiTef DesInicializado\r\n"));
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  EXPECT_EQ(app.KoCliSiTef.TEFCliSiTef().VerificarPresencaPinPad(), "PINPAD conectado com sucesso...");
}

TEST(CliSiTefInicializacao, EachConfigurationErrorOfTheLibraryHasItsMessage) {
  struct Caso {
    int resultado;
    std::string mensagem;
  };
  const std::vector<Caso> casos = {
      {1, "Endereço IP inválido ou não resolvido"},
      {2, "Código da loja inválido"},
      {3, "Código de terminal inválido"},
      {6, "Erro na inicialização do TCP/IP"},
      {7, "Falta de memória"},
      {8, "Não encontrou a dll do \"TEF\" ou ela está com problemas"},
      {10, "O PinPad não está devidamente configurado no arquivo CliSiTef.ini"},
      {11, "Dados inválidos passados pela automação."},
      {12, "Modo seguro não ativo (possível falta de configuração no servidor SiTef do arquivo "
           ".cha)."},
      {13, "Caminho da DLL inválido (o caminho completo das bibliotecas está muito grande)."},
      // Any other result is taken as success.
      {0, ""}, {4, ""}, {5, ""}, {9, ""}, {14, ""}, {-1, ""},
  };
  for (const Caso& caso : casos) {
    Ambiente ambiente(SIMULADOR);
    ambiente.Escreve("CliSiTefSim.ini", "[config]\nresult=" + std::to_string(caso.resultado) + "\n");
    Aplicacao app(ambiente);
    TKoCliSiTefCliSiTef& gateway = app.KoCliSiTef.TEFCliSiTef();
    EXPECT_EQ(Falha([&] { gateway.SetInicializado(true); }), caso.mensagem) << caso.resultado;
    EXPECT_EQ(gateway.Inicializado(), caso.mensagem.empty()) << caso.resultado;
    if (!caso.mensagem.empty()) {
      EXPECT_THROW(gateway.SetInicializado(true), EKoCliSiTefErro);
      // The facade reports one connection error and leaves the gateway released.
      EXPECT_EQ(Falha([&] { app.KoCliSiTef.Inicializar(gpCliSiTef); }),
                "Erro ao conectar com servidor TEF");
      EXPECT_FALSE(app.KoCliSiTef.Inicializado(gpCliSiTef));
      EXPECT_EQ(Falha([&] { gateway.VerificarPresencaPinPad(); }), "Erro ao iniciar \"TEF\"");
    }
  }
}

TEST(CliSiTefInicializacao, ALibraryWithoutAnExportFailsWithItsName) {
  Ambiente ambiente(BIBLIOTECA_SEM_EXPORTACAO);
  Aplicacao app(ambiente);
  TKoCliSiTefCliSiTef& gateway = app.KoCliSiTef.TEFCliSiTef();
  EXPECT_EQ(Falha([&] { gateway.SetInicializado(true); }),
            "Erro ao carregar a função:VerificaPresencaPinPad de: CliSiTef32I.dll");
  EXPECT_FALSE(gateway.Inicializado());
  // The ten exports before it were resolved: the library was never configured.
  EXPECT_TRUE(Chamadas(ambiente, "configura").empty());
  EXPECT_THAT(ambiente.Log(),
              HasSubstr(SemExportacao(ambiente.PathDLL(), "VerificaPresencaPinPad")));
  EXPECT_EQ(Falha([&] { app.KoCliSiTef.Inicializar(gpCliSiTef); }),
            "Erro ao conectar com servidor TEF");
}

TEST(CliSiTefInicializacao, PinPadPresenceIsReportedAsText) {
  Ambiente ambiente(SIMULADOR);
  Aplicacao app(ambiente);
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  const std::vector<std::pair<int, std::string>> casos = {
      {1, "PINPAD conectado com sucesso..."},
      {0, "Nenhum PINPAD conectado..."},
      {-1, "Erro na DLL ou arquivo .INI do PINPAD"},
      {2, ""},
  };
  for (const auto& [status, texto] : casos) {
    ambiente.Escreve("CliSiTefSim.ini", "[pinpad]\nstatus=" + std::to_string(status) + "\n");
    EXPECT_EQ(app.KoCliSiTef.TEFCliSiTef().VerificarPresencaPinPad(), texto) << status;
  }
}

TEST(CliSiTefInicializacao, AdditionalParametersAndTaxNumbersGoToTheLibrary) {
  struct Caso {
    std::vector<std::string> linhas;
    std::string cnpjLoja, cnpjQuirena, parametros;
  };
  const std::vector<Caso> casos = {
      {{}, "", "", "[];{ValorIncluiTaxa=0;};"},
      {{"A=1", "B=2"}, "", "", "[A=1;B=2];{ValorIncluiTaxa=0;};"},
      {{" A=1", "B=2 ", ""}, "", "", "[A=1;B=2];{ValorIncluiTaxa=0;};"},
      {{}, " 123 ", "456", "[];{ValorIncluiTaxa=0;};[ParmsClient=1=123;2=456];"},
      {{}, "123", "", "[];{ValorIncluiTaxa=0;};"},
  };
  for (const Caso& caso : casos) {
    Ambiente ambiente(BIBLIOTECA_ROTEIRO);
    Aplicacao app(ambiente);
    app.KoCliSiTef.TEFCliSiTef().SetParametrosAdicionais(caso.linhas);
    app.KoCliSiTef.SetCNPJLoja(caso.cnpjLoja);
    app.KoCliSiTef.SetCNPJQuirena(caso.cnpjQuirena);
    app.KoCliSiTef.Inicializar(gpCliSiTef);
    EXPECT_THAT(Chamadas(ambiente, "configura"),
                ElementsAre("127.0.0.1|00000000|SE000001|0|" + caso.parametros));
  }
}

TEST(CliSiTefInicializacao, AnInitialisedGatewayIsNotInitialisedAgain) {
  Ambiente ambiente(BIBLIOTECA_ROTEIRO);
  Aplicacao app(ambiente);
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  const std::string log = ambiente.Log();
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  app.KoCliSiTef.TEFCliSiTef().SetInicializado(true);
  EXPECT_EQ(Chamadas(ambiente, "configura").size(), 1u);
  EXPECT_EQ(ambiente.Log(), log);
}

TEST(CliSiTefServicos, DirectServicesPassTheirArgumentsToTheLibrary) {
  Ambiente ambiente(BIBLIOTECA_ROTEIRO);
  Aplicacao app(ambiente);
  app.KoCliSiTef.Inicializar(gpCliSiTef);
  TKoCliSiTefCliSiTef& gateway = app.KoCliSiTef.TEFCliSiTef();
  EXPECT_EQ(gateway.ObtemQuantidadeTransacoesPendentes(*platform::TryEncodeDate(2024, 12, 25), "123"),
            7);
  EXPECT_EQ(gateway.DefineMensagemPermanentePinPad("Olá"), 0);
  EXPECT_THAT(Chamadas(ambiente, "pendentes"), ElementsAre("20241225|123"));
  EXPECT_THAT(Chamadas(ambiente, "mensagem"), ElementsAre("Ol\\xE1"));
}

// A gateway over the stand-in library, initialised.
class Operacoes : public ComponenteNaBiblioteca {
 protected:
  Operacoes() : ComponenteNaBiblioteca(BIBLIOTECA_ROTEIRO) {}
  void SetUp() override { Inicializa(); }
  void Roteiro(const std::vector<std::string>& linhas) {
    std::string texto;
    for (const std::string& linha : linhas) texto += linha + "\n";
    ambiente.Escreve("CliSiTefRoteiro.txt", texto);
  }
  std::string PreDefinida(int campo) const {
    const auto p = g.Respostas().find(campo);
    return p == g.Respostas().end() ? "<nenhuma>" : platform::FromAnsi(p->second);
  }
};

TEST_F(Operacoes, EachOperationStartsItsFunctionWithItsHeaderAndRestrictions) {
  struct Caso {
    const char* restricoesDoGateway;
    std::function<void()> operacao;
    std::string inicio;  // the recorded start: function|amount|document|date|time|operator|restr.
  };
  const std::vector<Caso> casos = {
      {"", [&] { k.CRT(12.5, "02", "1", 0, "", "", "", "00"); },
       "0|12,50|37815|20241225|103015|OPERADOR|[10];"},
      {"{X=1}", [&] { k.CRT(12.5, "02", "1", 0, "", "", "", "00"); },
       "0|12,50|37815|20241225|103015|OPERADOR|{X=1}"},
      {"", [&] { k.CHQ(3, "02", "1", "", 'F', "", 0, "", "", "", "", "", "", "", ""); },
       "1|3,00|37815|20241225|103015|OPERADOR|[15;25]"},
      {"{X=1}", [&] { k.ATV(gpCliSiTef); }, "111|0,00|37815|20241225|103015|OPERADOR|"},
      {"", [&] { k.ADM(gpCliSiTef); }, "110|0,00|37815|20241225|103015|OPERADOR|"},
      {"{X=1}", [&] { k.ADM(gpCliSiTef); }, "110|0,00|37815|20241225|103015|OPERADOR|{X=1}"},
      {"{X=1}", [&] { k.CNC("REDE", "1", 45000, 5); }, "200|0,00|37815|20241225|103015|OPERADOR|"},
  };
  for (const Caso& caso : casos) {
    ambiente.Escreve("CliSiTefChamadas.txt", "");
    Roteiro({"inicia -2"});
    g.SetRestricoes(caso.restricoesDoGateway);
    caso.operacao();
    EXPECT_THAT(Chamadas(ambiente, "inicia"), ElementsAre(caso.inicio));
    EXPECT_THAT(app.Eventos, ::testing::Contains("OnExibeMsg opmExcept Operação cancelada pelo operador"));
  }
  EXPECT_THAT(ambiente.Log(),
              HasSubstr(" - *** IniciaFuncaoSiTefInterativo. Modalidade: 0 Valor: 12,50 Documento: "
                        "37815 Data: 20241225 Hora: 103015 Operador: OPERADOR Restricoes: [10];\r\n"));
}

TEST_F(Operacoes, AnAmountTheCheckRefusesNeverReachesTheLibrary) {
  EXPECT_EQ(Falha([&] { k.CRT(0.004, "02", "1", 0, "", "", "", "00"); }), "Valor inválido");
  EXPECT_TRUE(Chamadas(ambiente, "inicia").empty());
}

TEST_F(Operacoes, PresetAnswersOfCRTCHQAndCNC) {
  Roteiro({"inicia -2"});
  g.SetOperacaoCRT(201);
  k.CRT(12.5, "02", "1", 0, "", "", "", "00");
  EXPECT_EQ(PreDefinida(146), "12,50");
  EXPECT_EQ(PreDefinida(147), "12,50");

  const platform::TDateTime natal = *platform::TryEncodeDate(2024, 12, 25);
  Roteiro({"inicia -2"});
  k.CNC("REDE", "000123", natal, 12.34);
  EXPECT_EQ(PreDefinida(515), "25122024");
  EXPECT_EQ(PreDefinida(516), "000123");
  EXPECT_EQ(PreDefinida(146), "12,34");

  struct Cheque {
    std::string cmc7;
    char pessoa;
    std::string documento;
    platform::TDateTime data;
    std::vector<std::string> partes;  // compensation, bank, branch, digit, account, digit, cheque, digit
    std::string c517, c501, c502, c506;
  };
  const std::vector<Cheque> cheques = {
      {"", 'F', "", 0, {"", "", "", "", "", "", "", ""}, "0:" + std::string(29, '0'), "0",
       "<nenhuma>", "<nenhuma>"},
      {"", 'J', " 12.345.678/0001-90 ", natal, {"18", "1", "1234", "5", "123456", "7", "42", "9"},
       "0:01800112345000012345670000429", "1", "12345678000190", "25122024"},
      {"123456789", 'F', "", 0, {"1234", "12345", "", "", "", "", "", ""}, "1:123456789", "0",
       "<nenhuma>", "<nenhuma>"},
  };
  for (const Cheque& c : cheques) {
    Roteiro({"inicia -2"});
    // Pre-set answers stay from an operation that is never finalised: start from none.
    k.CNF("", "", "", "1");
    k.CHQ(10, "02", "1", c.cmc7, c.pessoa, c.documento, c.data, c.partes[1], c.partes[2],
          c.partes[3], c.partes[4], c.partes[5], c.partes[6], c.partes[7], c.partes[0]);
    EXPECT_EQ(PreDefinida(517), c.c517);
    EXPECT_EQ(PreDefinida(501), c.c501);
    EXPECT_EQ(PreDefinida(502), c.c502);
    EXPECT_EQ(PreDefinida(506), c.c506);
  }
}

TEST_F(Operacoes, ASecondStartWhileADialogueRunsIsRefused) {
  Roteiro({"continua 10000 1 -1 0 0 Aguarde"});
  std::string erro;
  app.AoEvento = [&](const std::string& evento) {
    if (evento.rfind("OnExibeMsg opmExibirMsgOperador", 0) == 0 && erro.empty()) {
      erro = Falha([&] { k.CRT(1, "02", "1", 0, "", "", "", "00"); });
    }
  };
  k.CRT(1, "02", "1", 0, "", "", "", "00");
  EXPECT_EQ(erro, "Requisição anterior não concluida");
  EXPECT_EQ(Chamadas(ambiente, "inicia").size(), 1u);
  EXPECT_FALSE(g.AguardandoResposta());
}

// A dialogue that ends approved with a receipt, and whose copy is left pending (not printed).
class Finalizacao : public Operacoes {
 protected:
  void AprovaComComprovante(const std::vector<std::string>& extras = {}) {
    k.SetAutoFinalizarCupom(false);
    std::vector<std::string> roteiro = {"continua 10000 0 121 0 0 VIA CLIENTE\\nlinha 2",
                                        "continua 10000 0 133 0 0 000042"};
    roteiro.insert(roteiro.end(), extras.begin(), extras.end());
    roteiro.push_back("continua 0 0 -1 0 0");
    Roteiro(roteiro);
    ASSERT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00"));
    k.RespostasPendentes().Clear();
    app.Eventos.clear();
  }
};

TEST_F(Finalizacao, AReceiptImageLetsThePrintingHandlerDecide) {
  struct Caso {
    bool confirma;
    int32_t retornoImpressao;
    std::string finaliza;
    bool naoEfetuada;
  };
  const std::vector<Caso> casos = {
      {true, 1, "1", false},
      {true, -1, "1", false},  // a handler that leaves the value as it was confirms
      {true, 0, "0", true},
      {false, 1, "1", false},  // the printed receipt wins over the request to undo
      {false, 0, "0", true},
  };
  AprovaComComprovante();
  for (const Caso& caso : casos) {
    ambiente.Escreve("CliSiTefChamadas.txt", "");
    app.Eventos.clear();
    app.RetornoImpressao = caso.retornoImpressao;
    if (caso.confirma) {
      k.CNF("REDE", "000042", "", "37815");
    } else {
      k.NCN("REDE", "000042", "", 10, "37815");
    }
    EXPECT_THAT(Chamadas(ambiente, "finaliza"),
                ElementsAre(caso.finaliza + "|37815|20241225|103015"));
    EXPECT_EQ(app.Conta("OnComandaImpressao"), 1);
    EXPECT_EQ(app.Conta("OnExibeMsg opmOK Transação \"TEF\" não efetuada."), caso.naoEfetuada ? 1 : 0);
  }
  EXPECT_THAT(ambiente.Log(), HasSubstr(" - *** FinalizaTransacaoSiTefInterativo -> Cancelamento: "
                                        "SIM Documento: 37815 Data: 20241225 Hora: 103015\r\n"));
}

TEST_F(Finalizacao, AReprintOrAConfirmedStartSendsNothing) {
  AprovaComComprovante({"continua 10000 0 56 0 0 000001"});
  k.CNF("", "", "", "37815");
  EXPECT_TRUE(Chamadas(ambiente, "finaliza").empty());
  EXPECT_TRUE(app.Eventos.empty());

  AprovaComComprovante();
  k.SetTransacaoConfirmada(true);
  k.NCN("", "", "", 0, "37815");
  EXPECT_TRUE(Chamadas(ambiente, "finaliza").empty());
  EXPECT_THAT(app.Eventos, ElementsAre("OnExibeMsg opmOK Transação \"TEF\" não efetuada."));
  EXPECT_TRUE(g.Respostas().empty());
}

TEST_F(Operacoes, ApprovedPaymentWithoutAutomaticFinishOnlyKeepsItsBackupAndPendingCopy) {
  k.SetAutoFinalizarCupom(false);
  Roteiro({"continua 10000 0 121 0 0 VIA", "continua 0 0 -1 0 0"});
  EXPECT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00"));
  ASSERT_EQ(k.RespostasPendentes().Count(), 1);
  EXPECT_EQ(k.RespostasPendentes().GetObject(0).IndiceFPG_ECF(), "02");
  EXPECT_EQ(k.RespostasPendentes().GetObject(0).ArqBackup(), ambiente.Backup(1));
  EXPECT_THAT(ambiente.Backups(), ElementsAre("KoCliSiTef_CliSiTef_001.tef"));
  EXPECT_TRUE(Chamadas(ambiente, "finaliza").empty());
  EXPECT_EQ(app.Conta("OnComandaECF"), 0);
}

TEST_F(Operacoes, AnApprovedPaymentWithoutAReceiptImageIsConfirmedInTheLibrary) {
  // No receipt image has been seen in this process: the payment is reported approved all the
  // same, so the library must not be left to undo it.
  Roteiro({"continua 10000 0 133 0 0 000042", "continua 0 0 -1 0 0"});
  ASSERT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00"));
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("1|37815|20241225|103015"));
  EXPECT_EQ(app.Conta("OnDepoisConfirmarTransacoes 1"), 1);
  EXPECT_TRUE(ambiente.Backups().empty());
}

TEST_F(Operacoes, TheAmountChargedIsTheAmountRecordedRoundedHalfAwayFromZero) {
  struct Caso {
    double valor;
    std::string texto;  // as the library receives it
    int64_t centavos;   // as the record keeps it
  };
  const std::vector<Caso> casos = {
      {10.125, "10,13", 1013},
      {10.135, "10,14", 1014},
      {10.124, "10,12", 1012},
      {0.005, "0,01", 1},
  };
  k.SetAutoFinalizarCupom(false);
  for (const Caso& caso : casos) {
    ambiente.Escreve("CliSiTefChamadas.txt", "");
    Roteiro({"continua 0 0 -1 0 0"});
    ASSERT_TRUE(k.CRT(caso.valor, "02", "1", 0, "", "", "", "00")) << caso.texto;
    const std::vector<std::string> inicio = Chamadas(ambiente, "inicia");
    ASSERT_EQ(inicio.size(), 1u);
    EXPECT_EQ(inicio[0].substr(0, inicio[0].find('|', 2)), "0|" + caso.texto);
    ASSERT_EQ(k.RespostasPendentes().Count(), 1);
    EXPECT_EQ(k.RespostasPendentes().GetObject(0).ValorTotal(),
              platform::Currency::FromCents(caso.centavos))
        << caso.texto;
    k.RespostasPendentes().Clear();
  }
}

TEST_F(Operacoes, AutomaticPaymentRegistrationRegistersBeforePrinting) {
  k.SetAutoEfetuarPagamento(true);
  Roteiro({"continua 10000 0 121 0 0 VIA", "continua 0 0 -1 0 0"});
  EXPECT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00"));
  EXPECT_EQ(app.Filtra({"OnComandaECFPagamento", "OnComandaECFAbre", "OnDepois"}),
            (std::vector<std::string>{"OnComandaECFPagamento 02",
                                      "OnComandaECFAbreVinculado 37815 02 10,00",
                                      "OnDepoisConfirmarTransacoes 1"}));
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("1|37815|20241225|103015"));
}

TEST_F(Operacoes, AFailedPaymentRegistrationDeclinedReversesThePayment) {
  k.SetAutoEfetuarPagamento(true);
  k.OnComandaECFPagamento = [](const std::string&, platform::Currency, int32_t& r) { r = 0; };
  app.Respostas = {7};
  Roteiro({"continua 10000 0 121 0 0 VIA", "continua 0 0 -1 0 0"});
  k.CRT(10, "02", "1", 0, "", "", "", "00");
  EXPECT_EQ(app.Filtra({"OnComandaECF opeCancelaCupom", "OnAntes", "OnDepois"}),
            (std::vector<std::string>{"OnComandaECF opeCancelaCupom", "OnAntesCancelarTransacao",
                                      "OnDepoisCancelarTransacoes 1"}));
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("0|37815|20241225|103015"));
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

}  // namespace
}  // namespace kelvora::tef
