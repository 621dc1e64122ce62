// Tests of the CliSiTef response record: storing with escaping, the conversion table, instalments
// and the round trip of a whole record through a backup file.
#include "tef/KoCliSiTefRespCliSiTef.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"

namespace kelvora::tef {
namespace {

using platform::AnsiBytes;
using platform::AnsiString;
using platform::Currency;
using platform::TDateTime;
using testing::TempDir;

TDateTime Data(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  return platform::TryEncodeDateTime({y, m, d, h, n, s, 0}).value();
}

// A record holding the given fields, converted.
struct Campo {
  int32_t identificacao;
  std::string valor;
};
std::unique_ptr<TKoCliSiTefRespCliSiTef> Resposta(const std::vector<Campo>& campos) {
  auto resp = std::make_unique<TKoCliSiTefRespCliSiTef>();
  for (const Campo& c : campos) resp->GravaInformacao(c.identificacao, AnsiBytes(c.valor));
  resp->ConteudoToProperty();
  return resp;
}

TEST(TKoCliSiTefRespCliSiTef, StoresValuesEscaped) {
  TKoCliSiTefRespCliSiTef resp;
  resp.GravaInformacao(121, AnsiBytes("Via\nCliente"));
  resp.GravaInformacao(131, AnsiBytes("Jos\xE9"));
  resp.GravaInformacao(133, AnsiBytes("1"));
  resp.GravaInformacao(133, AnsiBytes("2"));  // replaces
  EXPECT_EQ(resp.Conteudo().Conteudo(),
            (std::vector<AnsiString>{AnsiBytes("121-000 = Via\\x0ACliente"),
                                     AnsiBytes("131-000 = Jos\\xE9"), AnsiBytes("133-000 = 2")}));
  EXPECT_TRUE(resp.MsgImpressao());
  resp.GravaInformacao(133, AnsiBytes(""));  // an empty value removes the field
  EXPECT_EQ(resp.Conteudo().EncontraChave(AnsiBytes("133-000")), -1);
}

// Card data never rests in clear in a record, which goes into backups, results and reports: a card
// number keeps its first 6 and last 4 characters, an expiry date, security code or password
// becomes '*', one per character.
TEST(TKoCliSiTefRespCliSiTef, StoresCardDataMasked) {
  struct Caso {
    int32_t campo;
    std::string valor;
    std::string guardado;
  };
  const Caso casos[] = {
      {2021, "4111111111111111", "411111******1111"},
      {2021, "476173******0119", "476173******0119"},  // already masked by the library
      {2021, "4111111111111", "411111***1111"},        // the shortest card number
      {2021, "411111111111", "************"},          // shorter: hidden whole
      {512, "5555666677778888999", "555566*********8999"},
      {513, "1230", "****"},
      {514, "123", "***"},
      {500, "senha", "*****"},
      {133, "123456789012345", "123456789012345"},  // anything else is kept as it is
  };
  for (const Caso& caso : casos) {
    TKoCliSiTefRespCliSiTef resp;
    resp.GravaInformacao(caso.campo, AnsiBytes(caso.valor));
    EXPECT_EQ(resp.Conteudo().Conteudo(),
              (std::vector<AnsiString>{
                  AnsiBytes(std::to_string(caso.campo) + "-000 = " + caso.guardado)}))
        << caso.campo << " " << caso.valor;
  }
  EXPECT_EQ(Resposta({{2021, "4111111111111111"}})->NumeroCartao(), "411111******1111");
}

TEST(TKoCliSiTefRespCliSiTef, ModalityFieldSetsDebitCreditAndInstalmentKind) {
  struct Case {
    std::string valor;
    bool debito, credito;
    TKoCliSiTefRespParceladoPor parceladoPor;
    TKoCliSiTefRespTipoOperacao operacao;
  };
  const Case cases[] = {
      {"0203", false, true, parcADM, opParcelado},
      {"0202", false, true, parcLoja, opParcelado},
      {"0100", true, false, parcNenhum, opAvista},
      {"0101", true, false, parcNenhum, opPreDatado},
      {"0304", false, false, parcNenhum, opOutras},
      {"02", false, true, parcNenhum, opAvista},  // no characters 3 and 4: read as 0
      {"xx03", false, false, parcADM, opParcelado},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.valor);
    const auto resp = Resposta({{100, c.valor}});
    EXPECT_EQ(resp->ModalidadePagto(), c.valor);
    EXPECT_EQ(resp->Debito(), c.debito);
    EXPECT_EQ(resp->Credito(), c.credito);
    EXPECT_EQ(resp->ParceladoPor(), c.parceladoPor);
    EXPECT_EQ(resp->TipoOperacao(), c.operacao);
  }
}

TEST(TKoCliSiTefRespCliSiTef, ConvertsEveryKnownField) {
  using R = const TKoCliSiTefRespCliSiTef&;
  struct Case {
    Campo campo;
    std::function<void(R)> verifica;
  };
  const Case cases[] = {
      {{101, "A VISTA"}, [](R r) { EXPECT_EQ(r.ModalidadeExtenso(), "A VISTA"); }},
      {{102,
        "Cr\xE9"
        "dito"},
       [](R r) {
         EXPECT_EQ(r.ModalidadePagtoDescrita(),
                   "Cr\xC3\xA9"
                   "dito");
       }},
      {{105, "20240105133000"},
       [](R r) {
         EXPECT_EQ(r.DataHoraTransacaoHost(), Data(2024, 1, 5, 13, 30));
         EXPECT_EQ(r.DataHoraTransacaoLocal(), Data(2024, 1, 5, 13, 30));
         EXPECT_EQ(r.DataHoraTransacaoComprovante(), Data(2024, 1, 5, 13, 30));
       }},
      {{120, "AUT"}, [](R r) { EXPECT_EQ(r.Autenticacao(), "AUT"); }},
      {{130, "250"},
       [](R r) {
         EXPECT_EQ(r.Saque(), Currency::FromCents(250));
         EXPECT_EQ(r.ValorTotal(), Currency::FromCents(250));
       }},
      {{131, "BANCO"}, [](R r) { EXPECT_EQ(r.Instituicao(), "BANCO"); }},
      {{132, "VISA"}, [](R r) { EXPECT_EQ(r.Bandeira(), "VISA"); }},
      {{133, "000123"}, [](R r) { EXPECT_EQ(r.NSU(), "000123"); }},
      {{134, "456"}, [](R r) { EXPECT_EQ(r.NSUComprovante(), "456"); }},
      {{135, "AB12"}, [](R r) { EXPECT_EQ(r.CodigoAutorizacaoTransacao(), "AB12"); }},
      {{139, "10,50"}, [](R r) { EXPECT_EQ(r.ValorEntradaCDC(), Currency::FromCents(1050)); }},
      {{140, "01022024"}, [](R r) { EXPECT_EQ(r.DataEntradaCDC(), Data(2024, 2, 1)); }},
      {{156, "REDE"}, [](R r) { EXPECT_EQ(r.Rede(), "REDE"); }},
      {{157, "EST1"}, [](R r) { EXPECT_EQ(r.CodigoEstabelecimento(), "EST1"); }},
      {{501, "0"}, [](R r) { EXPECT_EQ(r.TipoPessoa(), 'J'); }},
      {{501, "1"}, [](R r) { EXPECT_EQ(r.TipoPessoa(), 'F'); }},
      {{502, "12345678900"}, [](R r) { EXPECT_EQ(r.DocumentoPessoa(), "12345678900"); }},
      {{505, "3"}, [](R r) { EXPECT_EQ(r.QtdParcelas(), 3); }},
      {{506, "15032024"}, [](R r) { EXPECT_EQ(r.DataPreDatado(), Data(2024, 3, 15)); }},
      {{511, "4"}, [](R r) { EXPECT_EQ(r.QtdParcelas(), 4); }},
      {{515, "16032024"},
       [](R r) { EXPECT_EQ(r.DataHoraTransacaoCancelada(), Data(2024, 3, 16)); }},
      {{516, "789"}, [](R r) { EXPECT_EQ(r.NSUTransacaoCancelada(), "789"); }},
      {{527, "31122030"}, [](R r) { EXPECT_EQ(r.DataVencimento(), Data(2030, 12, 31)); }},
      {{613, "12345678901234567890ABCDEF99"},
       [](R r) {
         EXPECT_EQ(r.CMC7(), "12345678901234567890ABCDEF99");
         EXPECT_EQ(r.Cheque(), "ABCDEF");
       }},
      {{613, "1234567890123456789012"}, [](R r) { EXPECT_EQ(r.Cheque(), "12"); }},
      {{613, "123"}, [](R r) { EXPECT_EQ(r.Cheque(), ""); }},
      {{626, "001"}, [](R r) { EXPECT_EQ(r.Banco(), "001"); }},
      {{627, "1234"}, [](R r) { EXPECT_EQ(r.Agencia(), "1234"); }},
      {{628, "5"}, [](R r) { EXPECT_EQ(r.AgenciaDC(), "5"); }},
      {{629, "123456"}, [](R r) { EXPECT_EQ(r.Conta(), "123456"); }},
      {{630, "7"}, [](R r) { EXPECT_EQ(r.ContaDC(), "7"); }},
      {{800, "HASH"}, [](R r) { EXPECT_EQ(r.CodigoHASH(), "HASH"); }},
      {{2021, "************1234"}, [](R r) { EXPECT_EQ(r.NumeroCartao(), "************1234"); }},
      {{4029, "100"},
       [](R r) {
         EXPECT_EQ(r.Desconto(), Currency::FromCents(100));
         EXPECT_EQ(r.ValorTotal(), Currency::FromCents(-100));
       }},
      {{9999, "x"}, [](R r) { EXPECT_EQ(r.Conteudo().Count(), 1); }},  // kept, not converted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.campo.identificacao);
    c.verifica(*Resposta({c.campo}));
  }
}

TEST(TKoCliSiTefRespCliSiTef, BookkeepingKeysComeBack) {
  struct Case {
    std::string cnf;
    bool enviado;
  };
  for (const Case& c : {Case{"S", true}, Case{"s", true}, Case{"N", false}, Case{"SIM", false}}) {
    SCOPED_TRACE(c.cnf);
    TKoCliSiTefRespCliSiTef resp;
    resp.Conteudo().GravaInformacao(899, 1, AnsiBytes(c.cnf));
    resp.ConteudoToProperty();
    EXPECT_EQ(resp.CNFEnviado(), c.enviado);
  }

  TKoCliSiTefRespCliSiTef resp;
  resp.Conteudo().GravaInformacao(899, 100, AnsiBytes("CRT"));
  resp.Conteudo().GravaInformacao(899, 101, AnsiBytes("42"));
  resp.Conteudo().GravaInformacao(899, 102, AnsiBytes("000042"));
  resp.Conteudo().GravaInformacao(899, 103, AnsiBytes("1000"));
  resp.Conteudo().GravaInformacao(899, 2, AnsiBytes("\\x41"));  // stored as it came, not unescaped
  resp.Conteudo().GravaInformacao(899, 3, AnsiBytes("2"));
  resp.GravaInformacao(4029, AnsiBytes("100"));
  resp.ConteudoToProperty();
  EXPECT_EQ(resp.Header(), "CRT");
  EXPECT_EQ(resp.ID(), 42);
  EXPECT_EQ(resp.DocumentoVinculado(), "000042");
  EXPECT_EQ(resp.ValorTotal(), Currency::FromCents(900));
  EXPECT_EQ(resp.IndiceFPG_ECF(), "\\x41");
  EXPECT_EQ(resp.OrdemPagamento(), 2);
}

TEST(TKoCliSiTefRespCliSiTef, ReceiptImagesBecomeLines) {
  const auto resp = Resposta({{121, "L1\nL2"}, {122, "A\nB\nC\n"}});
  EXPECT_EQ(resp->ImagemComprovante1aVia(), (std::vector<std::string>{"L1", "L2"}));
  EXPECT_EQ(resp->ImagemComprovante2aVia(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(resp->QtdLinhasComprovante(), 3);

  // A CR LF pair is one line break, not a line break and an empty line.
  const auto crlf = Resposta({{121, "L1\r\nL2\r\n\r\nL4"}});
  EXPECT_EQ(crlf->ImagemComprovante1aVia(), (std::vector<std::string>{"L1", "L2", "", "L4"}));
  EXPECT_EQ(crlf->QtdLinhasComprovante(), 4);
}

TEST(TKoCliSiTefRespCliSiTef, InstalmentsFollowFields141And142) {
  const std::vector<Campo> tres = {{141, "10012025"}, {142, "3334"},     {141, "10022025"},
                                   {142, "3333"},     {141, "10032025"}, {142, "3333"}};
  {
    std::vector<Campo> campos = tres;
    campos.push_back({505, "3"});
    const auto resp = Resposta(campos);
    EXPECT_EQ(resp->Conteudo().LeInformacao(141, 3).AsString(), AnsiBytes("10032025"));
    ASSERT_EQ(resp->Parcelas().Count(), 3);
    EXPECT_EQ(resp->Parcelas().GetObject(0).Vencimento(), Data(2025, 1, 10));
    EXPECT_EQ(resp->Parcelas().GetObject(0).Valor(), Currency::FromCents(3334));
    EXPECT_EQ(resp->Parcelas().GetObject(2).Vencimento(), Data(2025, 3, 10));
    EXPECT_EQ(resp->Parcelas().GetObject(2).Valor(), Currency::FromCents(3333));
  }
  {
    // 511 comes after 505 in the file and wins; the fourth instalment has no fields: zeros.
    std::vector<Campo> campos = tres;
    campos.push_back({505, "2"});
    campos.push_back({511, "4"});
    const auto resp = Resposta(campos);
    ASSERT_EQ(resp->Parcelas().Count(), 4);
    EXPECT_EQ(resp->Parcelas().GetObject(3).Vencimento(), 0);
    EXPECT_EQ(resp->Parcelas().GetObject(3).Valor(), Currency());
  }
  {
    const auto resp = Resposta({{142, "100"}, {505, "3"}});
    EXPECT_EQ(resp->Parcelas().Count(), 0);  // no 141: no instalments whatever QtdParcelas says
  }
  {
    const auto resp = Resposta({{141, "10012025"}, {511, "2000000000"}});
    EXPECT_EQ(resp->Parcelas().Count(), 999);  // a key has no room for more sequences
  }
}

TEST(TKoCliSiTefRespCliSiTef, InstalmentValuesTakeTheFirstFreeSequence) {
  TKoCliSiTefRespCliSiTef resp;
  resp.Conteudo().Add(AnsiBytes("141-001 = a"));
  resp.Conteudo().Add(AnsiBytes("141-003 = c"));
  resp.Conteudo().Add(AnsiBytes("1410-002 = outro campo"));
  resp.Conteudo().Add(AnsiBytes("141-002x = chave malformada"));
  resp.GravaInformacao(141, AnsiBytes("b"));
  resp.GravaInformacao(141, AnsiBytes("d"));
  resp.GravaInformacao(142, AnsiBytes("1"));
  EXPECT_EQ(resp.Conteudo().LeInformacao(141, 2).AsString(), AnsiBytes("b"));
  EXPECT_EQ(resp.Conteudo().LeInformacao(141, 4).AsString(), AnsiBytes("d"));
  EXPECT_EQ(resp.Conteudo().LeInformacao(142, 1).AsString(), AnsiBytes("1"));
}

TEST(TKoCliSiTefRespCliSiTef, InstalmentSequencesStopAt999) {
  TKoCliSiTefRespCliSiTef resp;
  for (int i = 0; i < 1001; ++i) resp.GravaInformacao(141, AnsiBytes("01012025"));
  EXPECT_EQ(resp.Conteudo().Count(), 999);
  EXPECT_EQ(resp.Conteudo().GetLinha(998).Chave(), AnsiBytes("141-999"));
}

TEST(TKoCliSiTefRespCliSiTef, ARecordRoundTripsThroughItsBackupFile) {
  TempDir dir;
  TKoCliSiTefRespCliSiTef original;
  original.Conteudo().GravaInformacao(899, 100, AnsiBytes("CRT"));
  original.Conteudo().GravaInformacao(899, 101, AnsiBytes("7"));
  original.Conteudo().GravaInformacao(899, 102, AnsiBytes("000007"));
  original.Conteudo().GravaInformacao(899, 103, AnsiBytes("30000"));
  original.GravaInformacao(100, AnsiBytes("0203"));
  original.GravaInformacao(102, platform::ToAnsi("Cr\xC3\xA9"
                                                 "dito parcelado"));
  original.GravaInformacao(105, AnsiBytes("20240105133000"));
  original.GravaInformacao(121, AnsiBytes("LOJA\r\nCOMPROVANTE\r\nR$ 300,00"));
  original.GravaInformacao(122, AnsiBytes("VIA CLIENTE\nR$ 300,00"));
  original.GravaInformacao(131, platform::ToAnsi("Institui\xC3\xA7\xC3\xA3o"));
  original.GravaInformacao(133, AnsiBytes("000123"));
  original.GravaInformacao(156, AnsiBytes("REDE"));
  original.GravaInformacao(2021, AnsiBytes("************1234"));
  original.GravaInformacao(4029, AnsiBytes("1000"));
  original.GravaInformacao(130, AnsiBytes("500"));
  for (const char* data : {"05022024", "05032024", "05042024"}) {
    original.GravaInformacao(141, AnsiBytes(data));
    original.GravaInformacao(142, AnsiBytes("10000"));
  }
  original.GravaInformacao(505, AnsiBytes("3"));
  original.ConteudoToProperty();
  original.SetCNFEnviado(true);
  original.SetIndiceFPG_ECF("02");
  original.SetOrdemPagamento(1);

  const std::string nome = dir.File("KoCliSiTef_CliSiTef_001.tef");
  original.Conteudo().GravarArquivo(nome, true);
  const std::string bytes = TempDir::Read(nome);
  EXPECT_NE(bytes.find("102-000 = Cr\\xE9dito parcelado\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("121-000 = LOJA\\x0D\\x0ACOMPROVANTE\\x0D\\x0AR$ 300,00\r\n"),
            std::string::npos);
  EXPECT_NE(bytes.find("899-001 = S\r\n899-002 = 02\r\n899-003 = 1\r\n"), std::string::npos);

  TKoCliSiTefRespCliSiTef lido;
  lido.LeArquivo(nome);
  EXPECT_EQ(lido.Conteudo().Conteudo(), original.Conteudo().Conteudo());
  EXPECT_EQ(lido.Header(), "CRT");
  EXPECT_EQ(lido.ID(), 7);
  EXPECT_EQ(lido.DocumentoVinculado(), "000007");
  EXPECT_EQ(lido.ValorTotal(), Currency::FromCents(30000 + 500 - 1000));
  EXPECT_EQ(lido.ValorTotal(), original.ValorTotal());
  EXPECT_EQ(lido.Saque(), original.Saque());
  EXPECT_EQ(lido.Desconto(), original.Desconto());
  EXPECT_EQ(lido.ModalidadePagtoDescrita(),
            "Cr\xC3\xA9"
            "dito parcelado");
  EXPECT_EQ(lido.Instituicao(), "Institui\xC3\xA7\xC3\xA3o");
  EXPECT_EQ(lido.Credito(), original.Credito());
  EXPECT_EQ(lido.ParceladoPor(), parcADM);
  EXPECT_EQ(lido.TipoOperacao(), opParcelado);
  EXPECT_EQ(lido.DataHoraTransacaoHost(), original.DataHoraTransacaoHost());
  EXPECT_EQ(lido.ImagemComprovante1aVia(),
            (std::vector<std::string>{"LOJA", "COMPROVANTE", "R$ 300,00"}));
  EXPECT_EQ(lido.ImagemComprovante2aVia(), original.ImagemComprovante2aVia());
  EXPECT_EQ(lido.QtdLinhasComprovante(), 3);
  EXPECT_EQ(lido.NSU(), "000123");
  EXPECT_EQ(lido.Rede(), "REDE");
  EXPECT_EQ(lido.NumeroCartao(), "************1234");
  ASSERT_EQ(lido.Parcelas().Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(lido.Parcelas().GetObject(i).Vencimento(),
              original.Parcelas().GetObject(i).Vencimento());
    EXPECT_EQ(lido.Parcelas().GetObject(i).Valor(), Currency::FromCents(10000));
  }
  EXPECT_EQ(lido.Parcelas().GetObject(2).Vencimento(), Data(2024, 4, 5));
  EXPECT_TRUE(lido.CNFEnviado());
  EXPECT_EQ(lido.IndiceFPG_ECF(), "02");
  EXPECT_EQ(lido.OrdemPagamento(), 1);
}

}  // namespace
}  // namespace kelvora::tef
