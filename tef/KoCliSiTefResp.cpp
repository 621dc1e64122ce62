// Life cycle of the response record and the setters that mirror bookkeeping into its field file.
#include "tef/KoCliSiTefResp.h"

#include <string>

#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {

TKoCliSiTefResp::TKoCliSiTefResp() {
  Clear();
}

void TKoCliSiTefResp::Clear() {
  fConteudo.Clear();
  fParcelas.Clear();
  fImagemComprovante1aVia.clear();
  fImagemComprovante2aVia.clear();
  fHeader.clear();
  fID = 0;
  fDocumentoVinculado.clear();
  fDocumentoAplicacao.clear();
  fEnderecoRetornoAplicacao.clear();
  fEmpresaAplicacao.clear();
  fOperacaoAplicacao.clear();
  fChaveAplicacao.clear();
  fValorTotal = {};
  fValorOriginal = {};
  fSaque = {};
  fDesconto = {};
  fMoeda = 0;
  fCMC7.clear();
  fTipoPessoa = ' ';
  fDocumentoPessoa.clear();
  fDataCheque = 0;
  fRede.clear();
  fNSU.clear();
  fFinalizacao.clear();
  fStatusTransacao.clear();
  fTipoTransacao = 0;
  fCodigoAutorizacaoTransacao.clear();
  fNumeroLoteTransacao = 0;
  fDataHoraTransacaoHost = 0;
  fDataHoraTransacaoLocal = 0;
  fTipoParcelamento = 0;
  fQtdParcelas = 0;
  fDataPreDatado = 0;
  fNSUTransacaoCancelada.clear();
  fDataHoraTransacaoCancelada = 0;
  fQtdLinhasComprovante = 0;
  fTextoEspecialOperador.clear();
  fTextoEspecialCliente.clear();
  fAutenticacao.clear();
  fBanco.clear();
  fAgencia.clear();
  fAgenciaDC.clear();
  fConta.clear();
  fContaDC.clear();
  fCheque.clear();
  fChequeDC.clear();
  fNomeAdministradora.clear();
  fDataHoraTransacaoComprovante = 0;
  fTrailer.clear();
  fArqBackup.clear();
  fArqRespPendente.clear();
  fIndiceFPG_ECF.clear();
  fCNFEnviado = false;
  fOrdemPagamento = 0;
  fDebito = false;
  fCredito = false;
  fParceladoPor = parcNenhum;
  fValorEntradaCDC = {};
  fDataEntradaCDC = 0;
  fTipoOperacao = opOutras;
}

void TKoCliSiTefResp::Assign(const TKoCliSiTefResp& Source) {
  // Taken before the field file is emptied, so that assigning a record to itself keeps it.
  const std::vector<platform::AnsiString> linhas = Source.fConteudo.Conteudo();
  const std::string arqBackup = Source.fArqBackup;
  const TKoCliSiTefTipo tipoGP = Source.fTipoGP;
  fConteudo.Clear();
  for (const platform::AnsiString& linha : linhas) fConteudo.Add(linha);
  ConteudoToProperty();
  SetArqBackup(arqBackup);
  fTipoGP = tipoGP;
}

void TKoCliSiTefResp::LeArquivo(const std::string& NomeArquivo) {
  Clear();
  fConteudo.LeArquivo(NomeArquivo);
  ConteudoToProperty();
}

void TKoCliSiTefResp::SetArqBackup(const std::string& value) {
  fArqBackup = Trim(value);
}

void TKoCliSiTefResp::SetIndiceFPG_ECF(const std::string& value) {
  fConteudo.GravaInformacao(899, 2, platform::ToAnsi(value));
  fIndiceFPG_ECF = value;
}

void TKoCliSiTefResp::SetCNFEnviado(bool value) {
  fConteudo.GravaInformacao(899, 1, platform::AnsiBytes(value ? "S" : "N"));
  fCNFEnviado = value;
}

void TKoCliSiTefResp::SetOrdemPagamento(int32_t value) {
  fConteudo.GravaInformacao(899, 3, platform::AnsiBytes(std::to_string(value)));
  fOrdemPagamento = value;
}

}  // namespace kelvora::tef
