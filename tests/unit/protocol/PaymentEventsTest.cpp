// The payment events from the records of a dialogue: which event each outcome reports, with the
// NSU, amount and sale, and never the card or the payer.
#include "protocol/PaymentEvents.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ResponseRecords.h"
#include "tests/unit/service/RecordingSystemLog.h"

namespace kelvora::protocol::testing {
namespace {

using service::testing::RecordedEntries;
using service::testing::RecordedEntry;
using service::testing::RecordingSystemLog;
using Fields = std::map<std::string, std::string>;

class PaymentEvents : public ::testing::Test {
 protected:
  std::vector<RecordedEntry> Recorded() const { return entries_->Entries(); }

  std::shared_ptr<RecordedEntries> entries_ = std::make_shared<RecordedEntries>();
  service::TSystemEvents events_{std::make_unique<RecordingSystemLog>(entries_)};
};

TEST_F(PaymentEvents, EachConfirmedResponseReportsItsKindOfOutcome) {
  const struct {
    const char* what;
    TTipoTransacao tipo;
    bool pendente;
    std::string indice;
    uint32_t id;  // 0: no event
    std::string message;
  } cases[] = {
      {"payment", ttTransacao, false, "02", 300,
       "Pagamento aprovado (debit): NSU HOST1, valor 10,50, venda 4821."},
      {"cancellation", ttCancelamento, false, "02", 304,
       "Cancelamento de pagamento aprovado: NSU HOST1, valor 10,50, venda 4821."},
      {"leftover of an earlier run", ttTransacao, true, "02", 500,
       "Pagamento pendente de uma execução anterior confirmado (debit): NSU HOST1, valor 10,50, "
       "venda 4821."},
      {"reprint", ttReimpressao, false, "02", 0, ""},
      {"reprint function", ttTransacao, false, "113", 0, ""},
  };
  for (const auto& c : cases) {
    tef::TKoCliSiTefRespostasPendentes respostas;
    auto record = Record(kDebito, "1050", c.indice);
    record->SetPendente(c.pendente);
    respostas.Add(std::move(record));
    Json data = Json::array();
    data.push_back(
        TDmSitef::BuildTransactionElement(respostas.GetObject(0), 4821, "Maria", c.tipo));
    const size_t before = Recorded().size();
    ReportConfirmedPayments(events_, respostas, {0}, data);
    const auto recorded = Recorded();
    if (c.id == 0) {
      EXPECT_EQ(recorded.size(), before) << c.what;
      continue;
    }
    ASSERT_EQ(recorded.size(), before + 1) << c.what;
    const RecordedEntry& entry = recorded.back();
    EXPECT_EQ(entry.EventId, c.id) << c.what;
    EXPECT_EQ(entry.Message, c.message) << c.what;
    const std::string operation = c.tipo == ttCancelamento ? "cancellation" : "debit";
    EXPECT_EQ(
        entry.Fields,
        (Fields{
            {"NSU", "HOST1"}, {"AMOUNT", "10.50"}, {"SALE_ID", "4821"}, {"OPERATION", operation}}))
        << c.what;
  }
}

TEST_F(PaymentEvents, AnUnconfirmedPaymentBeingUndoneNamesItsNsuAndAmount) {
  ReportUndonePayment(events_, *Record(kDebito));
  const auto recorded = Recorded();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].EventName, "payment-undone");
  EXPECT_EQ(recorded[0].Message, "Desfazendo pagamento não confirmado: NSU HOST1, valor 10,50.");
  EXPECT_EQ(recorded[0].Fields, (Fields{{"NSU", "HOST1"}, {"AMOUNT", "10.50"}}));
}

TEST_F(PaymentEvents, ADialogueEndedByAnErrorIsReportedUnlessItWasAReprint) {
  ReportFailedPayment(events_, ttReimpressao, "sem papel");
  ReportFailedPayment(events_, ttCancelamento, "Erro do SiTef\r\n(-5)");
  const auto recorded = Recorded();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0].EventName, "payment-failed");
  EXPECT_EQ(recorded[0].Message, "Transação TEF interrompida por erro: Erro do SiTef\\r\\n(-5)");
  EXPECT_EQ(recorded[0].Fields, (Fields{{"REQUEST", "cancellation"}}));
}

}  // namespace
}  // namespace kelvora::protocol::testing
