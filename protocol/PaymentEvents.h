// The payment dialogue's events in the system's log: what an operator's monitoring needs of each
// payment (its outcome, NSU, amount and sale) and nothing of the card or of the customer.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/Currency.h"
#include "protocol/DmSitef.h"
#include "service/SystemEvents.h"
#include "tef/KoCliSiTefCliSiTef.h"
#include "tef/KoCliSiTefResp.h"
#include "tef/KoCliSiTefRespostasPendentes.h"

namespace kelvora::protocol {

// None of these ever throws: an event must not disturb the payment it tells of.

// One event per confirmed response at pIndices of pRespostas, whose elements pTransactionData
// holds in the same order: a payment approved, an earlier payment canceled, or a payment an
// earlier process left in a backup and the start-up confirmation completed. Reprints report none.
void ReportConfirmedPayments(const service::TSystemEvents& pEvents,
                             const tef::TKoCliSiTefRespostasPendentes& pRespostas,
                             const std::vector<int>& pIndices, const Json& pTransactionData);

// A payment or cancellation dialogue that ended without a confirmation, with the "status" the
// client was given ("unauthorized" or "canceled"). Reprints report none.
void ReportUnfinishedPayment(const service::TSystemEvents& pEvents, TTipoTransacao pTipo,
                             std::string_view pStatus, platform::Currency pValor,
                             int32_t pVenda_Id);

// A payment or cancellation dialogue that an error ended before its confirmation.
void ReportFailedPayment(const service::TSystemEvents& pEvents, TTipoTransacao pTipo,
                         std::string_view pErro);

// The SiTef library the gateway has just loaded and initialised.
void ReportLibraryLoaded(const service::TSystemEvents& pEvents,
                         const tef::TKoCliSiTefCliSiTef& pGateway);

// A payment left unconfirmed whose reversal the component is about to send.
void ReportUndonePayment(const service::TSystemEvents& pEvents, const tef::TKoCliSiTefResp& pResp);

}  // namespace kelvora::protocol
