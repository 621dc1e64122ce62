// The rules of the SiTef library's calling contract, one table of what every export accepts.
#include "Contract.h"

#include <algorithm>
#include <cstring>

#include "Results.h"
#include "Sale.h"

namespace kelvora::sim {
namespace {

// A text argument; a null pointer is never a text.
std::optional<std::string_view> textOf(const Value& v) {
  const auto* p = std::get_if<const char*>(&v);
  if (p == nullptr || *p == nullptr) return std::nullopt;
  return std::string_view(*p);
}

bool isText(const Value& v) {
  return textOf(v).has_value();
}

bool isNonEmptyText(const Value& v) {
  const auto t = textOf(v);
  return t && !t->empty();
}

bool isNonNullPointer(const Value& v) {
  const auto* p = std::get_if<const void*>(&v);
  return p != nullptr && *p != nullptr;
}

bool isZero(const Value& v) {
  return std::get<long long>(v) == 0;
}

bool isZeroOrOne(const Value& v) {
  const auto n = std::get<long long>(v);
  return n == 0 || n == 1;
}

// The loop sends 0 to continue, 1 to go back and -1 to abort; nothing else.
bool isContinueFlag(const Value& v) {
  const auto n = std::get<long long>(v);
  return n == 0 || n == 1 || n == -1;
}

bool isLoopBufferSize(const Value& v) {
  return std::get<long long>(v) == kLoopBufferSize;
}

// The buffer carries the caller's answer, which must end with a NUL inside the buffer.
bool isTerminatedBuffer(const Value& v) {
  const auto& b = std::get<Buffer>(v);
  return b.data != nullptr && b.size > 0 &&
         std::memchr(b.data, '\0', static_cast<std::size_t>(b.size)) != nullptr;
}

// Amounts go to the library as digits, a comma and two decimals, without thousands separators:
// "0,00", "12,50".
bool isAmount(const Value& v) {
  const auto t = textOf(v);
  if (!t) return false;
  const auto comma = t->find(',');
  if (comma == std::string_view::npos || comma == 0 || t->size() - comma != 3) return false;
  const auto whole = t->substr(0, comma);
  if (whole.size() > 1 && whole[0] == '0') return false;
  return allDigits(whole) && allDigits(t->substr(comma + 1));
}

bool isFiscalDate(const Value& v) {
  const auto t = textOf(v);
  return t && isDateYMD(*t);
}

// "HHNNSS" of a 24-hour clock.
bool isFiscalTime(const Value& v) {
  const auto t = textOf(v);
  if (!t || t->size() != 6 || !allDigits(*t)) return false;
  const auto two = [&](std::size_t at) { return ((*t)[at] - '0') * 10 + ((*t)[at + 1] - '0'); };
  return two(0) < 24 && two(2) < 60 && two(4) < 60;
}

// Restrictions are empty or a run of "[...]" and "{...}" blocks, each optionally followed by ";":
// "[10];", "[15;25]", "{DevolveStringQRCode=1}".
bool isRestrictions(const Value& v) {
  const auto t = textOf(v);
  if (!t) return false;
  std::size_t i = 0;
  while (i < t->size()) {
    const char open = (*t)[i];
    if (open != '[' && open != '{') return false;
    const auto close = t->find(open == '[' ? ']' : '}', i + 1);
    if (close == std::string_view::npos) return false;
    const auto inside = t->substr(i + 1, close - i - 1);
    if (std::any_of(inside.begin(), inside.end(), [](char c) {
          return c == '[' || c == ']' || c == '{' || c == '}' ||
                 static_cast<unsigned char>(c) < 0x20;
        })) {
      return false;
    }
    i = close + 1;
    if (i < t->size() && (*t)[i] == ';') ++i;
  }
  return true;
}

// The additional parameters are the automation's own list in brackets, the fixed
// "{ValorIncluiTaxa=0;};" block and, when both CNPJs are known, a "[ParmsClient=1=...;2=...];"
// block; the list's line breaks have become ";", so no line break is left.
bool isAdditionalParameters(const Value& v) {
  const auto t = textOf(v);
  if (!t || t->empty() || t->front() != '[' || t->find_first_of("\r\n") != std::string_view::npos) {
    return false;
  }
  constexpr std::string_view kFixed = "];{ValorIncluiTaxa=0;};";
  const auto at = t->rfind(kFixed);
  if (at == std::string_view::npos) return false;
  const auto tail = t->substr(at + kFixed.size());
  if (tail.empty()) return true;
  constexpr std::string_view kClient = "[ParmsClient=1=";
  return tail.starts_with(kClient) && tail.ends_with("];") &&
         tail.find(";2=", kClient.size()) != std::string_view::npos;
}

bool never(const Value&) {
  return false;
}

struct Rule {
  std::string_view function;
  std::string_view argument;  // empty: the rule is about the call itself
  bool (*holds)(const Value&);
  std::string_view problem;
};

constexpr std::string_view kConfigura = "ConfiguraIntSiTefInterativoEx";
constexpr std::string_view kInicia = "IniciaFuncaoSiTefInterativo";
constexpr std::string_view kContinua = "ContinuaFuncaoSiTefInterativo";
constexpr std::string_view kFinaliza = "FinalizaTransacaoSiTefInterativo";
constexpr std::string_view kPendentes = "ObtemQuantidadeTransacoesPendentes";

// Every rule, in the order they are checked; the first that fails is reported.
constexpr Rule kRules[] = {
    {kConfigura, "serverAddress", isText, "texto nulo"},
    {kConfigura, "storeCode", isText, "texto nulo"},
    {kConfigura, "terminalNumber", isText, "texto nulo"},
    {kConfigura, "reserved", isZero, "valor reservado diferente de 0"},
    {kConfigura, "additionalParameters", isAdditionalParameters,
     "fora da forma [parâmetros];{ValorIncluiTaxa=0;};"},

    {kInicia, "amount", isAmount, "valor fora da forma 0,00"},
    {kInicia, "fiscalDocument", isNonEmptyText, "documento fiscal vazio ou nulo"},
    {kInicia, "fiscalDate", isFiscalDate, "data fiscal fora da forma AAAAMMDD"},
    {kInicia, "fiscalTime", isFiscalTime, "hora fora da forma HHMMSS"},
    {kInicia, "operatorId", isText, "texto nulo"},
    {kInicia, "restrictions", isRestrictions, "restrições fora da forma [...] ou {...}"},

    {kContinua, "command", isNonNullPointer, "ponteiro nulo"},
    {kContinua, "fieldType", isNonNullPointer, "ponteiro nulo"},
    {kContinua, "minimumLength", isNonNullPointer, "ponteiro nulo"},
    {kContinua, "maximumLength", isNonNullPointer, "ponteiro nulo"},
    {kContinua, "bufferSize", isLoopBufferSize, "tamanho do buffer diferente de 20001"},
    {kContinua, "buffer", isTerminatedBuffer, "buffer nulo ou sem NUL"},
    {kContinua, "proceed", isContinueFlag, "continuação diferente de 0, 1 e -1"},

    {kFinaliza, "confirm", isZeroOrOne, "confirmação diferente de 0 e 1"},
    {kFinaliza, "fiscalDocument", isNonEmptyText, "documento fiscal vazio ou nulo"},
    {kFinaliza, "fiscalDate", isFiscalDate, "data fiscal fora da forma AAAAMMDD"},
    {kFinaliza, "fiscalTime", isFiscalTime, "hora fora da forma HHMMSS"},

    {kPendentes, "fiscalDate", isFiscalDate, "data fiscal fora da forma AAAAMMDD"},
    {kPendentes, "fiscalDocument", isText, "texto nulo"},

    {"EscreveMensagemPermanentePinPad", "message", isText, "texto nulo"},
    {"LeCartaoDiretoEx", "track1", isNonNullPointer, "ponteiro nulo"},
    {"LeCartaoDiretoEx", "track2", isNonNullPointer, "ponteiro nulo"},
    // Resolved by the automation so that the library is known to be complete, never called.
    {"LeCartaoSeguro", "", never, "função que a automação não chama"},
    {"LeCartaoDiretoSeguro", "", never, "função que a automação não chama"},
};

// The error a refused call returns: the configuration has its own code for data it cannot use;
// every other export answers an invalid argument.
int refusal(std::string_view function) {
  return function == kConfigura ? 11 : kInvalidArgument;
}

// The value for the report: texts shortened, buffers left out since they carry typed answers.
std::string shown(const Value& v) {
  constexpr std::size_t kMax = 64;
  if (const auto* p = std::get_if<const char*>(&v)) {
    if (*p == nullptr) return "(nulo)";
    const std::string_view t(*p, ::strnlen(*p, kMax + 1));
    return t.size() > kMax ? std::string(t.substr(0, kMax)) + "..." : std::string(t);
  }
  if (const auto* n = std::get_if<long long>(&v)) return std::to_string(*n);
  if (const auto* p = std::get_if<const void*>(&v)) return *p == nullptr ? "(nulo)" : "";
  return "";
}

}  // namespace

std::optional<Violation> checkArguments(
    std::string_view function,
    std::initializer_list<std::pair<std::string_view, Value>> arguments) {
  for (const Rule& rule : kRules) {
    if (rule.function != function) continue;
    const auto given = std::find_if(arguments.begin(), arguments.end(),
                                    [&](const auto& a) { return a.first == rule.argument; });
    const Value value = given != arguments.end() ? given->second : Value{};
    if (rule.holds(value)) continue;
    return Violation{std::string(function), std::string(rule.argument),
                     rule.argument.empty() ? "" : shown(value), std::string(rule.problem),
                     refusal(function)};
  }
  return std::nullopt;
}

Violation callBeforeConfiguration(std::string_view function) {
  return Violation{std::string(function), "", "", "chamada antes de " + std::string(kConfigura),
                   kNotConfigured};
}

Violation continueWithoutDialogue() {
  return Violation{std::string(kContinua), "", "", "chamada sem diálogo em andamento", kNoDialogue};
}

}  // namespace kelvora::sim
