// Session requests: the session start with its token and gateway settings, the session check that
// precedes every other route, and the session finish.
#include <memory>
#include <stdexcept>

#include "metrics/Telemetry.h"
#include "platform/Ansi.h"
#include "platform/Guid.h"
#include "protocol/CallbackDestination.h"
#include "protocol/CallbackUrl.h"
#include "protocol/Convert.h"
#include "protocol/DmSitef.h"
#include "tef/CliSiTefLibrary.h"
#include "tef/KoCliSiTefUtil.h"
#include "tokens/Jose.h"

namespace kelvora::protocol {
namespace {

// A claim's text as the 8-bit gateway will hold it: characters Windows-1252 lacks are lost here,
// so the reply shows what SiTef will be given.
std::string AnsiClaim(const Json& claims, std::string_view name) {
  return platform::FromAnsi(platform::ToAnsi(GetRequiredField(claims, name)));
}

// Empty, or only blanks and control characters.
bool IsBlank(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

// The lines of a text, broken at CR LF, CR or LF as the gateway breaks them.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  for (const platform::AnsiString& line : tef::SeparaLinhas(platform::AnsiBytes(text))) {
    lines.emplace_back(platform::RawBytes(line));
  }
  return lines;
}

// The name of a claim whose text is longer than kMaxClaimLength, if there is one.
std::optional<std::string> OversizedClaim(const Json& claims) {
  for (const auto& [name, value] : claims.items()) {
    if (ValueAsText(value).size() > kMaxClaimLength) return name;
  }
  return std::nullopt;
}

// Refuses a session start with message, counted by its reason for the metrics.
void RefuseSession(service::Connection& pIdContext, metrics::TSessionRefusal pReason,
                   std::string_view pMessage) {
  metrics::CountSessionRefused(pReason);
  TDmSitef::SendErrorMessage(pIdContext, pMessage);
}

}  // namespace

std::string TDmSitef::TerminalNumber(std::string_view pSectionalCode, int32_t pPdvNumber) {
  // Counted in the library's 8-bit characters, as the gateway will hold the number.
  const platform::AnsiString sectional =
      tef::PreencheEsquerda(platform::ToAnsi(pSectionalCode), 4, '0');
  return "AG" + platform::FromAnsi(sectional) + tef::PreencheZeros(pPdvNumber, 2);
}

std::string TDmSitef::LocalToUTCISO8601(platform::TDateTime pDateTime) {
  const std::optional<platform::TDateTime> utc = platform::LocalToUTC(pDateTime);
  if (!utc) {
    throw std::runtime_error("The given \"" +
                             platform::FormatDateTime("dd/mm/yyyy hh:nn:ss", pDateTime) +
                             "\" local time is invalid (situated within the missing period prior "
                             "to DST).");
  }
  return platform::FormatDateTime("yyyy-mm-dd\"T\"hh:nn:ss.zzz\"Z\"", *utc);
}

void TDmSitef::CreateSession(const Json& pConfig, service::Connection& pIdContext) {
  const TJwtSecret secret = JwtSecret();
  std::unique_ptr<tokens::TJWT> token;
  try {
    if (GetRequiredField(pConfig, "type") != "session") {
      RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid,
                    "Configuração de entrada inválida: type diferente de \"session\".");
      return;
    }
    const std::string compact = GetRequiredField(pConfig, "token");
    if (!secret.Key) {
      Log(kJwtSecretInvalidLog);
      RefuseSession(pIdContext, metrics::TSessionRefusal::Secret, "Acesso não autorizado.");
      return;
    }
    if (compact.size() > kMaxTokenLength) {
      Log("Token de sessão recusado: mais de " + std::to_string(kMaxTokenLength / 1024) + " KiB.");
      RefuseSession(pIdContext, metrics::TSessionRefusal::Unauthorized, "Acesso não autorizado.");
      return;
    }
    token = tokens::TJOSE::Verify(tokens::TJWK(*secret.Key), compact);
  } catch (const std::exception& e) {
    RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid, e.what());
    return;
  }
  if (!token) {
    RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid, "Dados de sessão inválidos.");
    return;
  }
  if (!token->Verified) {
    RefuseSession(pIdContext, metrics::TSessionRefusal::Unauthorized, "Acesso não autorizado.");
    return;
  }
  switch (tokens::CheckTimeClaims(token->Claims, FClock.Now())) {
    case tokens::TJWTTimeCheck::Valid:
      break;
    case tokens::TJWTTimeCheck::Expired:
      Log("Token de sessão recusado: expirado (exp).");
      RefuseSession(pIdContext, metrics::TSessionRefusal::Unauthorized, "Acesso não autorizado.");
      return;
    case tokens::TJWTTimeCheck::NotYetValid:
      Log("Token de sessão recusado: ainda não válido (nbf).");
      RefuseSession(pIdContext, metrics::TSessionRefusal::Unauthorized, "Acesso não autorizado.");
      return;
    case tokens::TJWTTimeCheck::Malformed:
      Log("Token de sessão recusado: exp ou nbf não numérico.");
      RefuseSession(pIdContext, metrics::TSessionRefusal::Unauthorized, "Acesso não autorizado.");
      return;
  }
  if (const std::optional<std::string> claim = OversizedClaim(token->Claims)) {
    Log("Token de sessão recusado: a declaração \"" + *claim + "\" passa de " +
        std::to_string(kMaxClaimLength / 1024) + " KiB.");
    RefuseSession(pIdContext, metrics::TSessionRefusal::Unauthorized, "Acesso não autorizado.");
    return;
  }

  // Each setting takes effect as soon as its claim has been read: a later claim that is missing
  // or wrong leaves the earlier ones in place, nothing is rolled back.
  const auto stage = [this](auto&& change) {
    std::lock_guard lock(fStateLock);
    change();
  };
  // The reply names the store and terminal this start set: when sessions start on several
  // connections at once, another start may already have replaced them in the gateway's settings.
  // The sale belongs to the session alone and is kept only once the start has succeeded.
  std::string store, terminal;
  TSaleData sale;
  try {
    const Json& claims = token->Claims;
    const std::string sectionalCode = AnsiClaim(claims, "secctional_code");
    terminal = TerminalNumber(sectionalCode, FService.PdvNumber());
    // [sitef] library names the library's file; its folder is the gateway's PathDLL.
    const tef::TLocalDLL library = tef::LocalizaDLL(
        FService.Options().BaseDir.string(), FService.Config().ReadString("sitef", "library", ""));
    stage([&] {
      fGatewaySettings.ModoServico = true;
      fGatewaySettings.PathDLL = library.PathDLL;
      fGatewaySettings.NomeDLL = library.NomeDLL;
    });
    const std::string address = AnsiClaim(claims, "ip_address");
    stage([&] { fGatewaySettings.EnderecoIP = address; });
    store = AnsiClaim(claims, "store_code");
    stage([&] {
      fGatewaySettings.CodigoLoja = store;
      fGatewaySettings.NumeroTerminal = terminal;
    });
    const std::vector<std::string> parameters =
        SplitLines(AnsiClaim(claims, "additional_parameters"));
    stage([&] { fGatewaySettings.ParametrosAdicionais = parameters; });
    const std::string operatorId = AnsiClaim(claims, "operator");
    stage([&] { fGatewaySettings.Operador = operatorId; });
    if (!FService.QrCodeOnPinpad()) {
      stage([&] { fGatewaySettings.Restricoes = "{DevolveStringQRCode=1}"; });
    }
    sale.Venda_Id = StrToInt(AnsiClaim(claims, "sale_id"));
    sale.Empresa_Id = StrToInt(AnsiClaim(claims, "company_id"));
    if (sale.Venda_Id <= 0) {
      RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid, "ID de venda não informado.");
      return;
    }
    sale.CallbackURL = AnsiClaim(claims, "callback_url");
    if (IsBlank(sale.CallbackURL)) {
      RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid,
                    "URL de callback não informada.");
      return;
    }
    if (!IsValidCallbackURL(sale.CallbackURL)) {
      RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid, "URL de callback inválida.");
      return;
    }
    // A token may not send reports where no sales system lives (the cloud's metadata address, a
    // link-local device) nor to the service's own endpoints: the same answer as a malformed
    // address, and the reason in the log.
    const std::string recusa = RefusedCallbackHost(
        sale.CallbackURL, ReadDestinationPolicy(FService.Config(), FService.Options().Port));
    if (!recusa.empty()) {
      Log("URL de callback recusada (" + recusa + "): " + sale.CallbackURL);
      RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid, "URL de callback inválida.");
      return;
    }
    if (IsPlainHttpOffLoopback(sale.CallbackURL)) WarnPlainHttpCallback(sale.CallbackURL);
    // The callback address is the base address with one "/" before the API's path.
    if (sale.CallbackURL.back() != '/') sale.CallbackURL += '/';
  } catch (const std::exception& e) {
    RefuseSession(pIdContext, metrics::TSessionRefusal::Invalid, e.what());
    return;
  }

  // From here an error escapes to the routing; the session is added only once its reply is
  // complete, so a failed reply leaves no session behind.
  const std::string sessionId = platform::NewGuidText();
  const auto expiration = FClock.Now() + kSessionLifetime;
  Json reply = Json::object();
  reply["type"] = "session";
  reply["status"] = "created";
  reply["message"] = "Sessão criada com sucesso.";
  reply["expiration"] = LocalToUTCISO8601(platform::FromTimePointLocal(expiration));
  reply["session_uuid"] = sessionId;
  reply["store_code"] = store;
  reply["terminal_number"] = terminal;
  const std::string text = WriteJson(reply);
  const size_t limit = MaxSessions();
  if (FSessionList.AddItem(limit, FClock.Now(), SessaoEmCurso(), sessionId, expiration,
                           pIdContext.Id(), std::move(sale)) > 0) {
    LogSessionLimit(limit);
  }
  pIdContext.MarkSessionStarted();
  SendClientMessage(pIdContext, text);
}

size_t TDmSitef::MaxSessions() const {
  const int32_t limit =
      FService.Config().ReadInteger("server", "max_sessions", kDefaultMaxSessions);
  return static_cast<size_t>(limit >= 1 ? limit : kDefaultMaxSessions);
}

// Logged at most once a minute, so a burst of session starts does not flood the log.
void TDmSitef::LogSessionLimit(size_t pLimit) {
  const auto now = FClock.Now();
  {
    std::lock_guard lock(fStateLock);
    if (fLastSessionLimitLog && now - *fLastSessionLimitLog < std::chrono::minutes(1)) return;
    fLastSessionLimitLog = now;
  }
  Log("Limite de " + std::to_string(pLimit) +
      " sessões atingido: a sessão mais antiga sem operação em curso foi encerrada.");
}

void TDmSitef::WarnPlainHttpCallback(const std::string& pCallbackURL) {
  {
    std::lock_guard lock(fStateLock);
    if (!fAvisosHttp.insert(pCallbackURL).second) return;
  }
  Log("Aviso: a URL de callback " + pCallbackURL +
      " usa http fora do loopback: os registros de transação trafegam sem criptografia.");
}

std::optional<TSession> TDmSitef::ValidateSession(const Json& pContent,
                                                  service::Connection& pIdContext) {
  try {
    const std::string sessionId = GetRequiredField(pContent, "session_uuid");
    std::optional<TSession> session = FSessionList.GetSession(sessionId);
    if (!session) {
      SendErrorMessage(pIdContext, "Sessão inválida.");
      return std::nullopt;
    }
    if (FClock.Now() >= session->Expiration()) {
      FSessionList.DeleteItem(sessionId);
      SendErrorMessage(pIdContext, "Sessão expirada.");
      return std::nullopt;
    }
    return session;
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, e.what());
    return std::nullopt;
  }
}

void TDmSitef::FinishSession(const Json& pContent, const TSession* pSession,
                             service::Connection& pIdContext) {
  if (GetRequiredField(pContent, "type") != "session") {
    SendErrorMessage(pIdContext, "Campo type diferente de session.");
    return;
  }
  try {
    Json reply = Json::object();
    reply["type"] = "session";
    reply["status"] = "finished";
    reply["message"] = "Sessão finalizada com sucesso.";
    SendJson(pIdContext, reply);
    FSessionList.DeleteItem(pSession->Session_UUID());
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, std::string("Erro ao finalizar sessão: ") + e.what());
  }
}

}  // namespace kelvora::protocol
