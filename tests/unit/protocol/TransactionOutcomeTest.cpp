// The outcome of a dialogue: the result elements built from response records, the UTC date-time,
// the approved result as the client and the log see it (late cancellation included), the receipt
// copies and the printer answers.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <utility>

#include "ResponseRecords.h"
#include "TransactionFixture.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tests/unit/support/ScopedTimeZone.h"

namespace kelvora::protocol::testing {
namespace {

using ::kelvora::testing::ScopedTimeZone;

const std::string kElementoDebito =
    R"({"sale_id":4821,"operation":"debit","card_number":"************1234","operator":"REDE",)"
    R"("payer_name":"Maria","institution":"00005","payment_method_code":"0100",)"
    R"("payment_method_description":"Cart\u00E3o de D\u00E9bito","hash":"HASH1",)"
    R"("nsu_code":"HOST1","authorization_code":"AUT123","establishment_code":"000000000000001",)"
    R"("number_of_installments":0,"transaction_value":10.5,)"
    R"("transaction_date_time":"2024-01-05T13:30:00Z","gateway":"Software Express",)"
    R"("receipt":[{"copy_number":1,"data":["VIA CLIENTE","OK"]},)"
    R"({"copy_number":2,"data":["VIA LOJA"]}]})";

std::string Element(const tef::TKoCliSiTefResp& record, TTipoTransacao tipo = ttTransacao) {
  return WriteJson(TDmSitef::BuildTransactionElement(record, 4821, "Maria", tipo));
}

std::vector<std::string> Keys(const std::string& element) {
  std::vector<std::string> keys;
  const Json parsed = ParseJson(element).value_or(Json::object());
  for (const auto& item : parsed.items()) keys.push_back(item.key());
  return keys;
}

TEST(TransactionDateTimeUTC, AppliesTheLocalOffsetAndReadsAGapWithTheOffsetAfterIt) {
  KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE();
  {
    const ScopedTimeZone zone("<-03>3");
    EXPECT_EQ(TDmSitef::TransactionDateTimeUTC(*platform::TryEncodeDateTime({2024, 1, 5, 10, 30})),
              "2024-01-05T13:30:00Z");
  }
  const ScopedTimeZone zone("America/New_York");
  EXPECT_EQ(
      TDmSitef::TransactionDateTimeUTC(*platform::TryEncodeDateTime({2024, 7, 1, 23, 59, 59})),
      "2024-07-02T03:59:59Z");
  // 02:30 on 10 March 2024 does not exist there: it reads as 02:30 EDT.
  EXPECT_EQ(TDmSitef::TransactionDateTimeUTC(*platform::TryEncodeDateTime({2024, 3, 10, 2, 30})),
            "2024-03-10T06:30:00Z");
}

TEST(BuildTransactionElement, ADebitCarriesTheCardAfterTheOperationAndEveryFieldInOrder) {
  KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE();
  const ScopedTimeZone zone("<-03>3");
  EXPECT_EQ(Element(*Record(kDebito)), kElementoDebito);
}

TEST(BuildTransactionElement, TheKindOfEachResponse) {
  KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE();
  const ScopedTimeZone zone("<-03>3");
  const std::vector<std::string> pix = {"sale_id",
                                        "operation",
                                        "operator",
                                        "payer_name",
                                        "institution",
                                        "payment_method_code",
                                        "payment_method_description",
                                        "hash",
                                        "nsu_code",
                                        "authorization_code",
                                        "establishment_code",
                                        "number_of_installments",
                                        "transaction_value",
                                        "transaction_date_time",
                                        "gateway",
                                        "receipt"};
  const struct {
    const char* name;
    std::unique_ptr<tef::TKoCliSiTefResp> record;
    TTipoTransacao tipo;
    std::string operation;
    bool card;
  } cases[] = {
      {"credit", Record({{100, "0202"}, {505, "3"}}), ttTransacao, "credit", true},
      {"pix", Record({{100, "9900"}}), ttTransacao, "pix", false},
      {"cancellation request", Record({{105, "20240105103000"}}), ttCancelamento, "cancellation",
       false},
      {"cancellation read back from a backup", Record({{516, "000123"}}), ttNenhum, "cancellation",
       false},
      {"cancellation of a debit", Record({{100, "0100"}, {516, "000123"}}), ttCancelamento,
       "cancellation", true},
      {"reprint function 112 outside a reprint request", Record({}, "100", "112"), ttTransacao,
       "pix", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string element = Element(*c.record, c.tipo);
    const Json parsed = ParseJson(element).value_or(Json::object());
    EXPECT_EQ(parsed.value("operation", ""), c.operation);
    std::vector<std::string> keys = pix;
    if (c.card) keys.insert(keys.begin() + 2, "card_number");
    EXPECT_EQ(Keys(element), keys);
  }
  EXPECT_EQ(ParseJson(Element(*Record({{100, "0202"}, {505, "3"}})))->at("number_of_installments"),
            3);
}

// A payment left by an earlier process and confirmed at start-up belongs to the sale its backup
// names; the payer of whatever request is running now is not its payer.
TEST(BuildTransactionElement, ALeftoverKeepsItsOwnSaleAndNoOtherPayer) {
  const struct {
    std::string documento;  // 899-105 of the backup; empty for a backup written without it
    int saleId;
  } cases[] = {{"5150", 5150}, {"", 4821}, {"lixo", 4821}};
  for (const auto& c : cases) {
    std::unique_ptr<tef::TKoCliSiTefResp> record = Record(kDebito);
    if (!c.documento.empty()) {
      record->Conteudo().GravaInformacao(899, 105, platform::AnsiBytes(c.documento));
      record->ConteudoToProperty();
    }
    record->SetPendente(true);
    const Json element = *ParseJson(Element(*record));
    EXPECT_EQ(element.at("sale_id"), c.saleId) << c.documento;
    EXPECT_EQ(element.at("payer_name"), "") << c.documento;
  }
}

TEST(BuildTransactionElement, ReprintsCarryOnlyTheSaleAndTheReceipt) {
  const std::string reprint =
      R"({"sale_id":4821,"operation":"reprint","receipt":[{"copy_number":1,"data":["2a VIA"]}]})";
  const struct {
    std::string indice;
    TTipoTransacao tipo;
  } cases[] = {
      {"112", ttReimpressao}, {"02", ttReimpressao}, {"113", ttTransacao}, {"114", ttNenhum}};
  for (const auto& c : cases) {
    EXPECT_EQ(Element(*Record({{56, "000001"}, {121, "2a VIA"}}, "100", c.indice), c.tipo), reprint)
        << c.indice;
  }
}

TEST(BuildTransactionElement, AmountsAndReceiptCopies) {
  const Json whole = TDmSitef::BuildTransactionElement(*Record({}, "10000"), 1, "", ttTransacao);
  EXPECT_NE(WriteJson(whole).find(R"("transaction_value":100,)"), std::string::npos);
  const Json oneCopy =
      TDmSitef::BuildTransactionElement(*Record({{121, "A\r\nB"}}), 1, "", ttTransacao);
  EXPECT_EQ(WriteJson(oneCopy.at("receipt")), R"([{"copy_number":1,"data":["A","B"]}])");
  const Json none = TDmSitef::BuildTransactionElement(*Record({}), 1, "", ttTransacao);
  EXPECT_EQ(WriteJson(none.at("receipt")), "[]");
}

class OutcomeTest : public TransactionTest {
 protected:
  // The dates of the expected results are written for the zone below.
  void SetUp() override { KELVORA_SKIP_WITHOUT_OWN_TIME_ZONE(); }

  // The approved result the client receives for the given records, after the sales API (which
  // cannot be reached here) has been asked.
  std::vector<std::string> Confirm(std::vector<std::unique_ptr<tef::TKoCliSiTefResp>> records,
                                   const std::string& session) {
    TKoCliSiTefAccess tef = Hold(session);
    tef::TKoCliSiTefRespostasPendentes pendentes;
    for (auto& record : records) pendentes.Add(std::move(record));
    tef->OnDepoisConfirmarTransacoes(pendentes);
    return client_.Take();
  }

  const ScopedTimeZone zone_{"<-03>3"};
};

TEST_F(OutcomeTest, TheApprovedResultCarriesTheElementsAndThePaymentIds) {
  const std::string session = StartSession();
  // A key of the installation's own: under the built-in one the report is held, never tried.
  WriteConfig("[security]\njwt_secret=Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7\n");
  std::vector<std::unique_ptr<tef::TKoCliSiTefResp>> records;
  records.push_back(Record(kDebito));
  records.push_back(Record({{100, "9900"}}));
  const std::vector<std::string> sent = Confirm(std::move(records), session);
  ASSERT_EQ(sent.size(), 1u);
  std::string first = kElementoDebito;
  first.replace(first.find(R"("Maria")"), 7, R"("")");
  first.insert(first.size() - 1, R"(,"payment_id":0,"company_id":7)");
  const std::string prefix =
      R"({"type":"result","status":"approved","message":"Transa\u00E7\u00E3o TEF conclu\u00EDda )"
      R"(com sucesso.","transaction_data":[)";
  EXPECT_EQ(sent[0].substr(0, prefix.size() + first.size()), prefix + first);
  EXPECT_EQ(Keys(WriteJson(ParseJson(sent[0])->at("transaction_data").at(1))).back(), "receipt");
  EXPECT_TRUE(LogTexts().back().starts_with("Erro ao registrar transação na API: Request Error "));
}

TEST_F(OutcomeTest, AnEmptyListIsApprovedWithoutElementsAndStillReported) {
  const std::string session = StartSession();
  WriteConfig("[security]\njwt_secret=Q2w3E4r5T6y7U8i9O0p1A2s3D4f5G6h7\n");
  EXPECT_EQ(Confirm({}, session),
            std::vector<std::string>{
                R"({"type":"result","status":"approved","message":"Transa\u00E7\u00E3o TEF )"
                R"(conclu\u00EDda com sucesso.","transaction_data":[]})"});
  EXPECT_TRUE(LogTexts().back().starts_with("Erro ao registrar transação na API: "));
}

TEST_F(OutcomeTest, ACancellationArrivingAfterTheLastCheckDoesNotUndoAConfirmedPayment) {
  const std::string session = StartSession();
  {
    TKoCliSiTefAccess tef = Hold();
    tef->SetGPAtual(tef::gpCliSiTef);
    Check(tef);
  }
  Route(WriteJson(Json::object(
      {{"route", "/transaction/cancel"}, {"type", "cancellation"}, {"session_uuid", session}})));
  client_.Take();
  std::vector<std::unique_ptr<tef::TKoCliSiTefResp>> records;
  records.push_back(Record(kDebito));
  const std::vector<std::string> sent = Confirm(std::move(records), session);
  // The permission to cancel ends with the confirmation, and the page hears so before its result.
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], R"({"type":"can_cancel","can_cancel":false})");
  EXPECT_EQ(ParseJson(sent[1])->at("status"), "approved");
  const std::vector<std::string> log = LogTexts();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Cancelamento ignorado: a transação já foi confirmada pelo SiTef."),
            log.end());
  TKoCliSiTefAccess tef = Hold();
  EXPECT_FALSE(Check(tef)) << "the cancellation was used up";
}

TEST_F(TransactionTest, EachReceiptCopyGoesToTheClientAndCountsAsPrinted) {
  TKoCliSiTefAccess tef = Hold();
  int32_t retorno = -1;
  tef->OnComandaECFImprimeVia(tef::trVinculado, 2, {"SIMULAÇÃO", "", "fim"}, retorno);
  EXPECT_EQ(retorno, 1);
  EXPECT_EQ(client_.Take(),
            std::vector<std::string>{
                R"({"type":"receipt","copy_number":2,"data":["SIMULA\u00C7\u00C3O","","fim"]})"});
  client_.Close();
  retorno = -1;
  tef->OnComandaECFImprimeVia(tef::trGerencial, 1, {"x"}, retorno);
  EXPECT_EQ(retorno, 1) << "a copy the client cannot receive still counts as printed";
}

TEST_F(TransactionTest, ThePrinterIsBusyOnlyWhileTheCliSiTefGatewayIsNotInitialised) {
  TKoCliSiTefAccess tef = Hold();
  const auto info = [&](tef::TKoCliSiTefInfoECF operacao) {
    std::string retorno = "?";
    tef->OnInfoECF(operacao, retorno);
    return retorno;
  };
  EXPECT_EQ(info(tef::ineEstadoECF), "L") << "no gateway selected";
  tef->SetGPAtual(tef::gpCliSiTef);
  EXPECT_EQ(info(tef::ineEstadoECF), "R");
  EXPECT_EQ(info(tef::ineSubTotal), "00,00");
  EXPECT_EQ(info(tef::ineTotalAPagar), "00,00");
  EXPECT_EQ(info(static_cast<tef::TKoCliSiTefInfoECF>(7)), "?");
}

}  // namespace
}  // namespace kelvora::protocol::testing
