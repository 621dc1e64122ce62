// The simulated SiTef library: validates calls, runs dialogues and keeps the ledger.
#include "Simulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Ansi.h"
#include "Contract.h"

namespace kelvora::sim {
namespace {

// The configuration results that the library's documentation defines as failures; any other
// value, forced through the control file, leaves the library configured.
bool isConfigurationFailure(int result) {
  return (result >= 1 && result <= 3) || (result >= 6 && result <= 8) ||
         (result >= 10 && result <= 13);
}

int validateConfiguration(std::string_view server, std::string_view store,
                          std::string_view terminal) {
  if (trim(server).empty()) return 1;
  if (store.empty() || store.size() > 8) return 2;
  // ASCII letters only, whatever locale the host process has set.
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (terminal.size() != 8 || !letter(terminal[0]) || !letter(terminal[1]) ||
      !allDigits(terminal.substr(2))) {
    return 3;
  }
  return 0;
}

bool needsAmount(Function function) {
  return function == Function::Payment || function == Function::Debit ||
         function == Function::Credit;
}

// Copies `text` into the caller's buffer, cut to fit and always NUL-terminated.
void copyOut(const std::string& text, char* buffer, int size) {
  const auto n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

Simulator::Simulator(const std::filesystem::path& directory)
    : controlFile_(directory / "CliSiTefSim.ini"), ledger_(directory / "CliSiTefSim.ledger") {}

int Simulator::configure(std::string_view server, std::string_view store,
                         std::string_view terminal) {
  control_ = readControl(controlFile_);
  abandonOpenDialog();
  const int result = control_.configResult ? *control_.configResult
                                           : validateConfiguration(server, store, terminal);
  configured_ = !isConfigurationFailure(result);
  if (configured_) terminal_ = {std::string(store), std::string(terminal)};
  return result;
}

int Simulator::start(int function, std::string_view amount, std::string_view document,
                     std::string_view date) {
  control_ = readControl(controlFile_);
  if (!configured_) return refuse(callBeforeConfiguration("IniciaFuncaoSiTefInterativo"));
  abandonOpenDialog();
  const auto kind = functionFor(function);
  const auto cents = parseCents(amount);
  // A scenario may run any function code: a dialogue seen in the field may use one the built-in
  // dialogues do not know. The arguments were checked against the contract before this call.
  if (!control_.scenario.empty()) {
    return startScenario(function, cents.value_or(0), document, date);
  }
  if (!kind) return kUnknownFunction;
  if (needsAmount(*kind) && (!cents || *cents == 0)) return kInvalidArgument;

  const DialogSettings settings{*kind,
                                cents.value_or(0),
                                terminal_,
                                control_.cardPolls,
                                control_.pixPolls,
                                control_.typedCard};
  open_.emplace(OpenDialog{Dialog(settings, *this), function, std::string(document),
                           std::string(date), nullptr});
  return kCommandPending;
}

int Simulator::resume(int* command, int* fieldType, short* minimumLength, short* maximumLength,
                      char* buffer, int bufferSize, int proceed) {
  if (!configured_) return refuse(callBeforeConfiguration("ContinuaFuncaoSiTefInterativo"));
  if (!open_) return refuse(continueWithoutDialogue());
  const std::string_view answer(buffer, ::strnlen(buffer, static_cast<std::size_t>(bufferSize)));
  const Reply reply = proceed == -1 ? Reply::Abort : proceed == 1 ? Reply::Back : Reply::Continue;
  Step step =
      open_->scenario ? open_->scenario->next(reply, answer) : open_->dialog.next(reply, answer);

  int status = step.status;
  if (status != kCommandPending && step.decided && !record(*open_, *step.decided, status)) {
    // The server could not remember the outcome, so it must not report an approval.
    status = kInternalError;
  }
  *command = step.command.code;
  *fieldType = step.command.field;
  *minimumLength = step.command.minLength;
  *maximumLength = step.command.maxLength;
  copyOut(toAnsi(step.command.data), buffer, bufferSize);
  if (status != kCommandPending) open_.reset();
  return status;
}

int Simulator::startScenario(int function, std::int64_t cents, std::string_view document,
                             std::string_view date) {
  std::filesystem::path file = control_.scenario;
  if (file.is_relative()) file = controlFile_.parent_path() / file;
  try {
    auto player = std::make_unique<ScenarioPlayer>(
        readScenario(file, control_.scenario),
        ScenarioStart{function, std::string(document), std::string(date), cents}, ledger_, *this);
    const DialogSettings unused{Function::Payment, cents, terminal_, 0, 0};
    open_.emplace(OpenDialog{Dialog(unused, *this), function, std::string(document),
                             std::string(date), std::move(player)});
  } catch (const ScenarioError& error) {
    reportBadScenario(ledger_, control_.scenario, error);
    return kInternalError;
  }
  return kCommandPending;
}

bool Simulator::record(const OpenDialog& open, const Sale& sale, int status) {
  Event event(status == 0 ? "APPROVED" : "REFUSED");
  event.set("doc", open.document)
      .set("date", open.date)
      .set("function", std::to_string(open.function))
      .set("value", formatCents(sale.cents))
      .set("nsu", sale.nsu);
  if (const auto modality = modalityCode(sale); !modality.empty()) event.set("modality", modality);
  if (sale.instalments > 0) event.set("instalments", std::to_string(sale.instalments));
  if (sale.kind == Kind::Cancellation) {
    event.set("orig_nsu", sale.originalNsu).set("orig_date", sale.originalDate);
  }
  if (status != 0) event.set("code", std::to_string(status));
  event.set("at", hostDateTime(sale.host));
  return ledger_.append(event);
}

int Simulator::finalize(bool confirm, std::string_view document, std::string_view date) {
  if (!configured_) return refuse(callBeforeConfiguration("FinalizaTransacaoSiTefInterativo"));
  const auto* ledger = ledger_.read();
  if (!ledger) return kInternalError;
  std::string nsus;
  int count = 0;
  for (const auto& p : ledger->pending()) {
    if (p.get("doc") != document || p.get("date") != date) continue;
    nsus += (nsus.empty() ? "" : ",") + p.get("nsu");
    ++count;
  }
  Event event(confirm ? "CONFIRMED" : "UNDONE");
  event.set("doc", std::string(document))
      .set("date", std::string(date))
      .set("count", std::to_string(count));
  if (count > 0) event.set("nsu", nsus);
  event.set("at", hostDateTime(Clock::now()));
  return ledger_.append(event) ? 0 : kInternalError;
}

int Simulator::pendingCount(std::string_view date, std::string_view document) {
  if (!configured_) return refuse(callBeforeConfiguration("ObtemQuantidadeTransacoesPendentes"));
  const auto* ledger = ledger_.read();
  if (!ledger) return kInternalError;
  const auto& pending = ledger->pending();
  return static_cast<int>(std::count_if(pending.begin(), pending.end(), [&](const Event& p) {
    return p.get("date") == date && (document.empty() || p.get("doc") == document);
  }));
}

int Simulator::pinpadPresence() {
  control_ = readControl(controlFile_);
  if (!configured_) return refuse(callBeforeConfiguration("VerificaPresencaPinPad"));
  return control_.pinpadStatus;
}

int Simulator::writePermanentMessage() {
  if (!configured_) return refuse(callBeforeConfiguration("EscreveMensagemPermanentePinPad"));
  return control_.pinpadStatus == 1 ? 0 : kNoPinpad;
}

int Simulator::readTrack3() {
  if (!configured_) return refuse(callBeforeConfiguration("LeTrilha3"));
  if (control_.pinpadStatus != 1) return kNoPinpad;
  abandonOpenDialog();
  const DialogSettings settings{Function::Track3, 0, terminal_, control_.cardPolls,
                                control_.pixPolls};
  open_.emplace(OpenDialog{Dialog(settings, *this), -1, "", "", nullptr});
  return kCommandPending;
}

int Simulator::readCardDirect(char* track1, char* track2) {
  if (!configured_) return refuse(callBeforeConfiguration("LeCartaoDiretoEx"));
  if (control_.pinpadStatus != 1) return kNoPinpad;
  // A loyalty card of the simulator; both buffers hold 129 bytes.
  copyOut("B6280000000000001^CLIENTE/SIMULADO^99120000000000000000", track1, 129);
  copyOut("6280000000000001=99120000000000000000", track2, 129);
  return 0;
}

int Simulator::refuse(const Violation& violation) {
  // A refused call ends the dialogue like any other status but 10000.
  if (violation.function == "ContinuaFuncaoSiTefInterativo") open_.reset();
  Event event("CONTRACT");
  event.set("function", violation.function).set("argument", violation.argument);
  if (!violation.value.empty()) event.set("value", violation.value);
  event.set("problem", violation.problem).set("at", hostDateTime(Clock::now()));
  // Standard error shows it also when the ledger cannot take the line; the caller's value is
  // printed without its control bytes, so it cannot forge or break a line there.
  ledger_.append(event);
  std::string value = violation.value;
  std::replace_if(
      value.begin(), value.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
  std::fprintf(stderr, "CliSiTefSim CONTRACT %s %s%s%s: %s\n", violation.function.c_str(),
               violation.argument.c_str(), value.empty() ? "" : "=", value.c_str(),
               violation.problem.c_str());
  return violation.result;
}

void Simulator::abandonOpenDialog() {
  if (!open_) return;
  Event event("ABANDONED");
  event.set("doc", open_->document)
      .set("date", open_->date)
      .set("function", std::to_string(open_->function))
      .set("approved", open_->dialog.approvedByHost() ? "1" : "0");
  if (const auto nsu = open_->dialog.decidedNsu(); !nsu.empty()) event.set("nsu", nsu);
  event.set("at", hostDateTime(Clock::now()));
  open_.reset();
  // Nothing of the dialogue was reported as approved, so a ledger that cannot take the line
  // loses no money; the call that abandoned it goes on.
  ledger_.append(event);
}

std::string Simulator::nextNsu() {
  // An NSU handed out in a dialogue that was then abandoned is not in the ledger, yet must not
  // be handed out again while this process lives.
  if (const auto* ledger = ledger_.read()) lastNsu_ = std::max(lastNsu_, ledger->highestNsu());
  char text[24];
  std::snprintf(text, sizeof text, "%06lld", ++lastNsu_);
  return text;
}

std::optional<Sale> Simulator::lastSale() {
  const auto* ledger = ledger_.read();
  if (!ledger) return std::nullopt;
  const auto last = ledger->lastStandingApproval();
  if (!last) return std::nullopt;
  Sale sale;
  if (!last->get("orig_nsu").empty()) {
    sale.kind = Kind::Cancellation;
    sale.originalNsu = last->get("orig_nsu");
    sale.originalDate = last->get("orig_date");
  } else {
    applyModalityCode(sale, last->get("modality"));
  }
  sale.cents = parseCents(last->get("value")).value_or(0);
  sale.nsu = last->get("nsu");
  sale.host = parseHostDateTime(last->get("at")).value_or(Clock::now());
  const auto instalments = last->get("instalments");
  sale.instalments = allDigits(instalments) && !instalments.empty() && instalments.size() < 3
                         ? std::stoi(instalments)
                         : 0;
  return sale;
}

}  // namespace kelvora::sim
