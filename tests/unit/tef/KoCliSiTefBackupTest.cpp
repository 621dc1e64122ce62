// Tests of the backup files of approved payments: numbering, the start-up confirmation of
// leftovers, the reversal of pending payments and the printed report of a non-payment response,
// against the scripted stand-in library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TefTestSupport.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"

// The one file whose deletion fails, as on a file system that refuses it; every other file is
// deleted by the C library. The component deletes through unlink, which this definition replaces
// in the test program (on Linux, where the dynamic loader lets it reach the real one).
static std::string gNaoApagavel;

#ifndef _WIN32
#include <dlfcn.h>

extern "C" int unlink(const char* caminho) noexcept {
  using Unlink = int (*)(const char*);
  static const Unlink real = reinterpret_cast<Unlink>(::dlsym(RTLD_NEXT, "unlink"));
  if (!gNaoApagavel.empty() && gNaoApagavel == caminho) {
    errno = EACCES;
    return -1;
  }
  return real(caminho);
}
#endif

namespace kelvora::tef {
namespace {

using testing::Ambiente;
using testing::ComponenteNaBiblioteca;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> Chamadas(const Ambiente& ambiente, const std::string& nome) {
  std::vector<std::string> saida;
  for (const std::string& linha : ambiente.Linhas("CliSiTefChamadas.txt")) {
    if (linha.compare(0, nome.size() + 1, nome + "|") == 0)
      saida.push_back(linha.substr(nome.size() + 1));
  }
  return saida;
}

// A backup file as the gateway writes one for an approved payment.
void EscreveBackup(const std::string& arquivo, const std::string& nsu, const std::string& documento,
                   const std::string& cabecalho = "CRT", const std::string& cnfEnviado = "") {
  std::ofstream saida(arquivo, std::ios::binary);
  if (!nsu.empty()) saida << "133-000 = " << nsu << "\r\n";
  if (!cnfEnviado.empty()) saida << "899-001 = " << cnfEnviado << "\r\n";
  saida << "899-002 = 02\r\n899-100 = " << cabecalho << "\r\n899-101 = " << documento
        << "\r\n899-102 = " << documento << "\r\n899-103 = 1000\r\n";
}

class Backups : public ComponenteNaBiblioteca {
 protected:
  Backups() : ComponenteNaBiblioteca(BIBLIOTECA_ROTEIRO) {}
  void SetUp() override { std::filesystem::create_directories(ambiente.PathBackup()); }
};

TEST_F(Backups, CopiarRespostaTakesTheFirstFreeNumber) {
  g.Resp().Conteudo().GravaInformacao(899, 100, platform::AnsiBytes("CRT"));
  g.Resp().Conteudo().GravaInformacao(899, 101, platform::AnsiBytes("37815"));
  g.Resp().ConteudoToProperty();
  std::ofstream(ambiente.Backup(1)) << "";
  std::ofstream(ambiente.Backup(2)) << "";
  EXPECT_EQ(g.CopiarResposta(), ambiente.Backup(3));
  EXPECT_EQ(g.Resp().ArqBackup(), ambiente.Backup(3));
  EXPECT_EQ(testing::TempDir::Read(ambiente.Backup(3)), "899-100 = CRT\r\n899-101 = 37815\r\n");
  EXPECT_THAT(
      ambiente.Log(),
      HasSubstr(" - KoCliSiTef CopiarResposta: CRT - 37815 Arq: " + ambiente.Backup(3) + "\r\n"));

  std::filesystem::remove(ambiente.Backup(1));
  EXPECT_EQ(g.CopiarResposta(), ambiente.Backup(1));
}

TEST_F(Backups, WithAllNineHundredNinetyNineNamesTakenNoBackupIsWritten) {
  for (int n = 1; n <= 999; ++n) std::ofstream(ambiente.Backup(n)) << "";
  try {
    g.CopiarResposta();
    ADD_FAILURE() << "a backup was accepted without a free name";
  } catch (const EKoCliSiTefArquivo& e) {
    EXPECT_EQ(
        std::string(e.what()),
        "Não há número livre para um novo arquivo de backup (limite de 999 arquivos) em:\r\n" +
            ambiente.PathBackup());
  }
  EXPECT_EQ(ambiente.Backups().size(), 999u);
}

TEST_F(Backups, LeftoversAreConfirmedInTheLibraryOnceEachAtStartUp) {
  EscreveBackup(ambiente.Backup(1), "111", "10");
  EscreveBackup(ambiente.Backup(2), "222", "11");
  std::vector<bool> confirmandoNoEvento;
  app.AoEvento = [&](const std::string& evento) {
    if (evento.rfind("OnDepoisConfirmarTransacoes", 0) == 0) {
      confirmandoNoEvento.push_back(k.TransacaoConfirmada());
    }
  };
  k.Inicializar(gpCliSiTef);

  EXPECT_THAT(Chamadas(ambiente, "finaliza"),
              ElementsAre("1|10|20241225|103015", "1|11|20241225|103015"));
  EXPECT_EQ(app.Filtra({"OnInfoECF", "OnDepois", "OnExibeMsg opmOK", "OnComandaImpressao"}),
            (std::vector<std::string>{
                "OnInfoECF ineEstadoECF",
                "OnDepoisConfirmarTransacoes 2",
                "OnExibeMsg opmOK Transação TEF efetuada.\r\nFavor reimprimir último Cupom.\r\n"
                "NSU: 111\r\n222\r\n\r\nNº Documento: 10\r\n11\r\n\r\n"
                "(Para Cielo utilizar os 6 últimos dígitos.)",
            }));
  ASSERT_EQ(app.Confirmadas.size(), 2u);
  EXPECT_TRUE(app.Confirmadas[0].Pendente);
  EXPECT_EQ(app.Confirmadas[0].NSU, "111");
  EXPECT_EQ(app.Confirmadas[1].Documento, "11");
  EXPECT_EQ(app.Confirmadas[1].Valor, platform::Currency::FromCents(1000));
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
  // The flag covers the start-up confirmation only.
  EXPECT_THAT(confirmandoNoEvento, ElementsAre(true));
  EXPECT_FALSE(k.TransacaoConfirmada());
}

TEST_F(Backups, AStartWithoutLeftoversConfirmsAndShowsNothing) {
  k.Inicializar(gpCliSiTef);
  EXPECT_TRUE(Chamadas(ambiente, "finaliza").empty());
  EXPECT_THAT(app.Eventos, ElementsAre("OnInfoECF ineEstadoECF"));
  EXPECT_FALSE(k.TransacaoConfirmada());
}

TEST_F(Backups, ALeftoverThatCannotBeReadStaysForALaterPassAndTheOthersGoOn) {
  // A directory under a backup's name cannot be read as a file, however often it is tried.
  std::filesystem::create_directory(ambiente.Backup(1));
  EscreveBackup(ambiente.Backup(2), "222", "11");
  k.Inicializar(gpCliSiTef);
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("1|11|20241225|103015"));
  EXPECT_THAT(ambiente.Backups(), ElementsAre("KoCliSiTef_CliSiTef_001.tef"));
  EXPECT_THAT(
      ambiente.Log(),
      HasSubstr("CliSiTef ConfirmarTransacoesPendentesClass: " + ambiente.Backup(1) + " - "));
  EXPECT_TRUE(k.Inicializado());

  // The reversal pass leaves it in place the same way.
  k.CancelarTransacoesPendentes();
  EXPECT_THAT(ambiente.Backups(), ElementsAre("KoCliSiTef_CliSiTef_001.tef"));
}

TEST_F(Backups, ReversalUndoesEveryBackupInTheLibraryAndDeletesIt) {
  Inicializa();
  // Written after the start, as payments of this process leave them; the last found goes first.
  EscreveBackup(ambiente.Backup(1), "111", "10");
  EscreveBackup(ambiente.Backup(2), "222", "11", "CHQ");
  EscreveBackup(ambiente.Backup(3), "333", "12");
  k.CancelarTransacoesPendentes();

  EXPECT_THAT(Chamadas(ambiente, "finaliza"),
              ElementsAre("0|12|20241225|103015", "0|11|20241225|103015", "0|10|20241225|103015"));
  EXPECT_EQ(app.Conta("OnAntesCancelarTransacao"), 3);
  EXPECT_EQ(app.Conta("OnExibeMsg opmOK Transação \"TEF\" não efetuada."), 3);
  EXPECT_EQ(app.Eventos.back(), "OnDepoisCancelarTransacoes 0");
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_THAT(ambiente.Log(), HasSubstr(" - CliSiTef CancelarTransacoesPendentesClass \r\n"));
}

TEST_F(Backups, ReversalUndoesAPaymentEvenWhenItsReceiptWouldBeConfirmedByPrinting) {
  k.Inicializar(gpCliSiTef);
  k.SetAutoFinalizarCupom(false);
  ambiente.Escreve("CliSiTefRoteiro.txt",
                   "continua 10000 0 121 0 0 VIA\ncontinua 10000 0 133 0 0 000042\n"
                   "continua 0 0 -1 0 0\n");
  ASSERT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00"));
  ASSERT_EQ(ambiente.Backups().size(), 1u);
  app.Eventos.clear();
  app.RetornoImpressao = 1;

  k.CancelarTransacoesPendentes();
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("0|37815|20241225|103015"));
  EXPECT_EQ(app.Conta("OnComandaImpressao"), 0);
  ASSERT_EQ(app.Canceladas.size(), 1u);
  EXPECT_EQ(app.Eventos.back(), "OnDepoisCancelarTransacoes 1");
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
  EXPECT_TRUE(ambiente.Backups().empty());
}

TEST_F(Backups, AReversalWhoseNoticeFailsStillDeletesTheUndoneBackup) {
  k.Inicializar(gpCliSiTef);
  EscreveBackup(ambiente.Backup(1), "111", "10");
  k.OnExibeMsg = [](TKoCliSiTefOperacaoMensagem op, const std::string&, int&) {
    if (op == opmOK) throw std::runtime_error("client gone");
  };
  k.CancelarTransacoesPendentes();

  // Left on disk, the undone payment would be confirmed at the next start-up.
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("0|10|20241225|103015"));
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_THAT(ambiente.Log(), HasSubstr("CliSiTef DesfazerBackup: client gone"));
}

TEST_F(Backups, APaymentUndoneForItsUnprintedReceiptLosesItsBackupEvenWhenTheNoticeFails) {
  k.Inicializar(gpCliSiTef);
  k.SetAutoFinalizarCupom(false);
  ambiente.Escreve("CliSiTefRoteiro.txt",
                   "continua 10000 0 121 0 0 VIA\ncontinua 10000 0 133 0 0 000042\n"
                   "continua 0 0 -1 0 0\n");
  ASSERT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00"));
  ASSERT_EQ(ambiente.Backups().size(), 1u);
  app.RetornoImpressao = 0;
  k.OnExibeMsg = [](TKoCliSiTefOperacaoMensagem op, const std::string&, int&) {
    if (op == opmOK) throw std::runtime_error("client gone");
  };
  k.ConfirmarTransacoesPendentes();

  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("0|37815|20241225|103015"));
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_THAT(ambiente.Log(), HasSubstr("CliSiTef FinalizarTransacao: client gone"));
}

TEST_F(Backups, AConfirmedPaymentWhoseBackupCannotBeDeletedIsNeverUndoneNorConfirmedAgain) {
#ifdef _WIN32
  GTEST_SKIP() << "a failing deletion is made by replacing unlink, which only Linux allows";
#endif
  struct Caso {
    const char* passe;
    std::function<void()> executa;
    bool apagavel;  // whether the file can be deleted by the pass
  };
  const auto reinicia = [&] {
    k.DesInicializar(gpCliSiTef);
    k.Inicializar(gpCliSiTef);
  };
  const std::vector<Caso> casos = {
      {"reversal", [&] { k.CancelarTransacoesPendentes(); }, true},
      {"start-up", reinicia, true},
      {"start-up, the file still undeletable", reinicia, false},
  };
  Inicializa();
  for (const Caso& caso : casos) {
    ambiente.Escreve("CliSiTefChamadas.txt", "");
    ambiente.Escreve("CliSiTefRoteiro.txt",
                     "continua 10000 0 121 0 0 VIA\ncontinua 10000 0 133 0 0 000042\n"
                     "continua 0 0 -1 0 0\n");
    gNaoApagavel = ambiente.Backup(1);
    ASSERT_TRUE(k.CRT(10, "02", "1", 0, "", "", "", "00")) << caso.passe;
    EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("1|37815|20241225|103015"));
    EXPECT_EQ(app.Conta("OnDepoisConfirmarTransacoes 1"), 1);
    ASSERT_THAT(ambiente.Backups(), ElementsAre("KoCliSiTef_CliSiTef_001.tef"));
    EXPECT_THAT(testing::TempDir::Read(ambiente.Backup(1)), HasSubstr("899-108 = S\r\n"));

    if (caso.apagavel) gNaoApagavel.clear();
    ambiente.Escreve("CliSiTefChamadas.txt", "");
    app.Eventos.clear();
    caso.executa();
    EXPECT_TRUE(Chamadas(ambiente, "finaliza").empty()) << caso.passe;
    EXPECT_EQ(app.Conta("OnAntesCancelarTransacao"), 0) << caso.passe;
    EXPECT_EQ(app.Conta("OnDepoisConfirmarTransacoes"), 0) << caso.passe;
    EXPECT_EQ(app.Conta("OnExibeMsg opmOK Transação TEF efetuada."), 0) << caso.passe;
    EXPECT_EQ(ambiente.Backups().empty(), caso.apagavel) << caso.passe;
    gNaoApagavel.clear();
    std::filesystem::remove(ambiente.Backup(1));
  }
  EXPECT_THAT(ambiente.Log(), HasSubstr(" - CliSiTef CancelarTransacoesPendentesClass: transação "
                                        "já finalizada, arquivo apagado: " +
                                        ambiente.Backup(1) + "\r\n"));
  EXPECT_THAT(ambiente.Log(), HasSubstr(" - CliSiTef ConfirmarTransacoesPendentesClass: transação "
                                        "já finalizada, arquivo apagado: " +
                                        ambiente.Backup(1) + "\r\n"));
}

TEST_F(Backups, ANonPaymentReceiptIsPrintedAsAReportThenConfirmed) {
  Inicializa();
  bool backupDuranteImpressao = false;
  app.AoEvento = [&](const std::string& evento) {
    if (evento.rfind("OnComandaECFImprimeVia", 0) == 0) {
      backupDuranteImpressao = std::filesystem::exists(ambiente.Backup(1));
    }
  };
  ambiente.Escreve("CliSiTefRoteiro.txt",
                   "continua 10000 0 121 0 0 VIA CLIENTE\ncontinua 10000 0 122 0 0 VIA LOJA\n"
                   "continua 0 0 -1 0 0\n");
  EXPECT_TRUE(k.ADM(gpCliSiTef));
  EXPECT_TRUE(backupDuranteImpressao);
  EXPECT_EQ(app.Filtra({"OnMudaEstadoResp", "OnComandaECF", "OnExibeMsg opmDestaque",
                        "OnComandaImpressao", "OnDepois"}),
            (std::vector<std::string>{
                "OnMudaEstadoResp respProcessando",
                "OnComandaECF opeAbreGerencial",
                "OnComandaECFImprimeVia trGerencial 1",
                "OnComandaECF opePulaLinhas",
                "OnExibeMsg opmDestaqueVia Destaque a 2ª Via",
                "OnComandaECFImprimeVia trGerencial 2",
                "OnComandaECF opeFechaGerencial",
                "OnComandaImpressao",
                "OnDepoisConfirmarTransacoes 1",
            }));
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("1|37815|20241225|103015"));
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

TEST_F(Backups, AReportThatCannotBePrintedIsUndoneAndReported) {
  Inicializa();
  app.RetornosImprimeVia = {0};
  app.Respostas = {7};
  app.RetornoImpressao = 0;
  ambiente.Escreve("CliSiTefRoteiro.txt", "continua 10000 0 121 0 0 VIA\ncontinua 0 0 -1 0 0\n");
  try {
    k.ADM(gpCliSiTef);
    ADD_FAILURE() << "the report's failure was not reported";
  } catch (const EKoCliSiTefECF& e) {
    EXPECT_STREQ(e.what(), "Impressão de Relatório Falhou");
  }
  EXPECT_THAT(Chamadas(ambiente, "finaliza"), ElementsAre("0|37815|20241225|103015"));
  EXPECT_EQ(app.Conta("OnComandaECFImprimeVia"), 1);
  EXPECT_EQ(app.Conta("OnDepoisConfirmarTransacoes"), 0);
  EXPECT_TRUE(ambiente.Backups().empty());
  EXPECT_EQ(k.RespostasPendentes().Count(), 0);
}

}  // namespace
}  // namespace kelvora::tef
