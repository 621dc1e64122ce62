// The response record of one transaction: its field file plus the typed properties derived from
// it, the instalments, the receipt copies and the bookkeeping keys (899-001 to 899-003) that
// travel with it into its backup file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Currency.h"
#include "platform/DateTime.h"
#include "tef/KoCliSiTefArquivo.h"
#include "tef/KoCliSiTefObjectList.h"
#include "tef/KoCliSiTefTipos.h"

namespace kelvora::tef {

// One instalment of a card payment.
class TKoCliSiTefRespParcela {
 public:
  platform::TDateTime Vencimento() const { return fVencimento; }
  void SetVencimento(platform::TDateTime value) { fVencimento = value; }
  platform::Currency Valor() const { return fValor; }
  void SetValor(platform::Currency value) { fValor = value; }
  const std::string& NSUParcela() const { return fNSUParcela; }
  void SetNSUParcela(std::string value) { fNSUParcela = std::move(value); }

 private:
  platform::TDateTime fVencimento = 0;
  platform::Currency fValor;
  std::string fNSUParcela;
};

using TKoCliSiTefRespParcelas = TKoCliSiTefObjectList<TKoCliSiTefRespParcela>;

// Text properties are UTF-8; amounts are currency; dates are day counts (0 = none). A subclass
// decides in ConteudoToProperty which fields fill which property and writes the fields directly.
class TKoCliSiTefResp {
 public:
  TKoCliSiTefResp();
  TKoCliSiTefResp(const TKoCliSiTefResp&) = delete;
  TKoCliSiTefResp& operator=(const TKoCliSiTefResp&) = delete;
  virtual ~TKoCliSiTefResp() = default;

  // Whether the transaction was approved; the base record says yes.
  virtual bool TransacaoAprovada() const { return true; }
  // Derives the typed properties from Conteudo; the base record derives none.
  virtual void ConteudoToProperty() {}

  // Empties the field file, the instalments and the receipt copies and resets the properties that
  // belong to one transaction. Card number, brand, merchant data, modality, institution, expiry,
  // gateway type, Pendente and the receipt flag survive.
  void Clear();

  // Copies Source's lines into this record's emptied field file and derives this record's own
  // properties from them (a base target derives none); then takes Source's backup file name and
  // gateway type. Nothing else is copied.
  void Assign(const TKoCliSiTefResp& Source);

  // Clear, load the field file (EKoCliSiTefArquivo when missing), derive the properties.
  void LeArquivo(const std::string& NomeArquivo);

  // The value stored under a key (the field file's cursor: valid until its next read).
  const TKoCliSiTefInformacao& LeInformacao(int32_t Identificacao, int32_t Sequencia) const {
    return fConteudo.LeInformacao(Identificacao, Sequencia);
  }

  TKoCliSiTefArquivo& Conteudo() { return fConteudo; }
  const TKoCliSiTefArquivo& Conteudo() const { return fConteudo; }
  TKoCliSiTefRespParcelas& Parcelas() { return fParcelas; }
  const TKoCliSiTefRespParcelas& Parcelas() const { return fParcelas; }
  const std::vector<std::string>& ImagemComprovante1aVia() const { return fImagemComprovante1aVia; }
  const std::vector<std::string>& ImagemComprovante2aVia() const { return fImagemComprovante2aVia; }

  const std::string& Header() const { return fHeader; }
  int32_t ID() const { return fID; }
  const std::string& DocumentoVinculado() const { return fDocumentoVinculado; }
  // The application's own document for the payment (its sale), as it gave it to CRT or CHQ; kept
  // in the backup so a payment confirmed by a later process is still reported against its sale.
  const std::string& DocumentoAplicacao() const { return fDocumentoAplicacao; }
  // Where the application reports the payment and for which company (899-106, 899-107), kept in
  // the backup for the same reason: a payment confirmed by a later process is reported to the
  // sales system that asked for it, not to whichever one is connected then.
  const std::string& EnderecoRetornoAplicacao() const { return fEnderecoRetornoAplicacao; }
  const std::string& EmpresaAplicacao() const { return fEmpresaAplicacao; }
  // The application's operation the payment belongs to and the page's key for it (899-110,
  // 899-109), kept in the backup so that a payment settled by a later process is told to the page
  // as that operation's, never as the operation running then.
  const std::string& OperacaoAplicacao() const { return fOperacaoAplicacao; }
  const std::string& ChaveAplicacao() const { return fChaveAplicacao; }
  platform::Currency ValorTotal() const { return fValorTotal; }
  platform::Currency ValorOriginal() const { return fValorOriginal; }
  platform::Currency Saque() const { return fSaque; }
  platform::Currency Desconto() const { return fDesconto; }
  int32_t Moeda() const { return fMoeda; }
  const std::string& CMC7() const { return fCMC7; }
  char TipoPessoa() const { return fTipoPessoa; }
  const std::string& DocumentoPessoa() const { return fDocumentoPessoa; }
  platform::TDateTime DataCheque() const { return fDataCheque; }
  const std::string& Rede() const { return fRede; }
  const std::string& CodigoEstabelecimento() const { return fCodigoEstabelecimento; }
  const std::string& NSUComprovante() const { return fNSUComprovante; }
  const std::string& CodigoHASH() const { return fCodigoHASH; }
  const std::string& Estabelecimento() const { return fEstabelecimento; }
  const std::string& NumeroCartao() const { return fNumeroCartao; }
  const std::string& Bandeira() const { return fBandeira; }
  const std::string& NSU() const { return fNSU; }
  const std::string& Finalizacao() const { return fFinalizacao; }
  const std::string& StatusTransacao() const { return fStatusTransacao; }
  int32_t TipoTransacao() const { return fTipoTransacao; }
  const std::string& CodigoAutorizacaoTransacao() const { return fCodigoAutorizacaoTransacao; }
  int32_t NumeroLoteTransacao() const { return fNumeroLoteTransacao; }
  platform::TDateTime DataHoraTransacaoHost() const { return fDataHoraTransacaoHost; }
  platform::TDateTime DataHoraTransacaoLocal() const { return fDataHoraTransacaoLocal; }
  int32_t TipoParcelamento() const { return fTipoParcelamento; }
  int32_t QtdParcelas() const { return fQtdParcelas; }
  platform::TDateTime DataPreDatado() const { return fDataPreDatado; }
  const std::string& NSUTransacaoCancelada() const { return fNSUTransacaoCancelada; }
  platform::TDateTime DataHoraTransacaoCancelada() const { return fDataHoraTransacaoCancelada; }
  // More than 0 means there is a receipt to print.
  int32_t QtdLinhasComprovante() const { return fQtdLinhasComprovante; }
  const std::string& TextoEspecialOperador() const { return fTextoEspecialOperador; }
  const std::string& TextoEspecialCliente() const { return fTextoEspecialCliente; }
  const std::string& Autenticacao() const { return fAutenticacao; }
  const std::string& Banco() const { return fBanco; }
  const std::string& Agencia() const { return fAgencia; }
  const std::string& AgenciaDC() const { return fAgenciaDC; }
  const std::string& Conta() const { return fConta; }
  const std::string& ContaDC() const { return fContaDC; }
  const std::string& Cheque() const { return fCheque; }
  const std::string& ChequeDC() const { return fChequeDC; }
  const std::string& NomeAdministradora() const { return fNomeAdministradora; }
  platform::TDateTime DataHoraTransacaoComprovante() const { return fDataHoraTransacaoComprovante; }
  const std::string& Trailer() const { return fTrailer; }
  platform::TDateTime DataVencimento() const { return fDataVencimento; }
  const std::string& Instituicao() const { return fInstituicao; }
  const std::string& ModalidadePagto() const { return fModalidadePagto; }
  const std::string& ModalidadePagtoDescrita() const { return fModalidadePagtoDescrita; }
  const std::string& ModalidadeExtenso() const { return fModalidadeExtenso; }
  const std::string& CodigoRedeAutorizada() const { return fCodigoRedeAutorizada; }
  bool Debito() const { return fDebito; }
  bool Credito() const { return fCredito; }
  TKoCliSiTefRespParceladoPor ParceladoPor() const { return fParceladoPor; }
  platform::Currency ValorEntradaCDC() const { return fValorEntradaCDC; }
  platform::TDateTime DataEntradaCDC() const { return fDataEntradaCDC; }
  TKoCliSiTefRespTipoOperacao TipoOperacao() const { return fTipoOperacao; }
  // A receipt image (field 121 or 122) has been stored since the record was created.
  bool MsgImpressao() const { return fMsgImpressao; }

  // Path of this response's backup file ("" when none); stored trimmed, writes no key.
  const std::string& ArqBackup() const { return fArqBackup; }
  void SetArqBackup(const std::string& value);
  // Response file of a file-exchange gateway held until confirmation; "" for CliSiTef.
  const std::string& ArqRespPendente() const { return fArqRespPendente; }
  void SetArqRespPendente(std::string value) { fArqRespPendente = std::move(value); }
  TKoCliSiTefTipo TipoGP() const { return fTipoGP; }
  void SetTipoGP(TKoCliSiTefTipo value) { fTipoGP = value; }
  // The record was read back from a backup file at start-up.
  bool Pendente() const { return fPendente; }
  void SetPendente(bool value) { fPendente = value; }

  // Bookkeeping kept in the field file too, so that it survives in the backup file:
  // IndiceFPG_ECF in 899-002 (an empty index removes the key), CNFEnviado in 899-001 ("S" or
  // "N"), OrdemPagamento in 899-003 (decimal; 999 marks a cheque printed as a report).
  const std::string& IndiceFPG_ECF() const { return fIndiceFPG_ECF; }
  void SetIndiceFPG_ECF(const std::string& value);
  bool CNFEnviado() const { return fCNFEnviado; }
  void SetCNFEnviado(bool value);
  int32_t OrdemPagamento() const { return fOrdemPagamento; }
  void SetOrdemPagamento(int32_t value);

 protected:
  TKoCliSiTefArquivo fConteudo;
  TKoCliSiTefRespParcelas fParcelas;
  std::vector<std::string> fImagemComprovante1aVia;
  std::vector<std::string> fImagemComprovante2aVia;

  std::string fHeader;
  int32_t fID = 0;
  std::string fDocumentoVinculado;
  std::string fDocumentoAplicacao;
  std::string fEnderecoRetornoAplicacao;
  std::string fEmpresaAplicacao;
  std::string fOperacaoAplicacao;
  std::string fChaveAplicacao;
  platform::Currency fValorTotal;
  platform::Currency fValorOriginal;
  platform::Currency fSaque;
  platform::Currency fDesconto;
  int32_t fMoeda = 0;
  std::string fCMC7;
  char fTipoPessoa = ' ';
  std::string fDocumentoPessoa;
  platform::TDateTime fDataCheque = 0;
  std::string fRede;
  std::string fCodigoEstabelecimento;
  std::string fNSUComprovante;
  std::string fCodigoHASH;
  std::string fEstabelecimento;
  std::string fNumeroCartao;
  std::string fBandeira;
  std::string fNSU;
  std::string fFinalizacao;
  std::string fStatusTransacao;
  int32_t fTipoTransacao = 0;
  std::string fCodigoAutorizacaoTransacao;
  int32_t fNumeroLoteTransacao = 0;
  platform::TDateTime fDataHoraTransacaoHost = 0;
  platform::TDateTime fDataHoraTransacaoLocal = 0;
  int32_t fTipoParcelamento = 0;
  int32_t fQtdParcelas = 0;
  platform::TDateTime fDataPreDatado = 0;
  std::string fNSUTransacaoCancelada;
  platform::TDateTime fDataHoraTransacaoCancelada = 0;
  int32_t fQtdLinhasComprovante = 0;
  std::string fTextoEspecialOperador;
  std::string fTextoEspecialCliente;
  std::string fAutenticacao;
  std::string fBanco;
  std::string fAgencia;
  std::string fAgenciaDC;
  std::string fConta;
  std::string fContaDC;
  std::string fCheque;
  std::string fChequeDC;
  std::string fNomeAdministradora;
  platform::TDateTime fDataHoraTransacaoComprovante = 0;
  std::string fTrailer;
  std::string fArqBackup;
  std::string fArqRespPendente;
  TKoCliSiTefTipo fTipoGP = gpNenhum;
  std::string fIndiceFPG_ECF;
  bool fCNFEnviado = false;
  int32_t fOrdemPagamento = 0;
  platform::TDateTime fDataVencimento = 0;
  std::string fInstituicao;
  std::string fModalidadePagto;
  std::string fModalidadePagtoDescrita;
  std::string fModalidadeExtenso;
  std::string fCodigoRedeAutorizada;
  bool fDebito = false;
  bool fCredito = false;
  TKoCliSiTefRespParceladoPor fParceladoPor = parcNenhum;
  platform::Currency fValorEntradaCDC;
  platform::TDateTime fDataEntradaCDC = 0;
  TKoCliSiTefRespTipoOperacao fTipoOperacao = opOutras;
  bool fPendente = false;
  bool fMsgImpressao = false;
};

}  // namespace kelvora::tef
