// The transaction request's date reformatting and reading, and a request whose initialisation
// fails: answered with the failure, its claim on the component released, its amount kept.
#include "TransactionFixture.h"

namespace kelvora::protocol::testing {
namespace {

TEST(FormatTransactionDate, TakesTheDateAndTimeFromTheirPlaces) {
  const struct {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"2024-01-05", "05/01/2024"},
      {"2024-01-05 10:30:00", "05/01/2024 10:30:00"},
      {"2024/01/05 10.30.00", "05/01/2024 10:30:00"},  // separators are not looked at
      {"2024-01-05 10:30:00.123 -03", "05/01/2024 10:30:00"},
      {"2024-01-05 10:3", "05/01/2024 Formato de hora inválido"},
      {"2024-01-05  10:30:00", "05/01/2024 Formato de hora inválido"},
      {"2024-1-5", "Formato de data inválido"},
      {" 2024-01-05", "Formato de data inválido"},
      {"", "Formato inválido"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDmSitef::FormatTransactionDate(c.text), c.expected) << c.text;
  }
}

TEST(ParseTransactionDate, ReadsOnlyRealDatesInTheReformattedShape) {
  EXPECT_EQ(TDmSitef::ParseTransactionDate("05/01/2024"), platform::TryEncodeDate(2024, 1, 5));
  EXPECT_EQ(TDmSitef::ParseTransactionDate("05/01/2024 10:30:00"),
            platform::TryEncodeDateTime({2024, 1, 5, 10, 30, 0}));
  for (const std::string_view text :
       {"31/02/2024", "05/01/2024 24:00:00", "05/01/2024 Formato de hora inválido",
        "Formato de data inválido", "Formato inválido", "0a/01/2024", "05/01/2024 10:30:0x",
        "05/01/2024 10:30"}) {
    EXPECT_EQ(TDmSitef::ParseTransactionDate(text), std::nullopt) << text;
  }
}

TEST_F(TransactionTest, AFailedInitialisationIsAnsweredAndReleasesTheComponent) {
  const std::string session = StartSession();
  const std::string request = WriteJson(Json::object({{"route", "/transaction"},
                                                      {"session_uuid", session},
                                                      {"type", "transaction"},
                                                      {"operation", 0},
                                                      {"payer_name", "Maria"},
                                                      {"transaction_value", "5,5"}}));
  // No library in the base directory: the component cannot connect. The second request is
  // answered too, so the first one's claim was released.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Route(request), std::vector<std::string>{Error("Erro ao conectar com servidor TEF")});
  }
  TKoCliSiTefAccess tef = Hold();
  std::string subtotal;
  tef->OnInfoECF(tef::ineSubTotal, subtotal);
  EXPECT_EQ(subtotal, "05,50");
}

}  // namespace
}  // namespace kelvora::protocol::testing
