// The service's compact JSON writer on the largest message it sends: the "result" of an approved
// payment with both receipt copies, whose accented receipt lines exercise the \u escapes.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "protocol/Json.h"

namespace kelvora::bench {
namespace {

using protocol::Json;

// One receipt copy of 38 lines, as the simulator prints them (accented, with a masked card).
Json ReceiptLines(int copy) {
  Json lines = Json::array();
  lines.push_back("     SIMULAÇÃO - SEM VALOR FISCAL     ");
  lines.push_back("          COMPROVANTE DE DÉBITO       ");
  lines.push_back(copy == 1 ? "            VIA DO CLIENTE            "
                            : "         VIA DO ESTABELECIMENTO       ");
  for (int i = 0; i < 32; ++i) {
    lines.push_back("LINHA " + std::to_string(i) + " CARTÃO 476173******0119 R$ 25,90 AUT 123456");
  }
  lines.push_back("   TRANSAÇÃO AUTORIZADA MEDIANTE SENHA ");
  lines.push_back("     SIMULAÇÃO - SEM VALOR FISCAL     ");
  lines.push_back("");
  return Json::object({{"copy_number", copy}, {"data", std::move(lines)}});
}

// The "result" message of an approved debit as the data module builds it, members in its order.
Json ResultMessage() {
  Json element = Json::object();
  element["sale_id"] = 4821;
  element["operation"] = "debit";
  element["card_number"] = "476173******0119";
  element["operator"] = "REDE";
  element["payer_name"] = "João da Silva";
  element["institution"] = "VISA ELECTRON";
  element["payment_method_code"] = "0100";
  element["payment_method_description"] = "Débito à vista";
  element["hash"] = "A1B2C3D4E5F6";
  element["nsu_code"] = "000123";
  element["authorization_code"] = "123456";
  element["establishment_code"] = "123456";
  element["number_of_installments"] = 0;
  element["transaction_value"] = 25.9;
  element["transaction_date_time"] = "2025-01-05T13:30:00Z";
  element["gateway"] = "Software Express";
  element["receipt"] = Json::array({ReceiptLines(1), ReceiptLines(2)});
  element["payment_id"] = "98765";
  element["company_id"] = 7;
  Json message = Json::object();
  message["type"] = "result";
  message["status"] = "approved";
  message["message"] = "Transação TEF concluída com sucesso.";
  message["transaction_data"] = Json::array({std::move(element)});
  return message;
}

void BM_WriteJsonResult(benchmark::State& state) {
  const Json message = ResultMessage();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = protocol::WriteJson(message);
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.counters["text_bytes"] = static_cast<double>(bytes);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteJsonResult);

// Reading the "/version" request as the routing does: the parse (first member wins) and the three
// members it looks up.
void BM_ParseVersionRequest(benchmark::State& state) {
  const std::string request = R"({"route":"/version","type":"version","category":"service_exe"})";
  for (auto _ : state) {
    const std::optional<Json> parsed = protocol::ParseJson(request);
    std::string route = protocol::GetRequiredField(*parsed, "route");
    std::string type = protocol::GetRequiredField(*parsed, "type");
    std::string category = protocol::GetRequiredField(*parsed, "category");
    benchmark::DoNotOptimize(route);
    benchmark::DoNotOptimize(type);
    benchmark::DoNotOptimize(category);
  }
}
BENCHMARK(BM_ParseVersionRequest);

// An object of n members, as a hostile frame may carry: the time per member must stay flat as n
// grows (each member once looked for among all earlier ones, which made a 16 MiB frame cost hours).
void BM_ParseObjectOfManyMembers(benchmark::State& state) {
  const auto members = static_cast<int>(state.range(0));
  std::string text = "{";
  for (int i = 0; i < members; ++i) text += (i > 0 ? ",\"m" : "\"m") + std::to_string(i) + "\":1";
  text += "}";
  for (auto _ : state) {
    std::optional<Json> parsed = protocol::ParseJson(text);
    benchmark::DoNotOptimize(parsed);
  }
  state.SetComplexityN(members);
  state.counters["ns_per_member"] = benchmark::Counter(
      static_cast<double>(members), benchmark::Counter::kIsIterationInvariantRate |
                                        benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseObjectOfManyMembers)->RangeMultiplier(10)->Range(100, 100000)->Complexity();

// The "/version" reply, the message the load tool's round trips carry.
void BM_WriteJsonVersionReply(benchmark::State& state) {
  Json reply = Json::object();
  reply["type"] = "version";
  reply["category"] = "service_exe";
  reply["version"] = "1.0.0.4";
  for (auto _ : state) {
    std::string text = protocol::WriteJson(reply);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_WriteJsonVersionReply);

}  // namespace
}  // namespace kelvora::bench
