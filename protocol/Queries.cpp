// The non-payment queries: initialisation of SiTef, the pin-pad's presence, and the versions of
// the service and of the SiTef library.
#include "platform/FileVersion.h"
#include "protocol/DmSitef.h"
#include "tef/CliSiTefLibrary.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::protocol {
namespace {

struct TPinpadStatus {
  std::string_view Status;
  std::string_view Message;
};

// The gateway's answer as the client is told it; an answer not listed gives empty texts.
TPinpadStatus PinpadStatus(std::string_view presenca) {
  if (presenca == "PINPAD conectado com sucesso...") return {"connected", "PinPad conectado"};
  if (presenca == "Nenhum PINPAD conectado...") return {"disconnected", "Nenhum PinPad conectado"};
  if (presenca == "Erro na DLL ou arquivo .INI do PINPAD") {
    return {"error", "Erro na dll ou arquivo de configuração do PinPad"};
  }
  return {"", ""};
}

// Clears fProcessando when the pin-pad query that claimed it ends, however it ends.
class TProcessandoClaim {
 public:
  explicit TProcessandoClaim(std::atomic<bool>& flag) : fFlag(flag) {}
  ~TProcessandoClaim() { fFlag = false; }
  TProcessandoClaim(const TProcessandoClaim&) = delete;
  TProcessandoClaim& operator=(const TProcessandoClaim&) = delete;

 private:
  std::atomic<bool>& fFlag;
};

}  // namespace

void TDmSitef::InitializeSiTef(const Json& pContent, const TSession* pSession,
                               service::Connection& pIdContext) {
  if (GetRequiredField(pContent, "type") != "initialize") {
    SendErrorMessage(pIdContext, "Campo type diferente de initialize.");
    return;
  }
  try {
    {
      TKoCliSiTefAccess tef = AcquireKoCliSiTef(pIdContext, pSession);
      EnsureInicializado(*tef);
    }
    Json reply = Json::object();
    reply["type"] = "initialize";
    reply["message"] = "Inicializado com sucesso.";
    SendJson(pIdContext, reply);
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, std::string("Erro ao conectar com servidor TEF: ") + e.what());
  }
}

void TDmSitef::CheckPinpad(const Json& pContent, const TSession* pSession,
                           service::Connection& pIdContext) {
  if (GetRequiredField(pContent, "type") != "status") {
    SendErrorMessage(pIdContext, "Campo type diferente de pinpad.");
    return;
  }
  // A TEF operation in progress (a payment, or another pin-pad query) is not waited for: the
  // query is dropped without a reply. Claiming the flag before the component also keeps a
  // payment from starting while the pin-pad is being asked.
  if (fProcessando.exchange(true)) return;
  const TProcessandoClaim claim(fProcessando);
  try {
    std::string presenca;
    {
      TKoCliSiTefAccess tef = AcquireKoCliSiTef(pIdContext, pSession);
      EnsureInicializado(*tef);
      presenca = tef->TEFCliSiTef().VerificarPresencaPinPad();
    }
    const TPinpadStatus status = PinpadStatus(presenca);
    Json reply = Json::object();
    reply["type"] = "status";
    reply["status"] = std::string(status.Status);
    reply["message"] = std::string(status.Message);
    SendJson(pIdContext, reply);
  } catch (const std::exception& e) {
    SendErrorMessage(pIdContext, std::string("Erro ao verificar pinpad: ") + e.what());
  }
}

void TDmSitef::CheckFileVersion(const Json& pContent, const TSession*,
                                service::Connection& pIdContext) {
  if (GetRequiredField(pContent, "type") != "version") {
    SendErrorMessage(pIdContext, "Campo type diferente de version.");
    return;
  }
  try {
    const std::string category = GetRequiredField(pContent, "category");
    std::string version;
    if (category == "service_exe") {
      version = FServiceExeVersion;
    } else if (category == "clisitef_dll") {
      version = GetFileVersionText(QueriedLibraryFile());
    } else {
      SendErrorMessage(pIdContext,
                       "Categoria inválida. Valores permitidos [service_exe, clisitef_dll]");
      return;
    }
    Json reply = Json::object();
    reply["type"] = "version";
    reply["category"] = category;
    reply["version"] = version;
    SendJson(pIdContext, reply);
  } catch (const std::exception& e) {
    // The same prefix as the pin-pad query's, as clients have always received it.
    SendErrorMessage(pIdContext, std::string("Erro ao verificar pinpad: ") + e.what());
  }
}

// The library a version query examines: the one [sitef] library names, read now, so the answer is
// right before the first session start and after an edit; without that setting, the file under the
// gateway's folder as the last session start left it.
std::string TDmSitef::QueriedLibraryFile() const {
  const std::string configured = FService.Config().ReadString("sitef", "library", "");
  if (configured.find_first_not_of(" \t") != std::string::npos) {
    const tef::TLocalDLL library = tef::LocalizaDLL(FService.Options().BaseDir.string(), configured);
    return tef::NomeCompletoDLL(library.PathDLL, library.NomeDLL);
  }
  const TGatewaySettings settings = GatewaySettings();
  return tef::NomeCompletoDLL(settings.PathDLL, settings.NomeDLL);
}

std::string TDmSitef::GetFileVersionText(const std::string& pFileName) {
  return platform::ReadFileVersion(pFileName).value_or("Versão não encontrada");
}

}  // namespace kelvora::protocol
