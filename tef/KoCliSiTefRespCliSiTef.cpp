// Storing of the SiTef result fields and their conversion into the response record's properties.
#include "tef/KoCliSiTefRespCliSiTef.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tef/KoCliSiTefMascara.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

using platform::AnsiString;
using platform::AnsiStringView;
using platform::Currency;

// A key holds three digits of sequence, so no instalment field can go beyond 999.
constexpr int32_t kUltimaSequencia = 999;

// `count` characters from 1-based position `from`; shorter or empty near the end, never failing.
AnsiStringView Copia(AnsiStringView s, size_t from, size_t count) {
  return from - 1 < s.size() ? s.substr(from - 1, count) : AnsiStringView();
}

// Amount fields hold cents ("1050" and "10,50" are both 10.50).
Currency Valor(const TKoCliSiTefInformacao& informacao) {
  return Currency::FromDouble(informacao.AsFloat());
}

// A receipt image as printable lines (UTF-8): every line break of the value, CR LF included,
// ends one line.
std::vector<std::string> Imagem(AnsiStringView texto) {
  std::vector<std::string> linhas;
  for (const AnsiString& linha : SeparaLinhas(texto)) linhas.push_back(platform::FromAnsi(linha));
  return linhas;
}

// The value stored under a key, unescaped.
TKoCliSiTefInformacao Decodificada(const TKoCliSiTefArquivo& conteudo, int32_t identificacao,
                                   int32_t sequencia) {
  return TKoCliSiTefInformacao(
      DecodificaHex(conteudo.LeInformacao(identificacao, sequencia).AsString()));
}

// The first sequence from 1 up under which the field has no line yet (kUltimaSequencia + 1 when
// all are taken), found in one pass over the lines.
int32_t PrimeiraSequenciaLivre(const TKoCliSiTefArquivo& conteudo, int32_t identificacao) {
  // The field's keys are its number, "-" and three digits ("141-001"); a line holds one when it
  // starts with the key and " = ", as the file's own lookup requires.
  AnsiString prefixo = MontaChave(identificacao, 0);
  prefixo.resize(prefixo.size() - 3);
  std::vector<bool> ocupada(kUltimaSequencia + 1, false);
  for (const AnsiStringView linha : conteudo.Conteudo()) {
    if (linha.size() < prefixo.size() + 6 || linha.substr(0, prefixo.size()) != prefixo ||
        linha.substr(prefixo.size() + 3, 3) != " = ") {
      continue;
    }
    const AnsiStringView digitos = linha.substr(prefixo.size(), 3);
    if (std::all_of(digitos.begin(), digitos.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      ocupada[StrToIntDef(digitos, 0)] = true;
    }
  }
  int32_t sequencia = 1;
  while (sequencia <= kUltimaSequencia && ocupada[sequencia]) ++sequencia;
  return sequencia;
}

}  // namespace

void TKoCliSiTefRespCliSiTef::GravaInformacao(int32_t Identificacao, AnsiStringView Informacao) {
  int32_t sequencia = 0;
  if (Identificacao == 141 || Identificacao == 142) {
    sequencia = PrimeiraSequenciaLivre(fConteudo, Identificacao);
    // Every sequence is taken: a further value has no key of its own and is not kept.
    if (sequencia > kUltimaSequencia) return;
  }
  if (Identificacao == 121 || Identificacao == 122) fMsgImpressao = true;
  // The record travels into backups, results and reports: card data is kept masked, whatever
  // the library or the customer gave.
  fConteudo.GravaInformacao(Identificacao, sequencia,
                            CodificaHex(Mascarar(SigiloDoCampo(Identificacao), Informacao)));
}

void TKoCliSiTefRespCliSiTef::ConverteControle(int Sequencia, const AnsiString& bruto,
                                               const TKoCliSiTefInformacao& valor) {
  switch (Sequencia) {
    case 1:
      fCNFEnviado = valor.AsString() == "S" || valor.AsString() == "s";
      break;
    case 2:  // written by its setter without escaping, so read back as stored
      fIndiceFPG_ECF = platform::FromAnsi(bruto);
      break;
    case 3:
      fOrdemPagamento = valor.AsInteger();
      break;
    case 100:
      fHeader = platform::FromAnsi(valor.AsString());
      break;
    case 101:
      fID = valor.AsInteger();
      break;
    case 102:
      fDocumentoVinculado = platform::FromAnsi(valor.AsString());
      break;
    case 105:
      fDocumentoAplicacao = platform::FromAnsi(valor.AsString());
      break;
    case 106:
      fEnderecoRetornoAplicacao = platform::FromAnsi(valor.AsString());
      break;
    case 107:
      fEmpresaAplicacao = platform::FromAnsi(valor.AsString());
      break;
    case 109:
      fChaveAplicacao = platform::FromAnsi(valor.AsString());
      break;
    case 110:
      fOperacaoAplicacao = platform::FromAnsi(valor.AsString());
      break;
    case 104:  // fiscal date and time of the dialogue: what its finalisation must name
      fFinalizacao = platform::FromAnsi(valor.AsString());
      break;
    case 103:
      fValorTotal += Valor(valor);
      break;
    default:
      break;
  }
}

void TKoCliSiTefRespCliSiTef::ConteudoToProperty() {
  using Self = TKoCliSiTefRespCliSiTef;
  // Fields whose unescaped value fills a text property unchanged.
  static constexpr std::pair<int, std::string Self::*> kTextos[] = {
      {101, &Self::fModalidadeExtenso},
      {102, &Self::fModalidadePagtoDescrita},
      {120, &Self::fAutenticacao},
      {131, &Self::fInstituicao},
      {132, &Self::fBandeira},
      {133, &Self::fNSU},
      {134, &Self::fNSUComprovante},
      {135, &Self::fCodigoAutorizacaoTransacao},
      {156, &Self::fRede},
      {157, &Self::fCodigoEstabelecimento},
      {502, &Self::fDocumentoPessoa},
      {516, &Self::fNSUTransacaoCancelada},
      {626, &Self::fBanco},
      {627, &Self::fAgencia},
      {628, &Self::fAgenciaDC},
      {629, &Self::fConta},
      {630, &Self::fContaDC},
      {800, &Self::fCodigoHASH},
      {2021, &Self::fNumeroCartao},
  };
  // Fields read as a DDMMYYYY date.
  static constexpr std::pair<int, platform::TDateTime Self::*> kDatas[] = {
      {140, &Self::fDataEntradaCDC},
      {506, &Self::fDataPreDatado},
      {515, &Self::fDataHoraTransacaoCancelada},
      {527, &Self::fDataVencimento},
  };

  fValorTotal = {};
  fImagemComprovante1aVia.clear();
  fImagemComprovante2aVia.clear();
  fDebito = false;
  fCredito = false;
  bool temParcelas = false;

  TKoCliSiTefLinha linha;
  for (const AnsiString& texto : fConteudo.Conteudo()) {
    linha.SetLinha(texto);
    const AnsiString bruto = linha.Informacao().AsString();
    const TKoCliSiTefInformacao valor(DecodificaHex(bruto));
    const AnsiString ansi = valor.AsString();
    const int campo = linha.Identificacao();

    const auto textual = std::find_if(std::begin(kTextos), std::end(kTextos),
                                      [campo](const auto& t) { return t.first == campo; });
    if (textual != std::end(kTextos)) {
      this->*(textual->second) = platform::FromAnsi(ansi);
      continue;
    }
    const auto data = std::find_if(std::begin(kDatas), std::end(kDatas),
                                   [campo](const auto& d) { return d.first == campo; });
    if (data != std::end(kDatas)) {
      this->*(data->second) = valor.AsDate();
      continue;
    }

    switch (campo) {
      case 100: {
        fModalidadePagto = platform::FromAnsi(ansi);
        const int32_t tipo = StrToIntDef(Copia(ansi, 1, 2), 0);
        if (tipo == 1) fDebito = true;
        if (tipo == 2) fCredito = true;
        const int32_t forma = StrToIntDef(Copia(ansi, 3, 2), 0);
        if (forma == 2) fParceladoPor = parcLoja;
        if (forma == 3) fParceladoPor = parcADM;
        fTipoOperacao = forma == 0                 ? opAvista
                        : forma == 1               ? opPreDatado
                        : forma == 2 || forma == 3 ? opParcelado
                                                   : opOutras;
        break;
      }
      case 105:
        fDataHoraTransacaoComprovante = valor.AsTimeStampSQL();
        fDataHoraTransacaoHost = fDataHoraTransacaoComprovante;
        fDataHoraTransacaoLocal = fDataHoraTransacaoComprovante;
        break;
      case 121:
        fImagemComprovante1aVia = Imagem(ansi);
        break;
      case 122:
        fImagemComprovante2aVia = Imagem(ansi);
        break;
      case 130:
        fSaque = Valor(valor);
        fValorTotal += fSaque;
        break;
      case 139:
        fValorEntradaCDC = Valor(valor);
        break;
      case 141:
        temParcelas = true;
        break;
      case 501:
        fTipoPessoa = valor.AsInteger() == 0 ? 'J' : 'F';
        break;
      case 505:
      case 511:  // the later line wins
        fQtdParcelas = valor.AsInteger();
        break;
      case 613:
        fCMC7 = platform::FromAnsi(ansi);
        fCheque = platform::FromAnsi(Copia(ansi, 21, 6));
        break;
      case 899:
        ConverteControle(linha.Sequencia(), bruto, valor);
        break;
      case 4029:
        fDesconto = Valor(valor);
        fValorTotal = fValorTotal - fDesconto;
        break;
      default:
        break;
    }
  }

  fQtdLinhasComprovante = static_cast<int32_t>(
      std::max(fImagemComprovante1aVia.size(), fImagemComprovante2aVia.size()));

  fParcelas.Clear();
  if (!temParcelas) return;
  const int32_t quantidade = std::min(fQtdParcelas, kUltimaSequencia);
  for (int32_t sequencia = 1; sequencia <= quantidade; ++sequencia) {
    auto parcela = std::make_unique<TKoCliSiTefRespParcela>();
    parcela->SetVencimento(Decodificada(fConteudo, 141, sequencia).AsDate());
    parcela->SetValor(Valor(Decodificada(fConteudo, 142, sequencia)));
    fParcelas.Add(std::move(parcela));
  }
}

}  // namespace kelvora::tef
