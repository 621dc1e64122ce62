// The base of every payment gateway (GP) the facade drives: the operations each gateway offers,
// its current response record, the amount checks before a payment, the TEF log, and the backup
// files that keep every approved payment until it is confirmed or reversed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ansi.h"
#include "platform/Currency.h"
#include "platform/DateTime.h"
#include "tef/KoCliSiTefErro.h"
#include "tef/KoCliSiTefObjectList.h"
#include "tef/KoCliSiTefResp.h"
#include "tef/KoCliSiTefTipos.h"

namespace kelvora::tef {

class TKoCliSiTef;

class TKoCliSiTefClass {
 public:
  // A gateway always belongs to the facade that creates it (the owner is a reference, so a
  // gateway without a facade cannot be built). Resp is the gateway's response record, of the
  // gateway's own record class. Sets the facade's request and response states to reqNenhum and
  // respNenhum.
  TKoCliSiTefClass(TKoCliSiTef& AOwner, std::string Name, TKoCliSiTefTipo Tipo,
                   std::unique_ptr<TKoCliSiTefResp> Resp);
  TKoCliSiTefClass(const TKoCliSiTefClass&) = delete;
  TKoCliSiTefClass& operator=(const TKoCliSiTefClass&) = delete;
  virtual ~TKoCliSiTefClass() = default;

  const std::string& Name() const { return fName; }
  TKoCliSiTef& Owner() const { return fOwner; }
  TKoCliSiTefTipo Tipo() const { return fTipo; }

  // The TEF log file; empty means no log.
  const std::string& ArqLOG() const { return fArqLOG; }
  void SetArqLOG(std::string value) { fArqLOG = std::move(value); }
  // The gateway takes part in operations addressed to every gateway (gpNenhum).
  bool Habilitado() const { return fHabilitado; }
  void SetHabilitado(bool value) { fHabilitado = value; }
  // Start the payment program automatically when it does not answer (stored).
  bool AutoAtivarGP() const { return fAutoAtivarGP; }
  void SetAutoAtivarGP(bool value) { fAutoAtivarGP = value; }
  // Reading gives the state; writing true runs Inicializar, false DesInicializar.
  bool Inicializado() const { return fInicializado; }
  void SetInicializado(bool value);
  // A dialogue is running and waits for its answer.
  bool AguardandoResposta() const { return fAguardandoResposta; }
  // Copies of each receipt to print.
  int32_t NumVias() const { return fNumVias; }
  virtual void SetNumVias(int32_t Value) { fNumVias = Value; }
  // The number of the last request (the fiscal document number of the last dialogue).
  int32_t IDSeq() const { return fpIDSeq; }

  TKoCliSiTefResp& Resp() { return *fResp; }
  const TKoCliSiTefResp& Resp() const { return *fResp; }

  // A new, empty record of the gateway's response class.
  virtual std::unique_ptr<TKoCliSiTefResp> CriarResposta() const = 0;

  // The operations every gateway offers.
  virtual void Inicializar() = 0;
  // Marks the gateway uninitialised and logs Name + " DesInicializado".
  virtual void DesInicializar();
  virtual void AtivarGP() = 0;
  virtual void VerificaAtivo() = 0;
  virtual void ATV() = 0;
  virtual bool ADM() = 0;
  virtual bool CRT(platform::Currency Valor, const std::string& IndiceFPG_ECF,
                   const std::string& NumeroCartao, const std::string& DataVencimento,
                   const std::string& CVV, const std::string& QtdParcela,
                   const std::string& DocumentoVinculado, int32_t Moeda) = 0;
  virtual bool CHQ(platform::Currency Valor, const std::string& IndiceFPG_ECF,
                   const std::string& DocumentoVinculado, const std::string& CMC7,
                   char TipoPessoa, const std::string& DocumentoPessoa,
                   platform::TDateTime DataCheque, const std::string& Banco,
                   const std::string& Agencia, const std::string& AgenciaDC,
                   const std::string& Conta, const std::string& ContaDC,
                   const std::string& Cheque, const std::string& ChequeDC,
                   const std::string& Compensacao) = 0;
  // Undoes, confirms or cancels a transaction. The forms without arguments act on the current
  // response (its network, NSU, finalisation data, amount and document number).
  void NCN();
  virtual void NCN(const std::string& Rede, const std::string& NSU, const std::string& Finalizacao,
                   platform::Currency Valor, const std::string& DocumentoVinculado) = 0;
  void CNF();
  virtual void CNF(const std::string& Rede, const std::string& NSU, const std::string& Finalizacao,
                   const std::string& DocumentoVinculado) = 0;
  bool CNC();
  virtual bool CNC(const std::string& Rede, const std::string& NSU,
                   platform::TDateTime DataHoraTransacao, platform::Currency Valor) = 0;
  virtual int32_t LerTrilha3(platform::AnsiString& AResposta) = 0;
  virtual int32_t LerCartaoSeguro() = 0;
  // Success processing of a non-payment response and of a payment response.
  virtual void ProcessarResposta() = 0;
  virtual bool ProcessarRespostaPagamento(const std::string& IndiceFPG_ECF,
                                          platform::Currency Valor) = 0;
  // Fails unless a request (a dialogue) was started and not yet finalised.
  virtual void VerificaRequisicaoIniciada() = 0;

  // Checks an amount before a payment: rounded to cents (ties to the even cent) it must be
  // positive, it becomes the pending list's SaldoAPagar, it may not exceed the balance by more
  // than the facade's TrocoMaximo, and a multi-card sale may not hold more cards than allowed.
  void VerificaValor(platform::Currency Valor);
  // Appends "-- dd/mm hh:nn:ss:zzz - " + the text (UTF-8, written in Windows-1252) and CR LF to
  // ArqLOG, the text's control characters escaped (EscapeLogText) so that it stays one line.
  // Nothing without a log file; a failure to write is ignored.
  void GravaLog(std::string_view AString) const noexcept;
  // The same for a text the component itself made of several lines (a response record): each
  // line is escaped and the lines are joined by CR LF after one timestamp.
  void GravaLogLinhas(std::span<const std::string_view> Linhas) const noexcept;
  // Raises EKoCliSiTefGPNaoInicializado when the gateway is not initialised.
  void VerificaInicializado() const;

  // Backups of approved payments (KoCliSiTefBackup.cpp).
  //
  // Writes the current response to the first free backup file (KoCliSiTef_<Name>_NNN.tef, NNN
  // from 001 to 999), flushed to stable storage, sets the response's ArqBackup and returns the
  // name. With all 999 names taken it raises EKoCliSiTefArquivo: an approved payment must never
  // go on without a file that keeps it.
  virtual std::string CopiarResposta();
  // Prints the current response's receipt as a managerial report, then confirms the transaction
  // (or undoes it when printing failed and the operator gave up) and deletes its backup.
  virtual void ImprimirRelatorio();
  // Start-up confirmation: confirms every backup left by an earlier run, reports them through
  // OnDepoisConfirmarTransacoes with Pendente set, and deletes them.
  virtual void ConfirmarTransacoesPendentesClass();
  // Reverses every backup of this gateway (only those pIncluir accepts, when given) and deletes
  // it.
  virtual void CancelarTransacoesPendentesClass(
      const std::function<bool(const std::string&)>& pIncluir = nullptr);
  // The backup files of this gateway now on disk, with their paths.
  std::vector<std::string> ArquivosBackup() const;

  // Ends a backup whose transaction the library has just settled (confirmed or undone): first
  // marks the file as settled, flushed to stable storage, then deletes it. A file that cannot be
  // deleted is left marked, and every later pass deletes a marked file without undoing,
  // confirming or reporting its transaction again. A mark that cannot be written is logged and the
  // deletion still tried; a failed deletion raises as ApagaArquivo does.
  void EncerrarBackup(const std::string& Arquivo);
  // Whether a backup read into a record carries the settled mark (899-108 = S).
  static bool BackupEncerrado(const TKoCliSiTefResp& Resposta);

 protected:
  // Confirms the transaction of a backup left by an earlier run, now read into Resp; the base
  // sends CNF.
  virtual void ConfirmarBackup() { CNF(); }
  // Undoes the transaction of a backup being reversed, now read into Resp; the base sends NCN.
  virtual void DesfazerBackup() { NCN(); }

  // The backup file with a given number, and the mask that finds every backup of this gateway.
  std::string NomeBackup(int numero) const;
  std::string MascaraBackup() const;

  bool fInicializado = false;
  bool fAguardandoResposta = false;
  int32_t fpIDSeq = 0;

 private:
  // The record a pending copy is made of: a base record for the CliSiTef gateway, a
  // file-exchange record for any other type.
  static std::unique_ptr<TKoCliSiTefResp> CriarRespostaPendente(TKoCliSiTefTipo Tipo);
  // Deletes a leftover, now read into Resp, whose transaction the library has already settled;
  // false (and nothing done) for any other.
  bool ApagaSeEncerrado(const std::string& Arquivo, const char* Origem);

  TKoCliSiTef& fOwner;
  std::string fName;
  TKoCliSiTefTipo fTipo;
  std::unique_ptr<TKoCliSiTefResp> fResp;
  std::string fArqLOG;
  bool fHabilitado = false;
  bool fAutoAtivarGP = true;
  int32_t fNumVias = 2;
};

// The facade's gateways; the list owns them.
class TKoCliSiTefClassList : public TKoCliSiTefObjectList<TKoCliSiTefClass> {};

}  // namespace kelvora::tef
