// The scripted dialogues: each started function unrolls as a script of commands, extended by the
// caller's answers, as the SiTef library's interactive functions do.
#include "Dialog.h"

#include <algorithm>
#include <utility>

#include "PixCode.h"
#include "TypedCard.h"

namespace kelvora::sim {
namespace {

// Command codes of ContinuaFuncaoSiTefInterativo.
constexpr int kResultField = 0;
constexpr int kOperatorMessage = 1;
constexpr int kCustomerMessage = 2;
constexpr int kBothMessages = 3;
constexpr int kTitle = 4;
constexpr int kMenu = 21;
constexpr int kInterruptCheck = 23;
constexpr int kReadField = 30;
constexpr int kReadAmount = 34;
constexpr int kQrCode = 50;

// Field codes.
constexpr int kFieldModality = 100;
constexpr int kFieldModalityText = 101;
constexpr int kFieldModalityDescription = 102;
constexpr int kFieldHostDateTime = 105;
constexpr int kFieldCustomerReceipt = 121;
constexpr int kFieldMerchantReceipt = 122;
constexpr int kFieldNetworkCode = 131;
constexpr int kFieldBrandCode = 132;
constexpr int kFieldNsu = 133;
constexpr int kFieldHostNsu = 134;
constexpr int kFieldAuthorisation = 135;
constexpr int kFieldInstalmentDue = 141;
constexpr int kFieldInstalmentAmount = 142;
constexpr int kFieldAmount = 146;
constexpr int kFieldNetworkName = 156;
constexpr int kFieldEstablishment = 157;
constexpr int kFieldInstalments = 505;
constexpr int kFieldInstalmentsPlan = 511;
constexpr int kFieldOriginalDate = 515;
constexpr int kFieldOriginalNsu = 516;
constexpr int kFieldPixCode = 584;
constexpr int kFieldCardNumber = 2021;
constexpr int kFieldReprintNsu = 56;
constexpr int kFieldReprintDate = 57;
constexpr int kFieldReprintAmount = 58;

constexpr int kMaxInstalments = 12;

std::optional<int> wholeNumber(std::string_view text) {
  if (text.empty() || text.size() > 4 || !allDigits(text)) return std::nullopt;
  return std::stoi(std::string(text));
}

std::string modalityText(const Sale& sale) {
  switch (sale.kind) {
    case Kind::Debit:
      return "Debito a Vista";
    case Kind::Credit:
      return sale.plan == Plan::Merchant ? "Credito Parcelado Loja"
             : sale.plan == Plan::Issuer ? "Credito Parcelado Administradora"
                                         : "Credito a Vista";
    case Kind::Pix:
      return "Pix";
    case Kind::Cancellation:
      break;
  }
  return "";
}

std::string modalityDescription(const Sale& sale) {
  switch (sale.kind) {
    case Kind::Debit:
      return "Cartão de Débito";
    case Kind::Credit:
      return "Cartão de Crédito";
    default:
      return "Pix";
  }
}

Step ending(int status, std::string data, std::optional<Sale> decided) {
  return Step{status, Command{0, -1, 0, 0, std::move(data)}, std::move(decided)};
}

std::string establishmentCode(const Terminal& terminal) {
  return std::string(terminal.store.size() < 15 ? 15 - terminal.store.size() : 0, '0') +
         terminal.store;
}

}  // namespace

std::optional<Function> functionFor(int code) {
  switch (code) {
    case 0:
      return Function::Payment;
    case 2:
      return Function::Debit;
    case 3:
      return Function::Credit;
    case 110:
      return Function::Administrative;
    case 111:
      return Function::CommTest;
    case 112:
    case 113:
    case 114:
      return Function::Reprint;
    case 200:
      return Function::Cancellation;
    default:
      return std::nullopt;
  }
}

Dialog::Dialog(const DialogSettings& settings, Host& host) : settings_(settings), host_(host) {
  sale_.cents = settings.cents;
  switch (settings.function) {
    case Function::Payment:
      ask(Prompt::Method);
      break;
    case Function::Debit:
      sale_.kind = Kind::Debit;
      awaitCard();
      break;
    case Function::Credit:
      sale_.kind = Kind::Credit;
      ask(Prompt::CreditPlan);
      break;
    case Function::Administrative:
      ask(Prompt::Administrative);
      break;
    case Function::CommTest:
      finish(0);
      break;
    case Function::Reprint:
      reprint();
      break;
    case Function::Cancellation:
      ask(Prompt::CancelDate);
      break;
    case Function::Track3:
      say(kCustomerMessage, "Passe o cartao");
      for (int i = 0; i < settings_.cardPolls; ++i) say(kInterruptCheck, "");
      // The card's identification follows the track's start sentinel, as the caller expects it.
      finish(0, ";8000000001=4912?");
      break;
  }
}

Step Dialog::next(Reply reply, std::string_view answer) {
  if (reply == Reply::Abort) return ending(kCancelledByOperator, {}, std::nullopt);
  const Prompt prompt = std::exchange(awaited_, Prompt::None);
  if (prompt != Prompt::None) {
    // Going back only means something at a question; after any other command it just goes on.
    if (reply == Reply::Back) {
      goBack(prompt);
    } else {
      this->answer(prompt, trim(answer));
    }
  }
  return advance();
}

Step Dialog::advance() {
  while (!script_.empty()) {
    Item item = std::move(script_.front());
    script_.pop_front();
    switch (item.kind) {
      case Item::Kind::Action:
        (this->*item.action)();
        break;
      case Item::Kind::Final:
        return ending(item.status, std::move(item.command.data), decided_);
      case Item::Kind::Command:
        awaited_ = item.prompt;
        return Step{kCommandPending, std::move(item.command), std::nullopt};
    }
  }
  // Every script ends in a final item or a prompt; reaching this is a fault of the script itself.
  return ending(kInternalError, {}, std::nullopt);
}

void Dialog::say(int code, std::string text) {
  script_.push_back(Item{Item::Kind::Command, Command{code, -1, 0, 0, std::move(text)},
                         Prompt::None, nullptr, 0});
}

void Dialog::result(int field, std::string value) {
  script_.push_back(Item{Item::Kind::Command, Command{kResultField, field, 0, 0, std::move(value)},
                         Prompt::None, nullptr, 0});
}

void Dialog::question(Prompt prompt, Command command) {
  script_.push_back(Item{Item::Kind::Command, std::move(command), prompt, nullptr, 0});
}

void Dialog::then(void (Dialog::*action)()) {
  script_.push_back(Item{Item::Kind::Action, Command{}, Prompt::None, action, 0});
}

void Dialog::finish(int status, std::string data) {
  script_.push_back(Item{Item::Kind::Final, Command{0, -1, 0, 0, std::move(data)}, Prompt::None,
                         nullptr, status});
}

void Dialog::ask(Prompt prompt) {
  switch (prompt) {
    case Prompt::Method:
      say(kTitle, "Selecione a forma de pagamento");
      question(prompt, {kMenu, -1, 1, 1, "1:Debito;2:Credito;3:Pix;"});
      break;
    case Prompt::CreditPlan:
      say(kTitle, "Selecione a forma de financiamento");
      question(prompt, {kMenu, -1, 1, 1,
                        "1:A Vista;2:Parcelado pelo Estabelecimento;"
                        "3:Parcelado pela Administradora;"});
      break;
    case Prompt::Instalments:
      question(prompt, {kReadField, kFieldInstalments, 1, 2, "Forneca o numero de parcelas"});
      break;
    case Prompt::Administrative:
      say(kTitle, "Menu administrativo");
      question(prompt, {kMenu, -1, 1, 1,
                        "1:Teste de comunicacao;2:Reimpressao do ultimo comprovante;"
                        "3:Cancelamento de transacao;"});
      break;
    case Prompt::CancelDate:
      question(prompt, {kReadField, kFieldOriginalDate, 8, 8,
                        "Forneca a data da transacao original (DDMMAAAA)"});
      break;
    case Prompt::CancelNsu:
      question(prompt,
               {kReadField, kFieldOriginalNsu, 1, 12, "Forneca o NSU da transacao original"});
      break;
    case Prompt::CancelAmount:
      question(prompt, {kReadAmount, kFieldAmount, 1, 12, "Forneca o valor da transacao original"});
      break;
    case Prompt::CardNumber:
      question(prompt, {kReadField, kFieldTypedCardNumber, kCardNumberMin, kCardNumberMax,
                        "Forneca o numero do cartao"});
      break;
    case Prompt::CardExpiry:
      question(prompt, {kReadField, kFieldTypedExpiry, kExpiryLength, kExpiryLength,
                        "Forneca a data de vencimento do cartao (MMAA)"});
      break;
    case Prompt::CardSecurityCode:
      question(prompt, {kReadField, kFieldTypedSecurityCode, kSecurityCodeMin, kSecurityCodeMax,
                        "Forneca o codigo de seguranca do cartao"});
      break;
    case Prompt::None:
      break;
  }
}

// Acts on the answer to `prompt`. An answer the library cannot use asks the same question again,
// after a message where the caller could not guess why.
void Dialog::answer(Prompt prompt, std::string_view text) {
  const auto accepted = [&] { answered_.push_back(prompt); };
  switch (prompt) {
    case Prompt::Method:
      if (text == "1" || text == "2" || text == "3") {
        accepted();
        sale_.kind = text == "1" ? Kind::Debit : text == "2" ? Kind::Credit : Kind::Pix;
        if (sale_.kind == Kind::Debit) awaitCard();
        if (sale_.kind == Kind::Credit) ask(Prompt::CreditPlan);
        if (sale_.kind == Kind::Pix) awaitPix();
        return;
      }
      break;
    case Prompt::CreditPlan:
      if (text == "1" || text == "2" || text == "3") {
        accepted();
        sale_.plan = text == "1" ? Plan::Cash : text == "2" ? Plan::Merchant : Plan::Issuer;
        sale_.instalments = 0;
        if (sale_.plan == Plan::Cash) {
          awaitCard();
        } else {
          ask(Prompt::Instalments);
        }
        return;
      }
      break;
    case Prompt::Instalments:
      // At least two instalments, each of at least one cent.
      if (const auto n = wholeNumber(text);
          n && *n >= 2 && *n <= kMaxInstalments && *n <= sale_.cents) {
        accepted();
        sale_.instalments = *n;
        awaitCard();
        return;
      }
      say(kBothMessages, "Numero de parcelas invalido");
      break;
    case Prompt::Administrative:
      if (text == "1" || text == "2" || text == "3") {
        accepted();
        if (text == "1") finish(0);
        if (text == "2") reprint();
        if (text == "3") ask(Prompt::CancelDate);
        return;
      }
      break;
    case Prompt::CancelDate:
      // A payment cannot be cancelled before it was made: the date may not lie in the future.
      if (isDateDMY(text) &&
          std::string(text.substr(4)).append(text.substr(2, 2)).append(text.substr(0, 2)) <=
              hostDateTime(Clock::now()).substr(0, 8)) {
        accepted();
        sale_.kind = Kind::Cancellation;
        sale_.originalDate = text;
        ask(Prompt::CancelNsu);
        return;
      }
      say(kBothMessages, "Data invalida");
      break;
    case Prompt::CancelNsu:
      if (!text.empty() && text.size() <= 12 && allDigits(text)) {
        accepted();
        sale_.originalNsu = text;
        ask(Prompt::CancelAmount);
        return;
      }
      say(kBothMessages, "NSU invalido");
      break;
    case Prompt::CancelAmount:
      if (const auto cents = parseCents(text); cents && *cents > 0) {
        accepted();
        sale_.cents = *cents;
        authorise();
        return;
      }
      say(kBothMessages, "Valor invalido");
      break;
    case Prompt::CardNumber:
      if (isCardNumber(text)) {
        accepted();
        // Only the masked number is kept: the server needs no more of it to report the card.
        sale_.typedCard = maskCardNumber(text);
        ask(Prompt::CardExpiry);
        return;
      }
      say(kBothMessages, "Numero do cartao invalido");
      break;
    case Prompt::CardExpiry:
      if (isExpiry(text, Clock::now())) {
        accepted();
        ask(Prompt::CardSecurityCode);
        return;
      }
      say(kBothMessages, "Data de vencimento invalida");
      break;
    case Prompt::CardSecurityCode:
      if (isSecurityCode(text)) {
        accepted();
        authorise();
        return;
      }
      say(kBothMessages, "Codigo de seguranca invalido");
      break;
    case Prompt::None:
      return;
  }
  ask(prompt);
}

// Going back asks the question answered before this one again; at the first question, there is
// nothing before it, so that question is asked again.
void Dialog::goBack(Prompt current) {
  script_.clear();
  if (answered_.empty()) return ask(current);
  const Prompt previous = answered_.back();
  answered_.pop_back();
  ask(previous);
}

void Dialog::awaitCard() {
  if (settings_.typedCard) return ask(Prompt::CardNumber);
  say(kOperatorMessage, "Aguardando o cartao do cliente");
  say(kCustomerMessage, "Insira ou passe o cartao");
  for (int i = 0; i < settings_.cardPolls; ++i) say(kInterruptCheck, "");
  then(&Dialog::authorise);
}

void Dialog::awaitPix() {
  // The server creates the charge, and its identifier, before the customer pays it.
  sale_.nsu = host_.nextNsu();
  script_.push_back(Item{
      Item::Kind::Command,
      Command{kQrCode, kFieldPixCode, 0, 0, pixCopyPaste(sale_.cents, "KELVORASIM" + sale_.nsu)},
      Prompt::None, nullptr, 0});
  for (int i = 0; i < settings_.pixPolls; ++i) say(kInterruptCheck, "");
  then(&Dialog::authorise);
}

// The authorizer's decision: amounts whose cents are 51 are refused, as a card without funds
// would be; everything else is approved.
void Dialog::authorise() {
  sale_.host = Clock::now();
  if (sale_.nsu.empty()) sale_.nsu = host_.nextNsu();
  decided_ = sale_;
  if (sale_.cents % 100 == 51) {
    say(kBothMessages, "Transacao negada pelo autorizador (51)");
    finish(kRefusedByAuthorizer);
    return;
  }
  approved_ = true;
  reportApproval();
  finish(0);
}

void Dialog::reportApproval() {
  const bool card = sale_.kind == Kind::Debit || sale_.kind == Kind::Credit;
  if (sale_.kind != Kind::Cancellation) {
    result(kFieldModality, modalityCode(sale_));
    result(kFieldModalityText, modalityText(sale_));
    result(kFieldModalityDescription, modalityDescription(sale_));
  }
  result(kFieldHostDateTime, hostDateTime(sale_.host));
  const auto receipts = buildReceipts(sale_, settings_.terminal, false);
  result(kFieldCustomerReceipt, receipts.customer);
  result(kFieldMerchantReceipt, receipts.merchant);
  result(kFieldNetworkCode, sale_.kind == Kind::Pix ? "00229" : "00005");
  if (card) result(kFieldBrandCode, std::string(cardFor(sale_.kind).brandCode));
  result(kFieldNsu, sale_.nsu);
  result(kFieldHostNsu, hostNsu(sale_));
  result(kFieldAuthorisation, authorisationCode(sale_));
  result(kFieldNetworkName, sale_.kind == Kind::Pix ? "PIX" : "REDE");
  result(kFieldEstablishment, establishmentCode(settings_.terminal));
  if (sale_.instalments > 0) {
    result(kFieldInstalments, std::to_string(sale_.instalments));
    result(kFieldInstalmentsPlan, std::to_string(sale_.instalments));
    for (int i = 1; i <= sale_.instalments; ++i) {
      result(kFieldInstalmentDue, dayMonthYear(dueDate(sale_.host, i)));
      result(kFieldInstalmentAmount,
             formatCents(instalmentCents(sale_.cents, sale_.instalments, i)));
    }
  }
  if (card) {
    result(kFieldCardNumber, sale_.typedCard.empty() ? std::string(cardFor(sale_.kind).maskedNumber)
                                                     : sale_.typedCard);
  }
}

// Reprints the receipts of the last transaction the server approved and did not undo. The
// markers 56 to 58 come first, so the caller knows before the receipts that they are a reprint.
void Dialog::reprint() {
  const auto last = host_.lastSale();
  if (!last) {
    say(kBothMessages, "Nao ha comprovante para reimprimir");
    finish(kRefusedByServer);
    return;
  }
  result(kFieldReprintNsu, last->nsu);
  result(kFieldReprintDate, dayMonthYear(last->host));
  result(kFieldReprintAmount, formatCents(last->cents));
  const auto receipts = buildReceipts(*last, settings_.terminal, true);
  result(kFieldCustomerReceipt, receipts.customer);
  result(kFieldMerchantReceipt, receipts.merchant);
  finish(0);
}

}  // namespace kelvora::sim
