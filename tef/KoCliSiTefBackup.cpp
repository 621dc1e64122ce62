// The backup files of approved payments: writing one, printing a non-payment receipt with its
// confirmation, confirming the leftovers of an earlier run and reversing pending payments.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/Utf8Path.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefClass.h"
#include "tef/KoCliSiTefRespTXT.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

// Backup numbers have three digits.
constexpr int kUltimoBackup = 999;

// The question asked when a printer command fails.
constexpr const char* kImpressoraNaoResponde =
    "Impressora não responde\r\nDeseja imprimir novamente ?";

// The modal result of a "yes" answer.
constexpr int kSim = 6;

// The key that marks a backup whose transaction the library has already settled.
constexpr int32_t kIdentificacaoEncerrado = 899;
constexpr int32_t kSequenciaEncerrado = 108;

bool Existe(const std::string& arquivo) {
  std::error_code erro;
  return std::filesystem::exists(platform::PathFromUtf8(arquivo), erro);
}

bool Vazio(const std::string& texto) {
  return Trim(texto).empty();
}

// The Delphi Pos test: a non-empty text that occurs somewhere in another.
bool OcorreEm(const std::string& trecho, const std::string& texto) {
  return !trecho.empty() && texto.find(trecho) != std::string::npos;
}

// "Destaque a 2ª Via" for copy 2.
std::string DestaqueVia(int via) {
  return "Destaque a " + std::to_string(via) + "ª Via";
}

// Sets a flag for the life of a scope and clears it however the scope ends.
class FlagDeEscopo {
 public:
  FlagDeEscopo(TKoCliSiTef& facade, bool valor) : facade_(facade) {
    facade_.SetTransacaoConfirmada(valor);
  }
  FlagDeEscopo(const FlagDeEscopo&) = delete;
  FlagDeEscopo& operator=(const FlagDeEscopo&) = delete;
  ~FlagDeEscopo() { facade_.SetTransacaoConfirmada(false); }

 private:
  TKoCliSiTef& facade_;
};

}  // namespace

std::string TKoCliSiTefClass::NomeBackup(int numero) const {
  return fOwner.PathBackup() + "/KoCliSiTef_" + fName + "_" + PreencheZeros(numero, 3) + ".tef";
}

std::string TKoCliSiTefClass::MascaraBackup() const {
  return fOwner.PathBackup() + "/KoCliSiTef_" + fName + "_*.tef";
}

std::unique_ptr<TKoCliSiTefResp> TKoCliSiTefClass::CriarRespostaPendente(TKoCliSiTefTipo Tipo) {
  if (Tipo == gpCliSiTef) return std::make_unique<TKoCliSiTefResp>();
  return std::make_unique<TKoCliSiTefRespTXT>();
}

std::string TKoCliSiTefClass::CopiarResposta() {
  std::string Arquivo;
  for (int numero = 1; numero <= kUltimoBackup && Arquivo.empty(); ++numero) {
    if (!Existe(NomeBackup(numero))) Arquivo = NomeBackup(numero);
  }
  if (Arquivo.empty()) {
    throw EKoCliSiTefArquivo("Não há número livre para um novo arquivo de backup (limite de " +
                             std::to_string(kUltimoBackup) + " arquivos) em:\r\n" +
                             fOwner.PathBackup());
  }
  GravaLog(fOwner.Name() + " CopiarResposta: " + fResp->Header() + " - " +
           std::to_string(fResp->ID()) + " Arq: " + Arquivo);
  fResp->Conteudo().GravarArquivo(Arquivo, true);
  fResp->SetArqBackup(Arquivo);
  return Arquivo;
}

void TKoCliSiTefClass::EncerrarBackup(const std::string& Arquivo) {
  if (Arquivo.empty()) return;
  try {
    // The file on disk is marked as it stands, so that nothing it does not already hold is written.
    TKoCliSiTefArquivo conteudo;
    conteudo.LeArquivo(Arquivo);
    conteudo.GravaInformacao(kIdentificacaoEncerrado, kSequenciaEncerrado,
                             platform::AnsiBytes("S"));
    conteudo.GravarArquivo(Arquivo, true);
  } catch (const std::exception& e) {
    GravaLog(fName + " EncerrarBackup: " + Arquivo + " - " + e.what());
  }
  ApagaArquivo(Arquivo);
}

bool TKoCliSiTefClass::BackupEncerrado(const TKoCliSiTefResp& Resposta) {
  return Resposta.Conteudo()
             .LeInformacao(kIdentificacaoEncerrado, kSequenciaEncerrado)
             .AsString() == platform::AnsiBytes("S");
}

// A leftover the library has already settled: it is only deleted. True when the file was one.
bool TKoCliSiTefClass::ApagaSeEncerrado(const std::string& Arquivo, const char* Origem) {
  if (!BackupEncerrado(*fResp)) return false;
  ApagaArquivo(Arquivo);
  GravaLog(fName + " " + Origem + ": transação já finalizada, arquivo apagado: " + Arquivo);
  return true;
}

void TKoCliSiTefClass::ImprimirRelatorio() {
  VerificaRequisicaoIniciada();
  if (fResp->QtdLinhasComprovante() <= 0) return;
  GravaLog(fName + " ImprimirRelatorio: ");
  CopiarResposta();

  fOwner.BloquearMouseTeclado(true);
  bool Impresso = false;
  for (;;) {
    bool MsgExibida = false;
    auto Inicio = std::chrono::steady_clock::now();
    // Ends the display of the special texts: after a print they stay at least five seconds.
    auto removerMensagens = [&] {
      if (!MsgExibida) return;
      if (Impresso) fOwner.EsperarAte(Inicio + std::chrono::seconds(5));
      fOwner.DoExibeMsg(opmRemoverMsgOperador, "");
      fOwner.DoExibeMsg(opmRemoverMsgCliente, "");
    };
    try {
      Impresso = false;
      if (const char estado = fOwner.EstadoECF(); estado != 'L') {
        if (estado == 'C') fOwner.ComandarECF(opeFechaVinculado);
        if (estado == 'G' || estado == 'R') fOwner.ComandarECF(opeFechaGerencial);
        if (estado == 'N' || estado == 'P' || estado == 'V') fOwner.ComandarECF(opeCancelaCupom);
        if (fOwner.EstadoECF() != 'L') throw EKoCliSiTefECF("ECF não está LIVRE");
      }
      Inicio = std::chrono::steady_clock::now();
      if (!fResp->TextoEspecialOperador().empty()) {
        fOwner.DoExibeMsg(opmExibirMsgOperador, fResp->TextoEspecialOperador());
        MsgExibida = true;
      }
      if (!fResp->TextoEspecialCliente().empty()) {
        fOwner.DoExibeMsg(opmExibirMsgCliente, fResp->TextoEspecialCliente());
        MsgExibida = true;
      }
      bool RelatorioAberto = false;
      for (int Via = 1; Via <= fNumVias; ++Via) {
        const std::vector<std::string>& imagem =
            Via == 1 ? fResp->ImagemComprovante1aVia() : fResp->ImagemComprovante2aVia();
        if (imagem.empty()) continue;
        if (!RelatorioAberto) {
          fOwner.ComandarECF(opeAbreGerencial);
          RelatorioAberto = true;
        } else {
          fOwner.ComandarECF(opePulaLinhas);
          fOwner.DoExibeMsg(opmDestaqueVia, DestaqueVia(Via));
        }
        fOwner.ECFImprimeVia(trGerencial, Via, imagem);
      }
      if (RelatorioAberto) fOwner.ComandarECF(opeFechaGerencial);
      Impresso = true;
      removerMensagens();
    } catch (const EKoCliSiTefECF&) {
      Impresso = false;
      removerMensagens();
    } catch (...) {
      removerMensagens();
      fOwner.BloquearMouseTeclado(false);
      throw;
    }
    if (Impresso || fOwner.DoExibeMsg(opmYesNo, kImpressoraNaoResponde) != kSim) break;
  }

  if (Existe(fResp->ArqBackup())) {
    bool finalizado = false;
    try {
      if (Impresso) {
        CNF();
      } else {
        NCN();
      }
      finalizado = true;
    } catch (...) {
      // The outcome stays with the library; the report's own result is raised below.
    }
    try {
      if (finalizado) {
        EncerrarBackup(fResp->ArqBackup());
      } else {
        ApagaArquivo(fResp->ArqBackup());
      }
    } catch (const std::exception& e) {
      // Confirmed or undone exactly once here; the file left behind (logged) is marked as settled
      // and only deleted by the next pass.
      GravaLog(fName + " ImprimirRelatorio: " + e.what());
    }
  }
  fOwner.BloquearMouseTeclado(false);
  if (!Impresso) throw EKoCliSiTefECF("Impressão de Relatório Falhou");
}

void TKoCliSiTefClass::ConfirmarTransacoesPendentesClass() {
  TKoCliSiTefRespostasPendentes& pendentes = fOwner.RespostasPendentes();
  pendentes.Clear();
  // Leftovers the library has already settled are only deleted: they were confirmed and reported
  // (or undone) before the file could go, and count as no leftover, even when they cannot go now.
  std::vector<std::string> arquivos;
  for (const std::string& arquivo : ListaArquivos(MascaraBackup(), true)) {
    try {
      fResp->LeArquivo(arquivo);
      if (ApagaSeEncerrado(arquivo, "ConfirmarTransacoesPendentesClass")) continue;
    } catch (const std::exception& e) {
      if (BackupEncerrado(*fResp)) {
        GravaLog(fName + " ConfirmarTransacoesPendentesClass: " + arquivo + " - " + e.what());
        continue;
      }
      // Unread, it stays in the pass below, which logs its failure.
    }
    arquivos.push_back(arquivo);
  }
  const bool Found = !arquivos.empty();
  // The flag belongs to this pass only: payments made later in the process must be confirmed in
  // the library as usual.
  const FlagDeEscopo confirmando(fOwner, Found);

  std::string NSUs;
  std::string Documentos;
  // Each leftover is taken up once per pass: one whose confirmation fails stays on disk for the
  // next start-up instead of being retried here without end.
  for (const std::string& arquivo : arquivos) {
    if (!Existe(arquivo)) continue;
    try {
      fResp->LeArquivo(arquivo);
      if (ApagaSeEncerrado(arquivo, "ConfirmarTransacoesPendentesClass")) continue;
      ConfirmarBackup();
      std::unique_ptr<TKoCliSiTefResp> copia = CriarResposta();
      copia->Assign(*fResp);
      copia->SetPendente(true);
      pendentes.Add(std::move(copia));
      if (!Vazio(fResp->NSU())) NSUs += fResp->NSU() + "\r\n";
      if (!Vazio(fResp->DocumentoVinculado())) Documentos += fResp->DocumentoVinculado() + "\r\n";
      // Confirmed and about to be reported: a file that cannot be deleted stays marked, so that
      // no reversal undoes it and no later start-up confirms or reports it again.
      EncerrarBackup(arquivo);
    } catch (const std::exception& e) {
      GravaLog(fName + " ConfirmarTransacoesPendentesClass: " + arquivo + " - " + e.what());
    }
  }

  try {
    if (fOwner.OnDepoisConfirmarTransacoes && pendentes.Count() > 0) {
      fOwner.OnDepoisConfirmarTransacoes(pendentes);
    }
  } catch (...) {
    pendentes.Clear();
    throw;
  }
  pendentes.Clear();

  if (Found) {
    fOwner.DoExibeMsg(opmOK, "Transação TEF efetuada.\r\nFavor reimprimir último Cupom.\r\nNSU: " +
                                 NSUs + "\r\nNº Documento: " + Documentos +
                                 "\r\n(Para Cielo utilizar os 6 últimos dígitos.)");
  }
}

std::vector<std::string> TKoCliSiTefClass::ArquivosBackup() const {
  return ListaArquivos(MascaraBackup(), true);
}

void TKoCliSiTefClass::CancelarTransacoesPendentesClass(
    const std::function<bool(const std::string&)>& pIncluir) {
  GravaLog(fName + " CancelarTransacoesPendentesClass ");
  std::vector<std::string> lista = ListaArquivos(MascaraBackup(), true);
  if (pIncluir) std::erase_if(lista, [&](const std::string& nome) { return !pIncluir(nome); });

  // Unconfirmed and CNC/ADM backups go first, confirmed payments after them.
  size_t i = 0;
  size_t j = lista.empty() ? 0 : lista.size() - 1;
  while (i < j) {
    bool primeiro = false;
    try {
      fResp->LeArquivo(lista[j]);
      primeiro = OcorreEm(fResp->Header(), "CNC,ADM") || !fResp->CNFEnviado();
    } catch (const std::exception&) {
      // An unreadable file keeps its place; the pass below contains its failure.
    }
    if (primeiro) {
      std::string nome = std::move(lista[j]);
      lista.erase(lista.begin() + static_cast<std::ptrdiff_t>(j));
      lista.insert(lista.begin() + static_cast<std::ptrdiff_t>(i), std::move(nome));
      ++i;
    } else {
      --j;
    }
  }

  std::vector<std::unique_ptr<TKoCliSiTefResp>> Feitos;
  // A record already reversed: same network, NSU, finalisation and amount for file-exchange
  // records, the same document number for any other.
  auto jaTratado = [&](const TKoCliSiTefResp& resp) {
    for (const auto& feito : Feitos) {
      if (dynamic_cast<const TKoCliSiTefRespTXT*>(feito.get()) != nullptr || fTipo == gpVeSPague) {
        if (feito->Rede() == resp.Rede() && feito->NSU() == resp.NSU() &&
            feito->Finalizacao() == resp.Finalizacao() &&
            feito->ValorTotal() == resp.ValorTotal()) {
          return true;
        }
      } else if (feito->DocumentoVinculado() == resp.DocumentoVinculado()) {
        return true;
      }
    }
    return false;
  };

  // One attempt per file and pass: a backup whose reversal fails stays on disk for a later pass.
  for (const std::string& arquivo : lista) {
    if (!Existe(arquivo)) continue;
    try {
      fResp->LeArquivo(arquivo);
      if (ApagaSeEncerrado(arquivo, "CancelarTransacoesPendentesClass")) continue;
      if (jaTratado(*fResp)) {
        ApagaArquivo(arquivo);
        continue;
      }
      std::unique_ptr<TKoCliSiTefResp> Item = CriarRespostaPendente(fTipo);
      Item->Assign(*fResp);
      if (fOwner.OnAntesCancelarTransacao) {
        try {
          fOwner.OnAntesCancelarTransacao(*Item);
        } catch (...) {
          // The application's notice does not stop the reversal.
        }
      }
      if (!fResp->CNFEnviado() || fResp->Header() == "CHQ") {
        DesfazerBackup();
      } else if (!CNC()) {
        throw EKoCliSiTefErro("CNC nao efetuado");
      }
      EncerrarBackup(arquivo);
      Feitos.push_back(std::move(Item));
    } catch (const std::exception& e) {
      GravaLog(fName + " CancelarTransacoesPendentesClass: " + arquivo + " - " + e.what());
    }
  }
}

}  // namespace kelvora::tef
