// Verification of a session token (HS256) as "/session/start" receives it from the sales system.
#include <benchmark/benchmark.h>

#include <string>

#include "tokens/Jose.h"

namespace kelvora::bench {
namespace {

using protocol::Json;

// A session token with the claims a sales system sends, signed under the service's key.
std::string SessionToken(const tokens::TJWK& key) {
  tokens::TJWT token;
  token.Claims = Json::object({{"secctional_code", "12"},
                               {"ip_address", "127.0.0.1"},
                               {"store_code", "00000001"},
                               {"additional_parameters", "[ParmsClient=1];"},
                               {"operator", "CAIXA01"},
                               {"sale_id", "4821"},
                               {"company_id", "7"},
                               {"callback_url", "http://127.0.0.1:9/"}});
  return tokens::SignToken(key, tokens::TJOSEAlgorithm::HS256, token);
}

void BM_VerifyHS256(benchmark::State& state) {
  const tokens::TJWK key("C7Wvvi7x4WTLZzwBQnB5thxer4DRFORi");
  const std::string compact = SessionToken(key);
  for (auto _ : state) {
    auto token = tokens::TJOSE::Verify(key, compact);
    if (!token || !token->Verified) state.SkipWithError("the token did not verify");
    benchmark::DoNotOptimize(token);
  }
}
BENCHMARK(BM_VerifyHS256);

}  // namespace
}  // namespace kelvora::bench
