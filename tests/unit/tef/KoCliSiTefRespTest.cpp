// Tests of the base response record, the file-exchange record, the owning lists and the totals of
// the pending responses.
#include "tef/KoCliSiTefResp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "tef/KoCliSiTefErro.h"
#include "tef/KoCliSiTefRespCliSiTef.h"
#include "tef/KoCliSiTefRespTXT.h"
#include "tef/KoCliSiTefRespostasPendentes.h"

namespace kelvora::tef {
namespace {

using platform::AnsiBytes;
using platform::AnsiString;
using platform::Currency;
using testing::TempDir;

std::vector<AnsiString> Linhas(std::initializer_list<const char*> linhas) {
  std::vector<AnsiString> resultado;
  for (const char* linha : linhas) resultado.push_back(AnsiBytes(linha));
  return resultado;
}

TEST(TKoCliSiTefResp, ANewRecordIsEmptyAndApproved) {
  const TKoCliSiTefResp resp;
  EXPECT_EQ(resp.TipoPessoa(), ' ');
  EXPECT_TRUE(resp.TransacaoAprovada());
  EXPECT_TRUE(resp.ImagemComprovante1aVia().empty());
  EXPECT_TRUE(resp.ImagemComprovante2aVia().empty());
  EXPECT_EQ(resp.Conteudo().Count(), 0);
  EXPECT_EQ(resp.TipoGP(), gpNenhum);
  EXPECT_EQ(resp.ParceladoPor(), parcNenhum);
  EXPECT_EQ(resp.TipoOperacao(), opOutras);
  EXPECT_FALSE(resp.MsgImpressao());
}

TEST(TKoCliSiTefResp, BookkeepingSettersWriteTheirKeys) {
  TKoCliSiTefResp resp;
  resp.SetCNFEnviado(true);
  resp.SetIndiceFPG_ECF("02");
  resp.SetOrdemPagamento(0);
  EXPECT_EQ(resp.Conteudo().Conteudo(), Linhas({"899-001 = S", "899-002 = 02", "899-003 = 0"}));

  resp.SetCNFEnviado(false);
  resp.SetIndiceFPG_ECF("");
  resp.SetOrdemPagamento(999);
  EXPECT_EQ(resp.Conteudo().Conteudo(), Linhas({"899-001 = N", "899-003 = 999"}));
  EXPECT_FALSE(resp.CNFEnviado());
  EXPECT_EQ(resp.IndiceFPG_ECF(), "");
  EXPECT_EQ(resp.OrdemPagamento(), 999);

  resp.SetArqBackup(" \t/var/tef/KoCliSiTef_CliSiTef_001.tef\r\n");
  EXPECT_EQ(resp.ArqBackup(), "/var/tef/KoCliSiTef_CliSiTef_001.tef");
  EXPECT_EQ(resp.Conteudo().Count(), 2);  // the backup name is not a field
}

TEST(TKoCliSiTefResp, ClearKeepsCardMerchantAndGatewayData) {
  TKoCliSiTefRespCliSiTef resp;
  resp.GravaInformacao(2021, AnsiBytes("************1234"));
  resp.GravaInformacao(132, AnsiBytes("VISA"));
  resp.GravaInformacao(133, AnsiBytes("999"));
  resp.GravaInformacao(121, AnsiBytes("via"));
  resp.ConteudoToProperty();
  resp.SetTipoGP(gpCliSiTef);
  resp.SetCNFEnviado(true);
  resp.SetPendente(true);

  resp.Clear();
  EXPECT_EQ(resp.NumeroCartao(), "************1234");
  EXPECT_EQ(resp.Bandeira(), "VISA");
  EXPECT_EQ(resp.TipoGP(), gpCliSiTef);
  EXPECT_TRUE(resp.Pendente());
  EXPECT_TRUE(resp.MsgImpressao());
  EXPECT_EQ(resp.NSU(), "");
  EXPECT_FALSE(resp.CNFEnviado());
  EXPECT_EQ(resp.QtdLinhasComprovante(), 0);
  EXPECT_EQ(resp.Conteudo().Count(), 0);
}

TEST(TKoCliSiTefResp, AssignIntoABaseRecordCopiesOnlyLinesBackupAndGateway) {
  TKoCliSiTefRespCliSiTef origem;
  origem.GravaInformacao(133, AnsiBytes("123"));
  origem.Conteudo().GravaInformacao(899, 102, AnsiBytes("55"));
  origem.Conteudo().GravaInformacao(899, 103, AnsiBytes("1000"));
  origem.ConteudoToProperty();
  origem.SetArqBackup("/tef/KoCliSiTef_CliSiTef_001.tef");
  origem.SetTipoGP(gpCliSiTef);
  origem.SetPendente(true);
  ASSERT_EQ(origem.ValorTotal(), Currency::FromCents(1000));

  TKoCliSiTefResp copia;
  copia.Assign(origem);
  EXPECT_EQ(copia.Conteudo().Conteudo(), origem.Conteudo().Conteudo());
  EXPECT_EQ(copia.ArqBackup(), "/tef/KoCliSiTef_CliSiTef_001.tef");
  EXPECT_EQ(copia.TipoGP(), gpCliSiTef);
  EXPECT_EQ(copia.DocumentoVinculado(), "");
  EXPECT_EQ(copia.ValorTotal(), Currency());
  EXPECT_EQ(copia.NSU(), "");
  EXPECT_FALSE(copia.Pendente());

  TKoCliSiTefRespCliSiTef igual;
  igual.Assign(origem);
  EXPECT_EQ(igual.NSU(), "123");
  EXPECT_EQ(igual.DocumentoVinculado(), "55");
  EXPECT_EQ(igual.ValorTotal(), Currency::FromCents(1000));

  igual.Assign(igual);  // a record assigned to itself keeps its lines
  EXPECT_EQ(igual.Conteudo().Conteudo(), origem.Conteudo().Conteudo());
  EXPECT_EQ(igual.NSU(), "123");
}

TEST(TKoCliSiTefResp, LeArquivoOfAMissingFileFailsAndLeavesTheRecordCleared) {
  TempDir dir;
  TKoCliSiTefRespCliSiTef resp;
  resp.GravaInformacao(133, AnsiBytes("123"));
  resp.ConteudoToProperty();
  EXPECT_THROW(resp.LeArquivo(dir.File("nada.tef")), EKoCliSiTefArquivo);
  EXPECT_EQ(resp.NSU(), "");
  EXPECT_EQ(resp.Conteudo().Count(), 0);
}

TEST(TKoCliSiTefRespTXT, ApprovalFollowsTheStatusAndTrailer) {
  struct Case {
    const char* status;
    bool aprovada;
  };
  const Case cases[] = {{"0", true},  {" 00 ", true}, {"P1", true},  {"p1", true},  {"", false},
                        {"1", false}, {"P2", false},  {"FF", false}, {"P1x", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    TKoCliSiTefRespTXT resp;
    resp.Conteudo().GravaInformacao(0, 0, AnsiBytes("CRT"));
    resp.Conteudo().GravaInformacao(9, 0, AnsiBytes(c.status));
    resp.ConteudoToProperty();
    EXPECT_EQ(resp.Header(), "CRT");
    EXPECT_EQ(resp.TransacaoAprovada(), c.aprovada);
    EXPECT_FALSE(resp.TrailerOk());
  }
  TKoCliSiTefRespTXT resp;
  resp.Conteudo().GravaInformacao(999, 999, AnsiBytes("0"));
  resp.ConteudoToProperty();
  EXPECT_TRUE(resp.TrailerOk());
}

TEST(TKoCliSiTefObjectList, OwnsItsItemsAndChecksPositions) {
  TKoCliSiTefRespParcelas parcelas;
  auto parcela = [](int64_t centavos) {
    auto p = std::make_unique<TKoCliSiTefRespParcela>();
    p->SetValor(Currency::FromCents(centavos));
    return p;
  };
  EXPECT_EQ(parcelas.Add(parcela(100)), 0);
  EXPECT_EQ(parcelas.Add(parcela(300)), 1);
  parcelas.Insert(1, parcela(200));
  parcelas.SetObject(0, parcela(50));
  ASSERT_EQ(parcelas.Count(), 3);
  EXPECT_EQ(parcelas.GetObject(0).Valor(), Currency::FromCents(50));
  EXPECT_EQ(parcelas.GetObject(1).Valor(), Currency::FromCents(200));
  EXPECT_EQ(parcelas.GetObject(2).Valor(), Currency::FromCents(300));
  EXPECT_THROW(parcelas.GetObject(3), std::out_of_range);
  EXPECT_THROW(parcelas.Insert(4, parcela(1)), std::out_of_range);
  EXPECT_THROW(parcelas.Add(nullptr), std::invalid_argument);
  parcelas.Delete(0);
  EXPECT_EQ(parcelas.GetObject(0).Valor(), Currency::FromCents(200));
}

// A pending record with the amounts the totals read.
std::unique_ptr<TKoCliSiTefResp> Pendente(const char* valor, const char* saque,
                                          const char* desconto, int ordem) {
  auto resp = std::make_unique<TKoCliSiTefRespCliSiTef>();
  resp->Conteudo().GravaInformacao(899, 103, AnsiBytes(valor));
  if (*saque) resp->GravaInformacao(130, AnsiBytes(saque));
  if (*desconto) resp->GravaInformacao(4029, AnsiBytes(desconto));
  resp->ConteudoToProperty();
  resp->SetOrdemPagamento(ordem);
  return resp;
}

TEST(TKoCliSiTefRespostasPendentes, Totals) {
  struct Registro {
    const char* valor;
    const char* saque;
    const char* desconto;
    int ordem;
  };
  struct Case {
    const char* nome;
    std::vector<Registro> registros;
    int64_t totalAPagar, dinheiro;
    int64_t pago, desconto, restante;  // cents
  };
  const Case cases[] = {
      {"one paid with order, one without",
       {{"10000", "", "", 0}, {"5000", "", "", 1}},
       20000,
       0,
       15000,
       0,
       10000},
      // 899-103 9.00 + withdrawal 2.00 - discount 1.00: ValorTotal 10.00.
      {"withdrawal and discount", {{"900", "200", "100", 0}}, 0, 0, 800, -100, -900},
      {"empty list", {}, 5000, 2000, 0, 0, 3000},
      {"cash equal to the total", {{"2500", "", "", 0}}, 2500, 2500, 2500, 0, -2500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nome);
    TKoCliSiTefRespostasPendentes lista;
    for (const Registro& r : c.registros)
      lista.Add(Pendente(r.valor, r.saque, r.desconto, r.ordem));
    lista.SetValorTotalAPagar(Currency::FromCents(c.totalAPagar));
    lista.SetValorDinheiro(Currency::FromCents(c.dinheiro));
    EXPECT_EQ(lista.TotalPago(), Currency::FromCents(c.pago));
    EXPECT_EQ(lista.TotalDesconto(), Currency::FromCents(c.desconto));
    EXPECT_EQ(lista.SaldoRestante(), Currency::FromCents(c.restante));
  }
}

TEST(TKoCliSiTefRespostasPendentes, TotalsRoundToTheEvenCent) {
  TKoCliSiTefRespostasPendentes lista;
  auto resp = std::make_unique<TKoCliSiTefResp>();
  lista.Add(std::move(resp));
  lista.SetValorTotalAPagar(Currency::FromRaw(1250));  // 0.125
  lista.SetValorDinheiro(Currency::FromRaw(0));
  EXPECT_EQ(lista.SaldoRestante(), Currency::FromCents(12));
  lista.SetValorTotalAPagar(Currency::FromRaw(1350));  // 0.135
  EXPECT_EQ(lista.SaldoRestante(), Currency::FromCents(14));
}

}  // namespace
}  // namespace kelvora::tef
