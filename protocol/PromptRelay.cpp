// The prompt relay of a running dialogue: every prompt of the SiTef library reaches the client of
// the transaction as a JSON message, every answer read back on the same connection goes into the
// component's output parameters, and the client's wish to cancel is noticed, confirmed and passed
// to the library.
#include <chrono>
#include <thread>

#include "platform/Ansi.h"
#include "protocol/Convert.h"
#include "protocol/DmSitef.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::protocol {
namespace {

using namespace std::chrono_literals;

// How long the library's interruption check waits for the client to say something.
constexpr auto kEsperaEntrada = 100ms;
// The receipt countdown: its length and the pause between two of its messages.
constexpr auto kDestaqueVia = 3000ms;
constexpr auto kPassoDestaqueVia = 500ms;

constexpr int kModalNenhum = 0;
constexpr int kModalOk = 1;
constexpr int kModalSim = 6;
constexpr int kModalNao = 7;

// Raised where the client sent JSON that is not an object where one was expected.
[[noreturn]] void FalhaNaoObjeto() {
  throw EConvertError("Invalid class typecast");
}

// Blanks and control characters cut from both ends, as the client's answers are compared.
std::string_view Aparado(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// A Windows-1252 letter in lower case: A-Z and the accented capitals (0xC0 to 0xDE, but for the
// multiplication sign 0xD7).
char Minuscula(char c) {
  const auto b = static_cast<unsigned char>(c);
  if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) {
    return static_cast<char>(b + 0x20);
  }
  return c;
}

bool IgualSemCaixa(const platform::AnsiString& a, const platform::AnsiString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Minuscula(a[i]) != Minuscula(b[i])) return false;
  }
  return true;
}

// A "/transaction" message that asks for a new dialogue rather than answering a prompt.
bool IsTransactionRequest(const Json& message) {
  const auto type = message.find("type");
  if (type == message.end()) return false;
  const std::string text = ValueAsText(*type);
  return text == "transaction" || text == "cancellation" || text == "reprint";
}

}  // namespace

// The session a message read by the dialogue's own waits names; one that names none is the
// dialogue's, as it came on the connection running it.
std::string TDmSitef::SessionNamedBy(const Json& pMessage) const {
  const auto named = pMessage.find("session_uuid");
  if (named != pMessage.end()) return ValueAsText(*named);
  return SessaoEmCurso();
}

std::string TDmSitef::SessaoEmCurso() const {
  std::lock_guard lock(fStateLock);
  return fSessaoEmCurso;
}

namespace {

const char* NomeOperacaoCampo(tef::TKoCliSiTefCliSiTefOperacaoCampo Operacao) {
  switch (Operacao) {
    case tef::tcString:
      return "string";
    case tef::tcCurrency:
      return "currency";
    case tef::tcCMC7:
      return "cmc7";
    case tef::tcBarCode:
      return "barcode";
    case tef::tcSeguranca:
      return "segurança";
  }
  return "";
}

}  // namespace

int32_t TDmSitef::MenuItemIndex(const std::vector<std::string>& pOpcoes,
                                std::string_view pResponse) {
  const platform::AnsiString resposta = platform::ToAnsi(Aparado(pResponse));
  for (size_t i = 0; i < pOpcoes.size(); ++i) {
    if (IgualSemCaixa(platform::ToAnsi(pOpcoes[i]), resposta)) return static_cast<int32_t>(i);
  }
  return -1;
}

void TDmSitef::CancelTransactionRoute(const Json& pContent, const TSession* pSession,
                                      service::Connection&) {
  CancelTransactionInProgress(pContent, pSession != nullptr ? pSession->Session_UUID() : "");
}

void TDmSitef::CancelTransactionInProgress(const Json& pContent, std::string_view pSession_UUID) {
  if (GetRequiredField(pContent, "type") != "cancellation") return;
  {
    // Only the session that started a dialogue may cancel it: another tab or page, with a session
    // of its own, must not be able to stop someone else's payment.
    std::lock_guard lock(fStateLock);
    if (!fSessaoEmCurso.empty() && pSession_UUID != fSessaoEmCurso) {
      Log("Cancelamento ignorado: a transação em andamento foi iniciada por outra sessão.");
      return;
    }
  }
  Log("Entrou no cancelamento.");
  if (fPodeCancelar) {
    fCancelado = true;
    Log("Setou no cancelamento = true");
  } else {
    Log("Não pode cancelar");
  }
}

void TDmSitef::SetCanCancel(bool value) {
  fPodeCancelar = value;
  if (FIdContext == nullptr) return;
  Json message = Json::object();
  message["type"] = "can_cancel";
  message["can_cancel"] = value;
  SendJson(*FIdContext, message);
}

void TDmSitef::AnnounceCancelEnded() {
  if (fPodeCancelar) SetCanCancel(false);
}

void TDmSitef::SendPrompt(std::string_view pType, const std::string& pMessage,
                          std::initializer_list<std::string_view> pOptions) {
  Json options = Json::array();
  for (const std::string_view option : pOptions) options.push_back(std::string(option));
  Json prompt = Json::object();
  prompt["type"] = std::string(pType);
  prompt["message"] = pMessage;
  prompt["options"] = std::move(options);
  prompt["can_cancel"] = false;
  // The confirmation that follows payments of an earlier process confirmed just now is theirs.
  if (pType == "confirmation" && !fRecuperadas.empty()) {
    prompt["sale_id"] = fRecuperadas.back().Venda_Id;
    if (!fRecuperadas.back().Chave.empty()) prompt["idempotency_key"] = fRecuperadas.back().Chave;
    prompt["recovered"] = true;
  }
  SendJson(*FIdContext, prompt);
}

std::optional<Json> TDmSitef::WaitClientMessage() {
  {
    std::unique_lock lock(fRespCancLock);
    fRespCancLivre.wait(lock, [this] { return !FAguardandoRespCanc; });
  }
  for (;;) {
    // A message the listener kept answers one wait only.
    std::string text = std::exchange(fLastContentReceived, {});
    while (text.empty()) FIdContext->DecodeWebSocketFrame(text);

    std::optional<Json> message = ParseJson(text);
    if (!message) return std::nullopt;
    if (!message->is_object()) FalhaNaoObjeto();
    std::string route;
    try {
      route = GetRequiredField(*message, "route");
    } catch (const EJsonFieldMissing& e) {
      SendErrorMessage(*FIdContext, e.what());
    }
    if (route == "/transaction/cancel") {
      CancelTransactionInProgress(*message, SessionNamedBy(*message));
      // A cancellation that does not stand (the permission had ended, or another session sent
      // it) leaves the prompt waiting for its answer rather than ending it unanswered.
      if (!fCancelado) continue;
    }
    if (route == "/transaction/status") {
      // Asked on the dialogue's own connection: answered, and the prompt goes on waiting.
      AnswerStatusDuringDialogue(*message);
      continue;
    }
    if (route != "/transaction") return std::nullopt;
    // A new request sent while this dialogue runs is dropped without a reply, as it would be
    // from any other connection, and the prompt goes on waiting for its answer.
    if (!IsTransactionRequest(*message)) return message;
  }
}

void TDmSitef::AnswerStatusDuringDialogue(const Json& pMessage) {
  const std::optional<TSession> session = ValidateSession(pMessage, *FIdContext);
  if (session) TransactionStatus(pMessage, &*session, *FIdContext);
}

void TDmSitef::ListenForCancellation() {
  if (fCancelado) return;
  FProcessandoMsg = true;
  {
    std::lock_guard lock(fRespCancLock);
    FAguardandoRespCanc = true;
  }
  fLastContentReceived.clear();
  const auto encerrar = [this] {
    FProcessandoMsg = false;
    {
      std::lock_guard lock(fRespCancLock);
      FAguardandoRespCanc = false;
    }
    fRespCancLivre.notify_all();
  };
  try {
    std::string text;
    FIdContext->DecodeWebSocketFrame(text);
    if (!text.empty()) {
      const std::optional<Json> message = ParseJson(text);
      if (!message || !message->is_object()) FalhaNaoObjeto();
      if (message->value("route", Json()) == "/transaction/status") {
        // Answered now, not at the next prompt: the library may wait a long while.
        AnswerStatusDuringDialogue(*message);
      } else if (GetRequiredField(*message, "type") == "cancellation") {
        if (SessionNamedBy(*message) != SessaoEmCurso()) {
          Log("Cancelamento ignorado: a transação em andamento foi iniciada por outra sessão.");
        } else if (fPodeCancelar) {
          fCancelado = true;
        }
      } else {
        fLastContentReceived = std::move(text);
      }
    }
  } catch (...) {
    encerrar();
    throw;
  }
  encerrar();
}

void TDmSitef::KoCliSiTefAguardaResp(const std::string& Arquivo, int32_t, bool& Interromper) {
  if (KoCliSiTef.GPAtual() == tef::gpCliSiTef && Arquivo == "23" && !fPodeCancelar &&
      fUltimaMsg != "Retire o cartao da leitora") {
    SetCanCancel(true);
  }
  if (!FProcessandoMsg && FIdContext != nullptr && FIdContext->WaitForInput(kEsperaEntrada)) {
    ListenForCancellation();
  }
  if (fCancelado.exchange(false)) {
    Interromper = true;
    fInterrompido = true;
  }
}

void TDmSitef::KoCliSiTefMudaEstadoResp(tef::TKoCliSiTefRespEstado EstadoResp) {
  const bool podeCancelar = EstadoResp == tef::respAguardandoResposta;
  if (podeCancelar != fPodeCancelar) SetCanCancel(podeCancelar);
}

void TDmSitef::KoCliSiTefMudaEstadoReq(tef::TKoCliSiTefReqEstado) {
  fCancelado = false;
}

void TDmSitef::KoCliSiTefExibeMsg(tef::TKoCliSiTefOperacaoMensagem Operacao,
                                  const std::string& Mensagem, int& AModalResult) {
  if (FIdContext == nullptr) return;
  try {
    AnnounceCancelEnded();
    if (!Mensagem.empty() && Operacao != tef::opmRemoverMsgOperador &&
        Operacao != tef::opmRemoverMsgCliente) {
      fUltimoTextoDialogo = Mensagem;
    }
    ControlDisplayMessage(Mensagem, Operacao, AModalResult);
  } catch (const std::exception& e) {
    // The dialogue goes on.
    try {
      SendErrorMessage(*FIdContext, e.what());
    } catch (const std::exception&) {
      // A connection that cannot take the error reply either is noticed by the next read.
    }
  }
}

void TDmSitef::ControlDisplayMessage(const std::string& pMessage,
                                     tef::TKoCliSiTefOperacaoMensagem pOperation,
                                     int& pModalResult) {
  switch (pOperation) {
    case tef::opmOK:
      SendPrompt("confirmation", pMessage, {"Ok"});
      WaitQuestionAnswer(pModalResult);
      if (pMessage == "Sem conexao SiTef") fCancelado = true;
      break;
    case tef::opmYesNo:
      SendPrompt("question", pMessage, {"Sim", "Não"});
      WaitQuestionAnswer(pModalResult);
      break;
    case tef::opmYesNoCustom:
      SendPrompt("question", pMessage, {"Sim", "Não", "Reimprimir"});
      WaitQuestionAnswer(pModalResult);
      break;
    case tef::opmExibirMsgOperador:
    case tef::opmRemoverMsgOperador:
    case tef::opmExibirMsgCliente:
    case tef::opmQRCode:
      SendPrompt("message", pMessage, {});
      break;
    case tef::opmRemoverMsgCliente:
      break;
    case tef::opmDestaqueVia:
      DestaqueVia(pMessage);
      break;
    case tef::opmExcept:
      // The library's final word on a failed dialogue (a refusal, a lost connection, the
      // operator's cancellation). It does not mark the dialogue as cancelled: whether the client
      // cancelled it is known from fInterrompido and fCancelado, so that a refusal is reported
      // "unauthorized".
      SendPrompt("confirmation", pMessage, {});
      WaitQuestionAnswer(pModalResult);
      break;
  }
}

// About six messages counting down from 2 to 0 over three seconds, then the plain text, which is
// sent also when the countdown fails. The transaction's thread holds only the component's lock
// while it sleeps.
void TDmSitef::DestaqueVia(const std::string& pMessage) {
  fUltimaMsg = pMessage;
  const auto prazo = std::chrono::steady_clock::now() + kDestaqueVia;
  try {
    do {
      std::this_thread::sleep_for(kPassoDestaqueVia);
      const auto restam = std::chrono::duration_cast<std::chrono::seconds>(
          prazo - std::chrono::steady_clock::now());
      SendPrompt("message", pMessage + " " + std::to_string(restam.count()), {});
    } while (std::chrono::steady_clock::now() <= prazo);
  } catch (...) {
    SendPrompt("message", fUltimaMsg, {});
    throw;
  }
  SendPrompt("message", fUltimaMsg, {});
}

void TDmSitef::WaitQuestionAnswer(int& ModalResult) {
  const std::optional<Json> answer = WaitClientMessage();
  if (!answer) return;
  const std::string type = GetRequiredField(*answer, "type");
  if (type == "confirmation") {
    ModalResult = kModalNenhum;
    return;
  }
  if (type != "question") return;
  const std::string response = GetRequiredField(*answer, "response");
  if (response == "Sim") ModalResult = kModalSim;
  if (response == "Não") ModalResult = kModalNao;
  if (response == "Reimprimir") ModalResult = kModalOk;
}

bool TDmSitef::ConfirmCancellation() {
  SendPrompt("question", "Deseja realmente cancelar esta operação?", {"Sim", "Não"});
  int resultado = kModalNenhum;
  WaitQuestionAnswer(resultado);
  if (resultado == kModalNao) fCancelado = false;
  return fCancelado;
}

void TDmSitef::WaitMenuAnswer(const std::vector<std::string>& Opcoes, int32_t& ItemSelecionado,
                              bool& VoltarMenu) {
  const std::optional<Json> answer = WaitClientMessage();
  if (!answer || GetRequiredField(*answer, "type") != "menu") return;
  const std::string response = GetRequiredField(*answer, "response");
  if (!Aparado(response).empty()) {
    ItemSelecionado = MenuItemIndex(Opcoes, response);
    return;
  }
  if (GetRequiredField(*answer, "back_menu") == "true") VoltarMenu = true;
  fCancelado = true;
}

bool TDmSitef::WaitFieldAnswer(platform::AnsiString& Resposta, bool& VoltarMenu) {
  const std::optional<Json> answer = WaitClientMessage();
  if (!answer || GetRequiredField(*answer, "type") != "collect") return false;
  if (GetRequiredField(*answer, "typed") == "true") {
    Resposta = platform::ToAnsi(GetRequiredField(*answer, "response"));
    return true;
  }
  if (GetRequiredField(*answer, "back_menu") == "true") {
    VoltarMenu = true;
    return true;
  }
  fCancelado = true;
  return false;
}

// A cancellation the client confirms ends the dialogue at once: the menu comes back without a
// selection and without going back, which the loop passes to the library as an abort. When the
// client declines it, a menu left without a selection is shown again, so that "Não" keeps the
// dialogue where it was.
void TDmSitef::KoCliSiTefExibeMenu(const std::string& Titulo,
                                   const std::vector<std::string>& Opcoes, int32_t& ItemSelecionado,
                                   bool& VoltarMenu) {
  if (FIdContext == nullptr) return;
  AnnounceCancelEnded();
  for (;;) {
    Json menu = Json::object();
    menu["type"] = "menu";
    menu["title"] = Titulo;
    menu["options"] = Opcoes;
    menu["can_cancel"] = false;
    menu["back_menu"] = false;
    SendJson(*FIdContext, menu);
    WaitMenuAnswer(Opcoes, ItemSelecionado, VoltarMenu);
    if (!fCancelado) return;
    if (ConfirmCancellation()) {
      ItemSelecionado = -1;
      VoltarMenu = false;
      fInterrompido = true;
      return;
    }
    const bool escolhido =
        ItemSelecionado >= 0 && static_cast<size_t>(ItemSelecionado) < Opcoes.size();
    if (escolhido || VoltarMenu) return;
  }
}

// As for the menu: a confirmed cancellation answers "not typed" (an abort), a declined one shows
// the field again when the client had neither typed a value nor gone back, instead of sending the
// library an empty answer.
void TDmSitef::KoCliSiTefObtemCampo(const std::string& Titulo, int32_t TamanhoMinimo,
                                    int32_t TamanhoMaximo, int32_t TipoCampo,
                                    tef::TKoCliSiTefCliSiTefOperacaoCampo Operacao,
                                    platform::AnsiString& Resposta, bool& Digitado,
                                    bool& VoltarMenu) {
  if (FIdContext == nullptr) return;
  AnnounceCancelEnded();
  for (;;) {
    Json collect = Json::object();
    collect["type"] = "collect";
    collect["title"] = Titulo;
    collect["minimum_size"] = TamanhoMinimo;
    collect["maximum_size"] = TamanhoMaximo;
    collect["field_type"] = TipoCampo;
    collect["field_operation"] = NomeOperacaoCampo(Operacao);
    collect["can_cancel"] = false;
    collect["back_menu"] = VoltarMenu;
    collect["typed"] = Digitado;
    SendJson(*FIdContext, collect);
    const bool respondido = WaitFieldAnswer(Resposta, VoltarMenu);
    if (!fCancelado) return;
    if (ConfirmCancellation()) {
      Digitado = false;
      VoltarMenu = false;
      fInterrompido = true;
      return;
    }
    if (respondido) return;
  }
}

void TDmSitef::KoCliSiTefExibeQRCode(const std::string& QRCode) {
  if (FIdContext == nullptr) return;
  AnnounceCancelEnded();
  Json message = Json::object();
  message["type"] = "qrcode";
  message["data"] = QRCode;
  SendJson(*FIdContext, message);
}

}  // namespace kelvora::protocol
