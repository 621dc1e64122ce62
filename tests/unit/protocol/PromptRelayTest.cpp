// The prompt relay driven as the component drives it: each event fired with the values the
// dialogue gives, the client's answers read from a scripted connection, the messages checked as
// they go out and the outputs as the component gets them back.
#include <chrono>

#include "TransactionFixture.h"
#include "protocol/Convert.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::protocol::testing {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kOpcoes = {"1:DEBITO", "2:CREDITO"};
const std::string kMenu =
    R"({"type":"menu","title":"Selecione","options":["1:DEBITO","2:CREDITO"],)"
    R"("can_cancel":false,"back_menu":false})";
const std::string kCollect =
    R"({"type":"collect","title":"Forneca o numero de parcelas","minimum_size":1,)"
    R"("maximum_size":2,"field_type":505,"field_operation":"string","can_cancel":false,)"
    R"("back_menu":false,"typed":true})";

Json CollectAnswer(bool typed, std::string_view response, bool back = false) {
  return Answer({{"type", "collect"},
                 {"typed", typed ? "true" : "false"},
                 {"response", response},
                 {"back_menu", back ? "true" : "false"}});
}

TEST(MenuItemIndex, MatchesTheOfferedLineTrimmedAndWithoutRegardToCase) {
  const std::vector<std::string> opcoes = {"1:DEBITO", "2:CREDITO", "3:CRÉDITO À VISTA"};
  const struct {
    std::string_view response;
    int32_t expected;
  } cases[] = {
      {"2:CREDITO", 1}, {"2:credito", 1},         {"  2:Credito ", 1},
      {"3:X", -1},      {"3:crédito à vista", 2}, {"CREDITO", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDmSitef::MenuItemIndex(opcoes, c.response), c.expected) << c.response;
  }
}

TEST_F(TransactionTest, MenuAnswersLeavingsAndCancellationConfirmations) {
  const std::string noRoute = Error("Campo route nao encontrado.");
  const struct {
    const char* name;
    std::vector<Json> answers;
    int32_t item;
    bool voltar;
    std::vector<std::string> sent;
    bool interrupted;  // the next interruption check stops the dialogue
  } cases[] = {
      {"chosen line", {MenuAnswer("2:credito")}, 1, false, {kMenu}, false},
      {"unknown line", {MenuAnswer("3:X")}, -1, false, {kMenu}, false},
      {"left, cancellation confirmed",
       {MenuAnswer(""), QuestionAnswer("Sim")},
       -1,
       false,
       {kMenu, kCancelQuestion},
       true},
      {"left, cancellation declined: the menu again",
       {MenuAnswer(""), QuestionAnswer("Não"), MenuAnswer("1:debito")},
       0,
       false,
       {kMenu, kCancelQuestion, kMenu},
       false},
      {"back, cancellation declined: going back",
       {MenuAnswer("", true), QuestionAnswer("Não")},
       -1,
       true,
       {kMenu, kCancelQuestion},
       false},
      {"back, cancellation confirmed: an abort, not a way back",
       {MenuAnswer("", true), QuestionAnswer("Sim")},
       -1,
       false,
       {kMenu, kCancelQuestion},
       true},
      {"another route: no reply and no selection",
       {Json::object({{"route", "/pinpad/status"}, {"type", "status"}})},
       -1,
       false,
       {kMenu},
       false},
      {"no route: its error, and no selection",
       {Json::object({{"type", "menu"}, {"response", "1:DEBITO"}})},
       -1,
       false,
       {kMenu, noRoute},
       false},
      {"an answer of another kind", {QuestionAnswer("Sim")}, -1, false, {kMenu}, false},
      {"a new request is dropped and the menu still waits",
       {Answer({{"type", "transaction"}, {"operation", "0"}}),
        Answer({{"type", "reprint"}, {"operation", "112"}}), MenuAnswer("1:DEBITO")},
       0,
       false,
       {kMenu},
       false},
  };
  TKoCliSiTefAccess tef = Hold();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Json& answer : c.answers) client_.Queue(answer);
    int32_t item = -1;
    bool voltar = false;
    tef->OnExibeMenu("Selecione", kOpcoes, item, voltar);
    EXPECT_EQ(item, c.item);
    EXPECT_EQ(voltar, c.voltar);
    EXPECT_EQ(client_.Take(), c.sent);
    EXPECT_EQ(client_.Unread(), 0u);
    EXPECT_EQ(Check(tef), c.interrupted);
  }
}

// The card wait allowed cancelling; the menu that follows it ends the permission and says so
// first, so a cancellation the page sent during the wait but that is read by the menu no longer
// stands: the menu takes its own answer (the page leaves a menu by answering it empty).
TEST_F(TransactionTest, ACancellationReadByAMenuAfterTheWaitNoLongerStands) {
  TKoCliSiTefAccess tef = Hold();
  tef->SetGPAtual(tef::gpCliSiTef);
  Check(tef);
  client_.Take();
  client_.Queue(Json::object({{"route", "/transaction/cancel"}, {"type", "cancellation"}}));
  client_.Queue(MenuAnswer("2:CREDITO"));
  int32_t item = -1;
  bool voltar = false;
  tef->OnExibeMenu("Selecione", kOpcoes, item, voltar);
  EXPECT_EQ(item, 1);
  EXPECT_EQ(client_.Take(),
            (std::vector<std::string>{R"({"type":"can_cancel","can_cancel":false})", kMenu}));
  EXPECT_FALSE(Check(tef));
}

TEST_F(TransactionTest, TextThatIsNotJsonEndsTheWaitAndJsonThatIsNoObjectFails) {
  TKoCliSiTefAccess tef = Hold();
  client_.Queue(std::string("não é JSON"));
  int32_t item = -1;
  bool voltar = false;
  tef->OnExibeMenu("Selecione", kOpcoes, item, voltar);
  EXPECT_EQ(item, -1);
  EXPECT_EQ(client_.Take(), std::vector<std::string>{kMenu});

  client_.Queue(std::string(R"(["/transaction"])"));
  EXPECT_THROW(tef->OnExibeMenu("Selecione", kOpcoes, item, voltar), EConvertError);
  // A connection that closes while a prompt waits ends the dialogue.
  EXPECT_THROW(tef->OnExibeMenu("Selecione", kOpcoes, item, voltar), std::runtime_error);
}

TEST_F(TransactionTest, CollectAnswersLeavingsAndCancellationConfirmations) {
  const struct {
    const char* name;
    std::vector<Json> answers;
    platform::AnsiString resposta;
    bool digitado;
    bool voltar;
    std::vector<std::string> sent;
    bool interrupted;
  } cases[] = {
      {"typed",
       {CollectAnswer(true, "03")},
       platform::AnsiBytes("03"),
       true,
       false,
       {kCollect},
       false},
      {"typed, in the library's code page",
       {CollectAnswer(true, "ação")},
       platform::AnsiBytes("a\xE7\xE3o"),
       true,
       false,
       {kCollect},
       false},
      {"going back asks nothing",
       {CollectAnswer(false, "", true)},
       {},
       true,
       true,
       {kCollect},
       false},
      {"left, cancellation confirmed: not typed",
       {CollectAnswer(false, ""), QuestionAnswer("Sim")},
       {},
       false,
       false,
       {kCollect, kCancelQuestion},
       true},
      {"left, cancellation declined: the field again",
       {CollectAnswer(false, ""), QuestionAnswer("Não"), CollectAnswer(true, "05")},
       platform::AnsiBytes("05"),
       true,
       false,
       {kCollect, kCancelQuestion, kCollect},
       false},
  };
  TKoCliSiTefAccess tef = Hold();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const Json& answer : c.answers) client_.Queue(answer);
    platform::AnsiString resposta;
    bool digitado = true;
    bool voltar = false;
    tef->OnObtemCampo("Forneca o numero de parcelas", 1, 2, 505, tef::tcString, resposta, digitado,
                      voltar);
    EXPECT_EQ(resposta, c.resposta);
    EXPECT_EQ(digitado, c.digitado);
    EXPECT_EQ(voltar, c.voltar);
    EXPECT_EQ(client_.Take(), c.sent);
    EXPECT_EQ(Check(tef), c.interrupted);
  }
}

TEST_F(TransactionTest, CollectNamesTheFieldOperationAndReadsAnswersThroughTheirText) {
  TKoCliSiTefAccess tef = Hold();
  // A JSON true and a number answer as their text forms do.
  client_.Queue(Answer({{"type", "collect"}, {"typed", true}, {"response", 123}}));
  platform::AnsiString resposta;
  bool digitado = true;
  bool voltar = true;
  tef->OnObtemCampo("CVV", 3, 4, 514, tef::tcSeguranca, resposta, digitado, voltar);
  EXPECT_EQ(resposta, platform::AnsiBytes("123"));
  EXPECT_EQ(client_.Take(),
            std::vector<std::string>{
                R"({"type":"collect","title":"CVV","minimum_size":3,"maximum_size":4,)"
                R"("field_type":514,"field_operation":"seguran\u00E7a","can_cancel":false,)"
                R"("back_menu":true,"typed":true})"});
}

TEST_F(TransactionTest, MessagesQuestionsAndConfirmationsByOperation) {
  const std::string confirmation =
      R"({"type":"confirmation","message":"Transa\u00E7\u00E3o aprovada","options":["Ok"],)"
      R"("can_cancel":false})";
  const std::string yesNo =
      R"({"type":"question","message":"Imprimir?","options":["Sim","N\u00E3o"],)"
      R"("can_cancel":false})";
  const std::string custom =
      R"({"type":"question","message":"Imprimir?","options":["Sim","N\u00E3o","Reimprimir"],)"
      R"("can_cancel":false})";
  const struct {
    tef::TKoCliSiTefOperacaoMensagem operacao;
    std::string mensagem;
    std::vector<Json> answers;
    std::vector<std::string> sent;
    int modal;  // from 5
  } cases[] = {
      {tef::opmOK, "Transação aprovada", {Answer({{"type", "confirmation"}})}, {confirmation}, 0},
      {tef::opmYesNo, "Imprimir?", {QuestionAnswer("Sim")}, {yesNo}, 6},
      {tef::opmYesNo, "Imprimir?", {QuestionAnswer("Não")}, {yesNo}, 7},
      {tef::opmYesNo, "Imprimir?", {QuestionAnswer("sim")}, {yesNo}, 5},
      {tef::opmYesNo, "Imprimir?", {MenuAnswer("Sim")}, {yesNo}, 5},
      {tef::opmYesNoCustom, "Imprimir?", {QuestionAnswer("Reimprimir")}, {custom}, 1},
      {tef::opmYesNo,
       "Imprimir?",
       {Answer({{"response", "Sim"}})},
       {yesNo, Error("Campo type nao encontrado.")},
       5},
      {tef::opmExcept,
       "Negada pelo autorizador (51)",
       {Answer({{"type", "confirmation"}})},
       {R"x({"type":"confirmation","message":"Negada pelo autorizador (51)","options":[],)x"
        R"("can_cancel":false})"},
       0},
      {tef::opmExibirMsgOperador,
       "Aguarde",
       {},
       {R"({"type":"message","message":"Aguarde","options":[],"can_cancel":false})"},
       5},
      {tef::opmRemoverMsgOperador,
       "",
       {},
       {R"({"type":"message","message":"","options":[],"can_cancel":false})"},
       5},
      {tef::opmExibirMsgCliente,
       "Insira o cartão",
       {},
       {R"({"type":"message","message":"Insira o cart\u00E3o","options":[],"can_cancel":false})"},
       5},
      {tef::opmQRCode,
       "QR",
       {},
       {R"({"type":"message","message":"QR","options":[],"can_cancel":false})"},
       5},
      {tef::opmRemoverMsgCliente, "", {}, {}, 5},
  };
  TKoCliSiTefAccess tef = Hold();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.operacao) + " " + c.mensagem);
    for (const Json& answer : c.answers) client_.Queue(answer);
    int modal = 5;
    tef->OnExibeMsg(c.operacao, c.mensagem, modal);
    EXPECT_EQ(modal, c.modal);
    EXPECT_EQ(client_.Take(), c.sent);
    EXPECT_EQ(client_.Unread(), 0u);
    // Only the client cancels a dialogue; a refusal (opmExcept) does not.
    EXPECT_FALSE(Check(tef));
  }
}

TEST_F(TransactionTest, TheConfirmationOfALostSiTefConnectionCancels) {
  TKoCliSiTefAccess tef = Hold();
  client_.Queue(Answer({{"type", "confirmation"}}));
  int modal = 0;
  tef->OnExibeMsg(tef::opmOK, "Sem conexao SiTef", modal);
  EXPECT_TRUE(Check(tef));
}

TEST_F(TransactionTest, TheFirstInterruptionCheckAllowsCancellingAndSaysSo) {
  TKoCliSiTefAccess tef = Hold();
  EXPECT_FALSE(Check(tef));
  EXPECT_TRUE(client_.Take().empty()) << "no gateway selected yet";
  tef->SetGPAtual(tef::gpCliSiTef);
  EXPECT_FALSE(Check(tef, "outro"));
  EXPECT_TRUE(client_.Take().empty());
  EXPECT_FALSE(Check(tef));
  EXPECT_FALSE(Check(tef));
  EXPECT_EQ(client_.Take(), std::vector<std::string>{R"({"type":"can_cancel","can_cancel":true})"});
}

TEST_F(TransactionTest, TheListenerTurnsACancellationIntoAnInterruptionOnlyWhenAllowed) {
  TKoCliSiTefAccess tef = Hold();
  const Json cancellation = Json::object({{"type", "cancellation"}});
  client_.Queue(cancellation);
  EXPECT_FALSE(Check(tef)) << "cancelling is not allowed yet";
  EXPECT_EQ(client_.Unread(), 0u);

  tef->SetGPAtual(tef::gpCliSiTef);
  client_.Queue(cancellation);
  EXPECT_TRUE(Check(tef));
  EXPECT_FALSE(Check(tef)) << "passed on once";
}

TEST_F(TransactionTest, AMessageTheListenerKeptAnswersOneWaitOnly) {
  TKoCliSiTefAccess tef = Hold();
  client_.Queue(QuestionAnswer("Sim"));
  EXPECT_FALSE(Check(tef));
  int modal = 0;
  tef->OnExibeMsg(tef::opmYesNo, "Imprimir?", modal);
  EXPECT_EQ(modal, 6) << "the kept answer";
  client_.Queue(QuestionAnswer("Não"));
  tef->OnExibeMsg(tef::opmYesNo, "Imprimir?", modal);
  EXPECT_EQ(modal, 7) << "a new answer, not the kept one again";
}

TEST_F(TransactionTest, AFrameTheListenerCannotReadFailsTheWaitAndFreesLaterWaits) {
  TKoCliSiTefAccess tef = Hold();
  client_.Queue(Json::object({{"route", "/transaction"}}));
  EXPECT_THROW(Check(tef), EJsonFieldMissing);
  client_.Queue(std::string("[1]"));
  EXPECT_THROW(Check(tef), EConvertError);
  client_.Queue(QuestionAnswer("Sim"));
  int modal = 0;
  tef->OnExibeMsg(tef::opmYesNo, "Imprimir?", modal);
  EXPECT_EQ(modal, 6);
}

TEST_F(TransactionTest, ACancellationRoutedFromAnotherConnectionIsLoggedAndNeverAnswered) {
  const std::string session = StartSession();
  const std::string cancel = WriteJson(Json::object(
      {{"route", "/transaction/cancel"}, {"type", "cancellation"}, {"session_uuid", session}}));
  TKoCliSiTefAccess tef = Hold();
  EXPECT_TRUE(Route(cancel).empty());
  EXPECT_FALSE(Check(tef));

  tef->SetGPAtual(tef::gpCliSiTef);
  EXPECT_FALSE(Check(tef));
  EXPECT_TRUE(Route(cancel).empty());
  EXPECT_TRUE(Check(tef));

  EXPECT_EQ(
      Route(WriteJson(Json::object({{"route", "/transaction/cancel"}, {"session_uuid", session}}))),
      std::vector<std::string>{Error("Campo type nao encontrado.")});
  const std::vector<std::string> log = LogTexts();
  const std::vector<std::string> expected = {"Entrou no cancelamento.", "Não pode cancelar",
                                             "Entrou no cancelamento.",
                                             "Setou no cancelamento = true"};
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()), expected);
}

// Another tab or page, with a session of its own, cannot stop someone else's payment; the page of
// the payment can, whether its cancellation is routed or read by a wait of the dialogue.
TEST_F(TransactionTest, OnlyTheSessionOfTheDialogueMayCancelIt) {
  const std::string own = StartSession();
  const std::string other = StartSession();
  const auto cancel = [](const std::string& session) {
    return Json::object(
        {{"route", "/transaction/cancel"}, {"type", "cancellation"}, {"session_uuid", session}});
  };
  const std::string ignored =
      "Cancelamento ignorado: a transação em andamento foi iniciada por outra sessão.";
  TKoCliSiTefAccess tef = Hold(own);
  tef->SetGPAtual(tef::gpCliSiTef);
  EXPECT_FALSE(Check(tef));  // cancelling is allowed from here on

  EXPECT_TRUE(Route(WriteJson(cancel(other))).empty());
  EXPECT_FALSE(Check(tef));
  EXPECT_EQ(LogTexts().back(), ignored);
  client_.Queue(cancel(other));
  EXPECT_FALSE(Check(tef)) << "read by the dialogue's own wait";
  EXPECT_EQ(LogTexts().back(), ignored);

  client_.Queue(Json::object({{"type", "cancellation"}}));
  EXPECT_TRUE(Check(tef)) << "a cancellation naming no session came on the dialogue's connection";
  EXPECT_TRUE(Route(WriteJson(cancel(own))).empty());
  EXPECT_TRUE(Check(tef));
}

TEST_F(TransactionTest, TheReceiptCountdownRunsThreeSecondsAndEndsWithThePlainText) {
  TKoCliSiTefAccess tef = Hold();
  const auto inicio = std::chrono::steady_clock::now();
  int modal = 0;
  tef->OnExibeMsg(tef::opmDestaqueVia, "Destaque a 1ª Via", modal);
  EXPECT_GE(std::chrono::steady_clock::now() - inicio, 3000ms);

  const auto texto = [](const std::string& message) {
    return ParseJson(message).value_or(Json::object()).value("message", std::string("?"));
  };
  const std::vector<std::string> sent = client_.Take();
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(texto(sent.front()), "Destaque a 1ª Via 2");
  EXPECT_EQ(texto(sent.back()), "Destaque a 1ª Via");
  char anterior = '2';
  for (size_t i = 0; i + 1 < sent.size(); ++i) {
    const std::string t = texto(sent[i]);
    ASSERT_EQ(t.substr(0, t.size() - 1), "Destaque a 1ª Via ");
    EXPECT_LE(t.back(), anterior);
    EXPECT_GE(t.back(), '0');
    anterior = t.back();
  }
  EXPECT_EQ(anterior, '0');
}

TEST_F(TransactionTest, TheQrCodeGoesOutAsItCame) {
  TKoCliSiTefAccess tef = Hold();
  tef->OnExibeQRCode("00020101021226");
  EXPECT_EQ(client_.Take(),
            std::vector<std::string>{R"({"type":"qrcode","data":"00020101021226"})"});
}

}  // namespace
}  // namespace kelvora::protocol::testing
