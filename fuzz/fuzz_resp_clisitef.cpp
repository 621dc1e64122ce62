// Fuzz target of the CliSiTef response record: arbitrary backup-file bytes through
// TKoCliSiTefRespCliSiTef::LeArquivo and ConteudoToProperty; and the input stored as result
// fields, saved as a backup file and read back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Ansi.h"
#include "tef/KoCliSiTefRespCliSiTef.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::fuzz {
namespace {

using tef::TKoCliSiTefResp;

// The properties that hold text taken from the fields.
constexpr const std::string& (TKoCliSiTefResp::*kTextos[])() const = {
    &TKoCliSiTefResp::Header,
    &TKoCliSiTefResp::DocumentoVinculado,
    &TKoCliSiTefResp::CMC7,
    &TKoCliSiTefResp::DocumentoPessoa,
    &TKoCliSiTefResp::Rede,
    &TKoCliSiTefResp::CodigoEstabelecimento,
    &TKoCliSiTefResp::NSUComprovante,
    &TKoCliSiTefResp::CodigoHASH,
    &TKoCliSiTefResp::NumeroCartao,
    &TKoCliSiTefResp::Bandeira,
    &TKoCliSiTefResp::NSU,
    &TKoCliSiTefResp::CodigoAutorizacaoTransacao,
    &TKoCliSiTefResp::NSUTransacaoCancelada,
    &TKoCliSiTefResp::Autenticacao,
    &TKoCliSiTefResp::Banco,
    &TKoCliSiTefResp::Agencia,
    &TKoCliSiTefResp::AgenciaDC,
    &TKoCliSiTefResp::Conta,
    &TKoCliSiTefResp::ContaDC,
    &TKoCliSiTefResp::Cheque,
    &TKoCliSiTefResp::Instituicao,
    &TKoCliSiTefResp::ModalidadePagto,
    &TKoCliSiTefResp::ModalidadePagtoDescrita,
    &TKoCliSiTefResp::ModalidadeExtenso,
    &TKoCliSiTefResp::IndiceFPG_ECF,
};

// What a record derives from its fields, gathered so that two records can be compared.
struct Propriedades {
  std::vector<std::string> textos;
  std::vector<std::string> via1, via2;
  int64_t valorTotal, saque, desconto;
  int32_t qtdParcelas, parcelas, ordem;
  bool cnfEnviado;

  bool operator==(const Propriedades&) const = default;
};

Propriedades Extrai(const TKoCliSiTefResp& r) {
  Propriedades p{{},
                 r.ImagemComprovante1aVia(),
                 r.ImagemComprovante2aVia(),
                 r.ValorTotal().Raw(),
                 r.Saque().Raw(),
                 r.Desconto().Raw(),
                 r.QtdParcelas(),
                 r.Parcelas().Count(),
                 r.OrdemPagamento(),
                 r.CNFEnviado()};
  for (const auto texto : kTextos) p.textos.push_back((r.*texto)());
  return p;
}

// Properties every record must keep, whatever its fields hold.
void RequireSoundRecord(const TKoCliSiTefResp& r) {
  const Propriedades p = Extrai(r);
  for (const std::string& texto : p.textos)
    Require(IsWellFormedUtf8(texto), "text properties are UTF-8");
  for (const std::string& linha : p.via1)
    Require(IsWellFormedUtf8(linha), "receipt lines are UTF-8");
  for (const std::string& linha : p.via2)
    Require(IsWellFormedUtf8(linha), "receipt lines are UTF-8");
  Require(p.parcelas <= std::clamp(p.qtdParcelas, 0, 999), "no more instalments than announced");
  Require(r.QtdLinhasComprovante() == static_cast<int32_t>(std::max(p.via1.size(), p.via2.size())),
          "the receipt size is the longer copy's");
}

}  // namespace
}  // namespace kelvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  using tef::TKoCliSiTefRespCliSiTef;
  static const fuzz::TempFile arquivo("resp");
  const std::string_view bytes = fuzz::AsText(data, size);

  // The input as a backup file read at start-up.
  arquivo.Write(bytes);
  TKoCliSiTefRespCliSiTef lida;
  lida.LeArquivo(arquivo.Path());
  fuzz::RequireSoundRecord(lida);
  TKoCliSiTefRespCliSiTef copia;
  copia.Assign(lida);
  Require(fuzz::Extrai(copia) == fuzz::Extrai(lida), "Assign derives the same properties");

  // The input as result fields of a dialogue: a text field, both receipt copies and three
  // instalments, saved as the backup file and read back unchanged.
  const platform::AnsiString valor = platform::AnsiBytes(bytes);
  TKoCliSiTefRespCliSiTef resp;
  for (const int32_t campo : {133, 121, 122, 141, 141, 141, 142})
    resp.GravaInformacao(campo, valor);
  resp.SetOrdemPagamento(static_cast<int32_t>(size));
  for (const platform::AnsiString& linha : resp.Conteudo().Conteudo()) {
    for (const char c : linha) {
      Require(static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127,
              "stored fields are escaped to printable ASCII");
    }
  }
  resp.ConteudoToProperty();
  fuzz::RequireSoundRecord(resp);
  if (!valor.empty()) {
    Require(resp.NSU() == platform::FromAnsi(valor), "a text field reads back unescaped");
    std::vector<std::string> imagem;
    for (const auto& linha : tef::SeparaLinhas(valor)) imagem.push_back(platform::FromAnsi(linha));
    Require(resp.ImagemComprovante1aVia() == imagem && resp.ImagemComprovante2aVia() == imagem,
            "a receipt image reads back line by line");
    Require(resp.Conteudo().LeInformacao(141, 3).AsString() == tef::CodificaHex(valor),
            "the third instalment date goes under the third sequence");
  }
  resp.Conteudo().GravarArquivo(arquivo.Path(), false);
  TKoCliSiTefRespCliSiTef relida;
  relida.LeArquivo(arquivo.Path());
  Require(fuzz::Extrai(relida) == fuzz::Extrai(resp), "a backup file reads back as written");
  return 0;
}
