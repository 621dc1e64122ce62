// The gateway base class: life cycle, amount checks, the TEF log and the forwarding forms of
// CNF, NCN and CNC.
#include "tef/KoCliSiTefClass.h"

#include <stdexcept>
#include <utility>

#include "platform/DateTime.h"
#include "platform/LogText.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

// Seconds since midnight of the clock's local time.
int32_t SegundosDoDia(const platform::Clock& clock) {
  const platform::DateParts agora = platform::DecodeDateTime(platform::Now(clock));
  return agora.hour * 3600 + agora.minute * 60 + agora.second;
}

}  // namespace

TKoCliSiTefClass::TKoCliSiTefClass(TKoCliSiTef& AOwner, std::string Name, TKoCliSiTefTipo Tipo,
                                   std::unique_ptr<TKoCliSiTefResp> Resp)
    : fOwner(AOwner), fName(std::move(Name)), fTipo(Tipo), fResp(std::move(Resp)) {
  if (!fResp) throw std::invalid_argument("A gateway needs a response record");
  fResp->SetTipoGP(fTipo);
  fpIDSeq = SegundosDoDia(fOwner.Clock());
  fOwner.SetEstadoReq(reqNenhum);
  fOwner.SetEstadoResp(respNenhum);
}

void TKoCliSiTefClass::SetInicializado(bool value) {
  if (value) {
    Inicializar();
  } else {
    DesInicializar();
  }
}

void TKoCliSiTefClass::DesInicializar() {
  fInicializado = false;
  GravaLog(fName + " DesInicializado");
}

void TKoCliSiTefClass::NCN() {
  // Copies: the operation may start a dialogue that clears the response it came from.
  const TKoCliSiTefResp& r = *fResp;
  const std::string Rede = r.Rede(), NSU = r.NSU(), Finalizacao = r.Finalizacao();
  const std::string DocumentoVinculado = r.DocumentoVinculado();
  NCN(Rede, NSU, Finalizacao, r.ValorTotal(), DocumentoVinculado);
}

void TKoCliSiTefClass::CNF() {
  const TKoCliSiTefResp& r = *fResp;
  const std::string Rede = r.Rede(), NSU = r.NSU(), Finalizacao = r.Finalizacao();
  const std::string DocumentoVinculado = r.DocumentoVinculado();
  CNF(Rede, NSU, Finalizacao, DocumentoVinculado);
}

bool TKoCliSiTefClass::CNC() {
  const TKoCliSiTefResp& r = *fResp;
  const std::string Rede = r.Rede(), NSU = r.NSU();
  return CNC(Rede, NSU, r.DataHoraTransacaoHost(), r.ValorTotal());
}

void TKoCliSiTefClass::VerificaValor(platform::Currency Valor) {
  const platform::Currency valor = platform::Currency::FromCents(Valor.ToCents());
  if (valor <= platform::Currency()) throw std::runtime_error("Valor inválido");

  TKoCliSiTefRespostasPendentes& pendentes = fOwner.RespostasPendentes();
  pendentes.SetSaldoAPagar(valor);

  const platform::Currency trocoMaximo = platform::Currency::FromDouble(fOwner.TrocoMaximo());
  if (trocoMaximo > platform::Currency() && valor > pendentes.SaldoRestante() + trocoMaximo) {
    throw std::runtime_error("Operação TEF permite Troco Máximo de R$ " +
                             platform::FormatFloat2(fOwner.TrocoMaximo()));
  }
  if (fOwner.MultiplosCartoes() && fOwner.NumeroMaximoCartoes() > 0 &&
      pendentes.Count() >= fOwner.NumeroMaximoCartoes()) {
    throw std::runtime_error("Multiplos Cartões Limitado a " +
                             std::to_string(fOwner.NumeroMaximoCartoes()) + " operações.");
  }
}

void TKoCliSiTefClass::GravaLog(std::string_view AString) const noexcept {
  const std::string_view linha[] = {AString};
  GravaLogLinhas(linha);
}

void TKoCliSiTefClass::GravaLogLinhas(std::span<const std::string_view> Linhas) const noexcept {
  if (fArqLOG.empty()) return;
  try {
    // Library texts, client answers and messages may hold line breaks and other control
    // characters: escaped, none of them can end a line early or forge the next one.
    std::string texto =
        "-- " + platform::FormatDateTime("dd/mm hh:nn:ss:zzz", platform::Now(fOwner.Clock())) +
        " - ";
    for (size_t i = 0; i < Linhas.size(); ++i) {
      if (i > 0) texto += "\r\n";
      texto += platform::EscapeLogText(Linhas[i]);
    }
    AnexaArquivo(fArqLOG, platform::ToAnsi(texto), true, true);
  } catch (...) {
    // The log never fails the operation it describes.
  }
}

void TKoCliSiTefClass::VerificaInicializado() const {
  if (!fInicializado) {
    throw EKoCliSiTefGPNaoInicializado("Gerenciador Padrão: " + fName + " não foi inicializado");
  }
}

}  // namespace kelvora::tef
