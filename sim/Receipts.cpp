// The receipts of a simulated transaction, in Portuguese as a SiTef receipt would be.
#include "Receipts.h"

#include <vector>

namespace kelvora::sim {
namespace {

constexpr std::size_t kWidth = 40;
constexpr const char* kSimulation = "SIMULAÇÃO - SEM VALOR";

std::size_t columns(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

std::string centred(const std::string& text) {
  const auto width = columns(text);
  return width >= kWidth ? text : std::string((kWidth - width) / 2, ' ') + text;
}

// `left` and `right` on one line, `right` against the right margin.
std::string spread(const std::string& left, const std::string& right) {
  const auto used = columns(left) + columns(right);
  return left + std::string(used < kWidth ? kWidth - used : 1, ' ') + right;
}

std::string title(const Sale& sale) {
  switch (sale.kind) {
    case Kind::Debit:
      return std::string(cardFor(sale.kind).brandName) + " - DÉBITO";
    case Kind::Credit:
      return std::string(cardFor(sale.kind).brandName) + " - CRÉDITO";
    case Kind::Pix:
      return "PIX";
    case Kind::Cancellation:
      return "CANCELAMENTO DE TRANSAÇÃO";
  }
  return "";
}

void appendDetails(std::vector<std::string>& lines, const Sale& sale) {
  const std::string amount = "R$ " + formatCents(sale.cents);
  if (sale.kind == Kind::Debit || sale.kind == Kind::Credit) {
    lines.emplace_back(sale.typedCard.empty() ? std::string(cardFor(sale.kind).maskedNumber)
                                              : sale.typedCard);
  }
  if (sale.kind == Kind::Cancellation) {
    const auto& d = sale.originalDate;  // DDMMYYYY
    const auto date = d.size() == 8 ? d.substr(0, 2) + "/" + d.substr(2, 2) + "/" + d.substr(4) : d;
    lines.push_back("NSU ORIGINAL " + sale.originalNsu + " DE " + date);
    lines.push_back(spread("VALOR CANCELADO:", amount));
    return;
  }
  if (sale.kind == Kind::Credit && sale.plan != Plan::Cash) {
    lines.push_back(std::string(sale.plan == Plan::Merchant ? "PARCELADO LOJA" : "PARCELADO ADM") +
                    " EM " + std::to_string(sale.instalments) + " VEZES");
    for (int i = 1; i <= sale.instalments; ++i) {
      lines.push_back(
          spread(std::to_string(i) + "ª PARCELA " + slashedDate(dueDate(sale.host, i)),
                 "R$ " + formatCents(instalmentCents(sale.cents, sale.instalments, i))));
    }
  } else if (sale.kind == Kind::Credit) {
    lines.emplace_back("CRÉDITO À VISTA");
  }
  lines.push_back(spread("VALOR APROVADO:", amount));
}

std::string copy(const Sale& sale, const Terminal& terminal, bool reprint, bool customer) {
  std::vector<std::string> lines = {centred(kSimulation),
                                    centred("Transação simulada: nada foi cobrado")};
  if (reprint) lines.push_back(centred("*** REIMPRESSÃO ***"));
  lines.push_back(centred(title(sale)));
  lines.push_back(centred(customer ? "VIA CLIENTE" : "VIA ESTABELECIMENTO"));
  lines.push_back(spread("LOJA " + terminal.store, "TERM " + terminal.terminal));
  lines.push_back(spread(slashedDate(sale.host) + " " + clockTime(sale.host), "NSU " + sale.nsu));
  if (customer) {
    lines.push_back("AUT " + authorisationCode(sale));
  } else {
    lines.push_back(spread("AUT " + authorisationCode(sale), "NSU HOST " + hostNsu(sale)));
  }
  appendDetails(lines, sale);
  if (sale.kind == Kind::Debit) lines.push_back(centred("Transação autorizada mediante senha"));
  if (sale.kind == Kind::Credit && !customer) {
    lines.push_back(centred("Reconheço e pagarei a importância acima"));
  }
  lines.push_back(centred(kSimulation));

  std::string text;
  for (const auto& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace

Receipts buildReceipts(const Sale& sale, const Terminal& terminal, bool reprint) {
  return {copy(sale, terminal, reprint, true), copy(sale, terminal, reprint, false)};
}

}  // namespace kelvora::sim
