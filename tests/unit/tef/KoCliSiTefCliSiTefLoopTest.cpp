// Tests of the interactive dialogue: every command of the library, the answers the gateway gives
// by itself, the buffer and the final statuses, driven by the scripted stand-in library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "TefTestSupport.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::tef {
namespace {

using testing::ComponenteNaBiblioteca;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// One call of ContinuaFuncaoSiTefInterativo as the stand-in recorded it.
struct Chamada {
  int continua;
  std::string buffer;  // escaped as \xHH outside printable ASCII
  size_t tamanho;      // length of the answer in the buffer
};

class Dialogo : public ComponenteNaBiblioteca {
 protected:
  Dialogo() : ComponenteNaBiblioteca(BIBLIOTECA_ROTEIRO) {}
  void SetUp() override { Inicializa(); }

  // Runs a card sale whose dialogue is the given commands ("<status> <command> <field> <min>
  // <max> <data>") and then ends as cancelled (-2), so that only the dialogue itself runs.
  // Returns the calls the library received.
  std::vector<Chamada> Executa(const std::vector<std::string>& comandos,
                               const std::string& QtdParcela = "00",
                               const std::string& NumeroCartao = "", const std::string& CVV = "") {
    std::string roteiro;
    for (const std::string& c : comandos) roteiro += "continua " + c + "\n";
    roteiro += "continua -2 0 -1 0 0\n";
    ambiente.Escreve("CliSiTefRoteiro.txt", roteiro);
    ambiente.Escreve("CliSiTefChamadas.txt", "");
    k.CRT(12.5, "02", "1", 0, NumeroCartao, "", CVV, QtdParcela);
    return Chamadas();
  }

  std::vector<Chamada> Chamadas() const {
    std::vector<Chamada> chamadas;
    for (const std::string& linha : ambiente.Linhas("CliSiTefChamadas.txt")) {
      if (linha.rfind("continua|", 0) != 0) continue;
      const size_t a = linha.find('|', 9);
      const size_t b = linha.find('|', a + 1);
      const size_t c = linha.find('|', b + 1);
      chamadas.push_back({std::stoi(linha.substr(9, a - 9)), linha.substr(a + 1, b - a - 1),
                          std::stoul(linha.substr(c + 1))});
    }
    return chamadas;
  }

  // The answer the library got for command n (the buffer of call n + 1, n counting from 0).
  static std::string Resposta(const std::vector<Chamada>& chamadas, size_t n) {
    return chamadas.at(n + 1).buffer;
  }

  std::string Campo(int campo, int sequencia = 0) {
    const TKoCliSiTefArquivo& c = g.Resp().Conteudo();
    const int linha = c.EncontraChave(MontaChave(campo, sequencia));
    return linha < 0 ? "<nenhum>" : platform::FromAnsi(c.GetLinha(linha).Informacao().AsString());
  }
};

TEST_F(Dialogo, TheFirstCallGoesWithContinueZeroAndAnEmptyBuffer) {
  const auto chamadas = Executa({});
  ASSERT_EQ(chamadas.size(), 1u);
  EXPECT_EQ(chamadas[0].continua, 0);
  EXPECT_EQ(chamadas[0].buffer, "");
  EXPECT_THAT(ambiente.Linhas("CliSiTefChamadas.txt"), Contains("continua|0||20001|0"));
  EXPECT_THAT(ambiente.Log(),
              HasSubstr("ContinuaFuncaoSiTefInterativo, Chamando: Continua = 0 Buffer = \r\n"));
  EXPECT_THAT(ambiente.Log(), HasSubstr("ContinuaFuncaoSiTefInterativo, Retornos: STS = -2 "
                                        "ProximoComando = 0 TipoCampo = -1 Buffer =  Tam.Min = 0 "
                                        "Tam.Max = 0\r\n"));
  EXPECT_THAT(ambiente.Log(),
              HasSubstr("*** ContinuaFuncaoSiTefInterativo, Finalizando: STS = -2\r\n"));
  EXPECT_FALSE(g.AguardandoResposta());
}

TEST_F(Dialogo, AYesNoQuestionIsAnsweredZeroForYesAndOneForNo) {
  for (const auto& [modal, resposta] :
       std::vector<std::pair<int, std::string>>{{6, "0"}, {7, "1"}}) {
    app.Eventos.clear();
    app.Respostas = {modal};
    const auto chamadas = Executa({"10000 20 -1 0 0", "10000 20 -1 0 0 Confirma o valor?"});
    EXPECT_EQ(Resposta(chamadas, 0), resposta);
    EXPECT_EQ(Resposta(chamadas, 1), "0");  // the queue is empty: yes
    EXPECT_EQ(app.Filtra({"OnExibeMsg opmYesNo"}),
              (std::vector<std::string>{"OnExibeMsg opmYesNo CONFIRMA ?",
                                        "OnExibeMsg opmYesNo Confirma o valor?"}));
  }
}

TEST_F(Dialogo, AMenuShowsItsOptionsAndSendsTheChosenCode) {
  struct Caso {
    std::function<void(int32_t&, bool&)> escolha;
    int continua;
    std::string resposta;
  };
  const std::vector<Caso> casos = {
      {[](int32_t& i, bool&) { i = 0; }, 0, "1"},
      {[](int32_t& i, bool&) { i = 1; }, 0, "2"},
      {[](int32_t& i, bool&) { i = 2; }, 0, "33"},
      {[](int32_t& i, bool&) { i = 3; }, 0, ""},   // a line without ":" has no code
      {[](int32_t&, bool&) {}, -1, ""},            // left without a choice: abort
      {[](int32_t& i, bool&) { i = 4; }, -1, ""},  // outside the list: abort
      {[](int32_t& i, bool& v) {
         i = 0;
         v = true;
       },
       1, ""},  // going back wins
  };
  for (const Caso& caso : casos) {
    std::vector<std::string> vistas;
    std::string titulo;
    k.OnExibeMenu = [&](const std::string& t, const std::vector<std::string>& opcoes, int32_t& item,
                        bool& voltar) {
      titulo = t;
      vistas = opcoes;
      EXPECT_EQ(item, -1);
      EXPECT_FALSE(voltar);
      caso.escolha(item, voltar);
    };
    const auto chamadas = Executa(
        {"10000 4 -1 0 0 Forma de pagamento", "10000 21 -1 1 2 1:Debito;2:Credito;33:Pix;Outro;"});
    EXPECT_EQ(titulo, "Forma de pagamento");
    EXPECT_THAT(vistas, ElementsAre("1:Debito", "2:Credito", "33:Pix", "Outro"));
    EXPECT_EQ(chamadas.at(2).continua, caso.continua);
    EXPECT_EQ(Resposta(chamadas, 1), caso.resposta);
  }
}

TEST_F(Dialogo, SomeMenusOfDebitAndCreditSalesAreAnsweredWithoutShowingThem) {
  struct Caso {
    int operacao;
    std::string menu;
    std::string parcelas;
    std::string resposta;  // "<menu>" when the menu must be shown
  };
  const std::vector<Caso> casos = {
      {2, "1:Magnetico/Chip;2:Digitado;", "00", "1"},
      {2, "1:VISA ELECTRON;2:VISA;", "00", "1"},
      {2, "1:A Vista;2:Parcelado;", "03", "1"},
      {2, "1:Debito;2:Credito;", "00", "<menu>"},
      {3, "1:Magnetico/Chip;2:Digitado;", "00", "1"},
      {3, "1:A Vista;2:Parcelado;", "03", "2"},
      {3, "1:A Vista;2:Parcelado;", "01", "1"},
      {3, "1:VISA ELECTRON;2:VISA;", "00", "<menu>"},
      {0, "1:Magnetico/Chip;2:Digitado;", "00", "<menu>"},
  };
  for (const Caso& caso : casos) {
    g.SetOperacaoCRT(caso.operacao);
    app.Eventos.clear();
    app.Menus = {"2:Digitado"};
    const auto chamadas = Executa({"10000 21 -1 1 1 " + caso.menu}, caso.parcelas);
    if (caso.resposta == "<menu>") {
      EXPECT_EQ(app.Conta("OnExibeMenu"), 1) << caso.operacao << " " << caso.menu;
    } else {
      EXPECT_EQ(app.Conta("OnExibeMenu"), 0) << caso.operacao << " " << caso.menu;
      EXPECT_EQ(Resposta(chamadas, 0), caso.resposta) << caso.operacao << " " << caso.menu;
    }
  }
}

TEST_F(Dialogo, AMessageThatWaitsForAKeyGoesBackAndRemovesTheMessages) {
  struct Caso {
    std::string texto;
    std::string mostrado;  // "" when nothing is shown
  };
  const std::vector<Caso> casos = {
      {"Transacao ja efetuada",
       "OnExibeMsg opmOK Transação já efetuada no sitef\r\nImprima o ultimo comprovante de "
       "pagamento e informe o pagamento manual."},
      {"Unauthorized", "OnExibeMsg opmExcept Unauthorized"},
      {"Retire o cartao", ""},
      {"", ""},
  };
  for (const Caso& caso : casos) {
    app.Eventos.clear();
    const auto chamadas = Executa({"10000 22 -1 0 0 " + caso.texto});
    EXPECT_EQ(chamadas.at(1).continua, 1) << caso.texto;
    const auto exibidas =
        app.Filtra({"OnExibeMsg opmOK", "OnExibeMsg opmExcept Unauth", "OnExibeMsg opmRemover"});
    std::vector<std::string> esperadas;
    if (!caso.mostrado.empty()) esperadas.push_back(caso.mostrado);
    esperadas.push_back("OnExibeMsg opmRemoverMsgOperador ");
    esperadas.push_back("OnExibeMsg opmRemoverMsgCliente ");
    EXPECT_EQ(exibidas, esperadas) << caso.texto;
  }
}

TEST_F(Dialogo, TheInterruptionCheckAbortsWhenTheApplicationSaysSo) {
  app.InterromperNaEspera = 2;
  const auto chamadas = Executa({"10000 23 -1 0 0", "10000 23 -1 0 0"});
  EXPECT_EQ(app.Filtra({"OnAguardaResp"}),
            (std::vector<std::string>{"OnAguardaResp 23", "OnAguardaResp 23"}));
  EXPECT_EQ(chamadas.at(1).continua, 0);
  EXPECT_EQ(chamadas.at(2).continua, -1);
}

TEST_F(Dialogo, MessagesTitlesAndQRCodes) {
  Executa({"10000 1 -1 0 0 Linha 1@Linha 2", "10000 2 -1 0 0 Cliente/nlinha",
           "10000 3 -1 0 0 Ambos", "10000 11 -1 0 0", "10000 12 -1 0 0", "10000 13 -1 0 0",
           "10000 50 584 0 0 00020101021226", "10000 50 1 0 0 ignorado",
           "10000 52 4128 0 0 QR@code", "10000 52 1 0 0 Pague", "10000 0 732 0 0 Aviso@x",
           "10000 99 -1 0 0 desconhecido"});
  EXPECT_EQ(app.Filtra({"OnExibeMsg", "OnExibeQRCode"}),
            (std::vector<std::string>{
                "OnExibeMsg opmExibirMsgOperador Linha 1\r\nLinha 2",
                "OnExibeMsg opmExibirMsgCliente Cliente\r\nlinha",
                "OnExibeMsg opmExibirMsgOperador Ambos",
                "OnExibeMsg opmExibirMsgCliente Ambos",
                "OnExibeMsg opmRemoverMsgOperador ",
                "OnExibeMsg opmRemoverMsgCliente ",
                "OnExibeMsg opmRemoverMsgOperador ",
                "OnExibeMsg opmRemoverMsgCliente ",
                "OnExibeQRCode 00020101021226",
                "OnExibeMsg opmQRCode QR\r\ncode",
                "OnExibeMsg opmExibirMsgOperador Pague",
                "OnExibeMsg opmExibirMsgCliente Pague",
                "OnExibeMsg opmExibirMsgOperador Aviso\r\nx",
                "OnExibeMsg opmExcept Operação cancelada pelo operador",
            }));
}

TEST_F(Dialogo, ResultFieldsAreStoredAndTheFirstValueOfEachCodeIsKept) {
  Executa({"10000 0 131 0 0 00005", "10000 0 131 0 0 99999", "10000 0 133 0 0 000042",
           "10000 0 15 0 0 qualquer", "10000 0 106 0 0 carteira", "10000 0 502 0 0 12345678900",
           "10000 0 800 0 0 HASH1", "10000 0 500 0 0 Senha do supervisor",
           "10000 0 121 0 0 Via\\nCliente  "});
  EXPECT_EQ(k.CodigoRede(), "00005");
  EXPECT_EQ(k.CodigoNsu(), "000042");
  EXPECT_EQ(k.fIdDaCarteiraDigital, "carteira");
  EXPECT_EQ(k.fCPFCliente, "12345678900");
  EXPECT_EQ(g.CodigoHASH(), "HASH1");
  EXPECT_EQ(Campo(131), "99999");
  EXPECT_EQ(Campo(15), "True");
  EXPECT_EQ(Campo(121), "Via\\x0ACliente");  // trailing blanks dropped, line break escaped
  EXPECT_TRUE(g.Resp().MsgImpressao());
  EXPECT_THAT(app.Eventos, Contains("OnObterSenha Senha do supervisor"));
  // The response record is converted at the end of the dialogue.
  EXPECT_EQ(g.Resp().NSU(), "000042");
  EXPECT_EQ(g.Resp().Header(), "CRT");
  EXPECT_EQ(g.Resp().DocumentoVinculado(), "37815");
  EXPECT_EQ(g.Resp().ValorTotal(), platform::Currency::FromCents(1250));

  // The wallet and customer fields start empty in every dialogue; the codes do not.
  Executa({"10000 0 131 0 0 77777"});
  EXPECT_EQ(k.fIdDaCarteiraDigital, "");
  EXPECT_EQ(k.CodigoRede(), "00005");
}

TEST_F(Dialogo, FieldsAreAnsweredFromTheCardDataThePresetsOrTheApplication) {
  auto chamadas = Executa(
      {"10000 30 512 1 19 Numero do cartao", "10000 30 999 0 10 Outro", "10000 30 514 3 4 CVV"},
      "00", "4111111111111111", "123");
  EXPECT_EQ(Resposta(chamadas, 0), "4111111111111111");
  EXPECT_EQ(Resposta(chamadas, 1), "");
  EXPECT_EQ(Resposta(chamadas, 2), "123");
  EXPECT_EQ(app.Conta("OnObtemCampo"), 0);
  EXPECT_EQ(Campo(512), "411111******1111");
  EXPECT_EQ(Campo(514), "<nenhum>");
  // The security code is neither kept nor logged.
  EXPECT_THAT(ambiente.Log(), HasSubstr("Chamando: Continua = 0 Buffer = ***\r\n"));
  EXPECT_THAT(ambiente.Log(), Not(HasSubstr("Buffer = 123")));

  // Without card data the application is asked, with the preset answer offered.
  app.Campos = {{999, "digitado"}, {514, "321"}};
  chamadas = Executa({"10000 30 999 0 10 Outro", "10000 30 514 3 4 CVV", "10000 30 501 0 1 Tipo"});
  EXPECT_EQ(Resposta(chamadas, 0), "digitado");
  EXPECT_EQ(Resposta(chamadas, 1), "321");
  EXPECT_EQ(app.Filtra({"OnObtemCampo"}),
            (std::vector<std::string>{"OnObtemCampo 999 tcString Outro",
                                      "OnObtemCampo 514 tcSeguranca CVV"}));
  EXPECT_EQ(Campo(999), "digitado");
  EXPECT_EQ(Campo(514), "<nenhum>");
  EXPECT_EQ(Campo(501), "<nenhum>");
}

// What the page types for the card fields reaches the library as typed, but the log and the record
// show it masked: a card number as its first 6 and last 4 digits, the rest as '*', one per
// character. So does the card number the library reports.
TEST_F(Dialogo, TypedCardDataIsMaskedInTheLogAndTheRecord) {
  struct Caso {
    std::string comando;
    int campo;
    std::string digitado;
    std::string noLog;
    std::string guardado;
  };
  const std::vector<Caso> casos = {
      {"10000 30 512 13 19 Numero do cartao", 512, "4111111111111111", "411111******1111",
       "411111******1111"},
      {"10000 30 512 1 19 Numero do cartao", 512, "41111111", "********", "********"},
      {"10000 30 513 4 4 Vencimento (MMAA)", 513, "1230", "****", "****"},
      {"10000 30 514 3 4 Codigo de seguranca", 514, "987", "***", "<nenhum>"},
  };
  for (const Caso& caso : casos) {
    std::ofstream(ambiente.ArqLOG(), std::ios::trunc);
    app.Campos = {{caso.campo, caso.digitado}};
    const auto chamadas = Executa({caso.comando});
    EXPECT_EQ(Resposta(chamadas, 0), caso.digitado);
    EXPECT_THAT(ambiente.Log(), HasSubstr("Chamando: Continua = 0 Buffer = " + caso.noLog + "\r\n"))
        << caso.campo;
    EXPECT_THAT(ambiente.Log(), Not(HasSubstr("= " + caso.digitado))) << caso.campo;
    EXPECT_EQ(Campo(caso.campo), caso.guardado);
  }

  std::ofstream(ambiente.ArqLOG(), std::ios::trunc);
  Executa({"10000 0 2021 0 0 5555666677778888"});
  EXPECT_THAT(ambiente.Log(), HasSubstr("TipoCampo = 2021 Buffer = 555566******8888 "));
  EXPECT_THAT(ambiente.Log(), HasSubstr("2021-000 = 555566******8888"));
  EXPECT_THAT(ambiente.Log(), Not(HasSubstr("5555666677778888")));
  EXPECT_EQ(g.Resp().NumeroCartao(), "555566******8888");
}

// Library texts and the page's answers are logged with their control characters escaped: every
// line of the TEF log is one the component began (a timestamped line or a line of the record it
// dumps), never one forged by a line break inside a text.
TEST_F(Dialogo, ControlCharactersOfLibraryTextsAndAnswersAreEscapedInTheLog) {
  std::ofstream(ambiente.ArqLOG(), std::ios::trunc);
  app.Campos = {{999, "resposta\r\n-- 01/01 00:00:00:000 - forjada"}};
  Executa({"10000 1 -1 0 0 Aguarde\\r\\n-- 01/01 00:00:00:000 - forjada",
           "10000 30 999 0 60 Campo\\x1B[2J", "10000 0 131 0 0 REDE\\nX"});
  const std::string log = ambiente.Log();
  EXPECT_THAT(log, HasSubstr("Buffer = Aguarde\\x0D\\x0A-- 01/01 00:00:00:000 - forjada Tam.Min"));
  EXPECT_THAT(log, HasSubstr("Mensagem: Aguarde\\r\\n-- 01/01 00:00:00:000 - forjada\r\n"));
  EXPECT_THAT(log, HasSubstr("Buffer = resposta\\x0D\\x0A-- 01/01 00:00:00:000 - forjada\r\n"));
  EXPECT_THAT(log, HasSubstr("Buffer = Campo\\x1B[2J Tam.Min"));
  EXPECT_THAT(log, HasSubstr(" - 131-000 = REDE\\x0AX\r\n899-100 = CRT\r\n"));
  // std::regex rather than the matcher: on Windows the test framework's own regular expressions
  // know no groups, alternatives or counts.
  const std::regex linhaDoComponente("(-- |[0-9]{3}-[0-9]{3} = ).*");
  size_t inicio = 0;
  for (size_t fim = log.find("\r\n"); fim != std::string::npos; fim = log.find("\r\n", inicio)) {
    const std::string linha = log.substr(inicio, fim - inicio);
    EXPECT_TRUE(std::regex_match(linha, linhaDoComponente)) << linha;
    inicio = fim + 2;
  }
}

// Each call stays on one log line, from which the dialogue can be rebuilt, and card data stays out.
TEST_F(Dialogo, TheLogShowsEveryCallOnOneLineWithCardDataMasked) {
  app.Campos = {{513, "0931"}};
  Executa({"10000 0 121 0 0 Via\\nCliente \\\\ fim", "10000 0 512 0 0 4111111111111111",
           "10000 30 513 4 4 Validade"});
  const std::string log = ambiente.Log();
  EXPECT_THAT(log, HasSubstr("TipoCampo = 121 Buffer = Via\\x0ACliente \\x5C fim Tam.Min = 0"));
  EXPECT_THAT(log, HasSubstr("TipoCampo = 512 Buffer = 411111******1111 Tam.Min = 0"));
  EXPECT_THAT(log, HasSubstr("TipoCampo = 513 Buffer = Validade Tam.Min = 4"));
  EXPECT_THAT(log, HasSubstr("Chamando: Continua = 0 Buffer = ****\r\n"));
  // Nor does the record written out at the end of the dialogue show them.
  EXPECT_THAT(log, HasSubstr("512-000 = 411111******1111\r\n"));
  EXPECT_THAT(log, HasSubstr("513-000 = ****\r\n"));
  EXPECT_THAT(log, Not(HasSubstr("4111111111111111")));
  EXPECT_THAT(log, Not(HasSubstr("0931")));
}

TEST_F(Dialogo, TheNumberOfInstalmentsComesFromTheSaleOrTheApplication) {
  struct Caso {
    std::string parcelas;
    std::string resposta;
    bool pergunta;
  };
  app.Campos = {{505, "06"}};
  for (const Caso& caso : std::vector<Caso>{
           {"03", "03", false}, {"00", "06", true}, {"01", "06", true}, {"", "06", true}}) {
    app.Eventos.clear();
    const auto chamadas = Executa({"10000 30 505 1 2 Parcelas"}, caso.parcelas);
    EXPECT_EQ(Resposta(chamadas, 0), caso.resposta) << caso.parcelas;
    EXPECT_EQ(app.Conta("OnObtemCampo 505"), caso.pergunta ? 1 : 0) << caso.parcelas;
  }
  ambiente.Escreve("CliSiTefRoteiro.txt", "continua 10000 30 505 1 2 Parcelas\n");
  EXPECT_THROW(k.CRT(12.5, "02", "1", 0, "", "", "", "abc"), std::invalid_argument);
  EXPECT_FALSE(g.AguardandoResposta());
}

TEST_F(Dialogo, ACancellationAnswersTheOriginalTransactionsQuestionsByItself) {
  g.SetCancelandoTransacaoTEF(true);
  g.SetCancelandoTransacaoDATA(*platform::TryEncodeDate(2024, 12, 20));
  g.SetCancelandoTransacaoNSU("000123");
  g.SetCancelandoTransacaoVALOR(platform::Currency::FromCents(1234));
  const auto chamadas = Executa({"10000 30 515 8 8 Data", "10000 30 516 1 12 NSU",
                                 "10000 30 146 1 12 Valor", "10000 34 146 1 12 Valor"});
  EXPECT_EQ(Resposta(chamadas, 0), "20122024");
  EXPECT_EQ(Resposta(chamadas, 1), "000123");
  EXPECT_EQ(Resposta(chamadas, 2), "12,34");
  EXPECT_EQ(Resposta(chamadas, 3), "12,34");
  EXPECT_EQ(app.Conta("OnObtemCampo"), 0);
  EXPECT_EQ(Campo(515), "20122024");
  EXPECT_EQ(Campo(146), "12,34");
}

TEST_F(Dialogo, AmountsAreNormalisedOrAnsweredZeroByThemselves) {
  app.Campos = {{1, "12.5"}, {2, "abc"}, {3, "7,125"}};
  auto chamadas = Executa({"10000 34 1 1 12 Valor", "10000 34 2 1 12 Valor",
                           "10000 34 3 1 12 Valor", "10000 34 4 1 12 Forneca a taxa de embarque",
                           "10000 34 4 1 12 Forneca a taxa de servico",
                           "10000 34 4 1 12 VISA ELECTRON\\nSAQUE"});
  EXPECT_EQ(Resposta(chamadas, 0), "12,50");
  EXPECT_EQ(Resposta(chamadas, 1), "0,00");
  EXPECT_EQ(Resposta(chamadas, 2), "7,13");
  EXPECT_EQ(Resposta(chamadas, 3), "0,00");
  EXPECT_EQ(Resposta(chamadas, 4), "0,00");
  EXPECT_EQ(Resposta(chamadas, 5), "0,00");
  EXPECT_EQ(app.Conta("OnObtemCampo"), 3);
  EXPECT_EQ(Campo(1), "<nenhum>");

  k.SetFornecerTaxaDeEmbarque(true);
  app.Eventos.clear();
  app.Campos = {{4, "3,5"}};
  chamadas = Executa({"10000 34 4 1 12 Forneca a taxa de embarque"});
  EXPECT_EQ(Resposta(chamadas, 0), "3,50");
  EXPECT_THAT(app.Eventos, Contains("OnObtemCampo 4 tcCurrency Forneca a taxa de embarque"));
}

TEST_F(Dialogo, ChequesAndBarCodesAskTheirOwnEvents) {
  std::vector<std::string> cheques;
  k.OnObtemCheque = [&](const std::string& titulo, int32_t tipo, TKoCliSiTefCliSiTefOperacaoCampo,
                        platform::AnsiString& resposta, bool&, bool&) {
    cheques.push_back(titulo + " " + std::to_string(tipo));
    resposta = platform::AnsiBytes("1:CMC7");
  };
  app.Campos = {{613, "lido"}, {2000, "789"}};
  const auto chamadas = Executa({"10000 31 517 0 40 Cheque", "10000 31 613 0 40 CMC7",
                                 "10000 35 2000 0 48 Codigo de barras"});
  EXPECT_THAT(cheques, ElementsAre("Cheque 517"));
  EXPECT_EQ(Resposta(chamadas, 0), "1:CMC7");
  EXPECT_EQ(Resposta(chamadas, 1), "lido");
  EXPECT_EQ(Resposta(chamadas, 2), "789");
  EXPECT_EQ(app.Filtra({"OnObtemCampo"}),
            (std::vector<std::string>{"OnObtemCampo 613 tcCMC7 CMC7",
                                      "OnObtemCampo 2000 tcBarCode Codigo de barras"}));
}

TEST_F(Dialogo, TheBufferHoldsTwentyThousandBytesAndALongerAnswerIsRefused) {
  app.Campos = {{1, std::string(20000, 'x')}};
  auto chamadas = Executa({"10000 30 1 0 20000 Longo"});
  EXPECT_EQ(chamadas.at(1).tamanho, 20000u);

  app.Campos = {{1, std::string(20001, 'x')}};
  ambiente.Escreve("CliSiTefRoteiro.txt", "continua 10000 30 1 0 20000 Longo\n");
  ambiente.Escreve("CliSiTefChamadas.txt", "");
  try {
    k.CRT(12.5, "02", "1", 0, "", "", "", "00");
    ADD_FAILURE() << "a 20001-byte answer was accepted";
  } catch (const EKoCliSiTefErro& e) {
    EXPECT_STREQ(e.what(),
                 "Resposta de 20001 bytes não cabe no buffer do CliSiTef (máximo de 20000 bytes)");
  }
  // Nothing cut was sent: the library got no further call.
  EXPECT_EQ(Chamadas().size(), 1u);
  EXPECT_FALSE(g.AguardandoResposta());
}

TEST_F(Dialogo, AHandlerThatFailsEndsTheDialogueAtOnce) {
  k.OnExibeMenu = [](const std::string&, const std::vector<std::string>&, int32_t&, bool&) {
    throw std::runtime_error("cliente desconectado");
  };
  ambiente.Escreve("CliSiTefRoteiro.txt",
                   "continua 10000 0 133 0 0 000042\ncontinua 10000 21 -1 1 1 1:A;2:B;\n");
  EXPECT_THROW(k.CRT(12.5, "02", "1", 0, "", "", "", "00"), std::runtime_error);
  EXPECT_EQ(Chamadas().size(), 2u);
  EXPECT_FALSE(g.AguardandoResposta());
  // The record was still converted, and the log holds its fields.
  EXPECT_EQ(g.Resp().NSU(), "000042");
  EXPECT_THAT(ambiente.Log(), HasSubstr("133-000 = 000042"));
}

TEST_F(Dialogo, AFailedFinalStatusShowsItsMessage) {
  const std::vector<std::pair<int, std::string>> casos = {
      {-1, "Módulo não inicializado"},
      {-2, "Operação cancelada pelo operador"},
      {-3, "Fornecida uma modalidade inválida"},
      {-4, "Falta de memória para rodar a função"},
      {-5,
       "Não foi possivel realizar a conexão com o servidor SiTef\r\nPor favor tente mais tarde..."},
      {-6, "Operação cancelada pelo usuário"},
      {-7, "Operadora do cartão de crédito off-line (-7)"},
      {5, "Negada pelo autorizador (5)"},
  };
  for (const auto& [status, mensagem] : casos) {
    app.Eventos.clear();
    ambiente.Escreve("CliSiTefRoteiro.txt", "continua " + std::to_string(status) + " 0 -1 0 0\n");
    EXPECT_FALSE(k.CRT(12.5, "02", "1", 0, "", "", "", "00"));
    EXPECT_THAT(app.Eventos, ElementsAre("OnExibeMsg opmExcept " + mensagem));
    EXPECT_EQ(k.RespostasPendentes().Count(), 0);
  }
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_THAT(app.Eventos, Not(Contains(HasSubstr("OnComandaECF"))));
}

}  // namespace
}  // namespace kelvora::tef
