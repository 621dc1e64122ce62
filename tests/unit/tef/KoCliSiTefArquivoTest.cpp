// Tests of the field file: value readings, line parsing, the sorted list, loading and saving.
#include "tef/KoCliSiTefArquivo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "TempDir.h"
#include "tef/KoCliSiTefErro.h"

namespace kelvora::tef {
namespace {

using platform::AnsiBytes;
using platform::AnsiString;
using platform::TDateTime;
using testing::TempDir;

TDateTime Data(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  return platform::TryEncodeDateTime({y, m, d, h, n, s, 0}).value();
}

// A clock stopped at noon of a given day, so the "current year" of AsTimeStamp is known.
class RelogioFixo : public platform::Clock {
 public:
  explicit RelogioFixo(std::chrono::year_month_day dia) : dia_(dia) {}
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::sys_days(dia_) + std::chrono::hours(12);
  }

 private:
  std::chrono::year_month_day dia_;
};

// Latin-1 text as UTF-16 bytes with their byte-order mark.
std::string Utf16(const std::string& latin1, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : latin1) {
    bytes += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return bytes;
}

TKoCliSiTefInformacao Info(const std::string& texto) {
  return TKoCliSiTefInformacao(AnsiBytes(texto));
}

TEST(TKoCliSiTefInformacao, IntegerAndAmountReadings) {
  struct Case {
    std::string texto;
    int32_t inteiro;
    double valor;
  };
  const Case cases[] = {
      {"1234", 1234, 12.34},
      {" 42 ", 42, 0.42},
      {"12,34", 0, 12.34},
      {"12.34", 0, 12.34},
      {"1.234,56", 0, 1234.56},
      {"5", 5, 0.05},
      {"21474836.48", 0, 0},  // the hundredths overflow 32 bits
      {"abc", 0, 0},
      {"", 0, 0},
      {" ", 0, 0},  // what an absent key reads as
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texto);
    EXPECT_EQ(Info(c.texto).AsInteger(), c.inteiro);
    EXPECT_DOUBLE_EQ(Info(c.texto).AsFloat(), c.valor);
  }
}

TEST(TKoCliSiTefInformacao, AmountAndIntegerWritings) {
  struct Case {
    double valor;
    std::string texto;
  };
  const Case cases[] = {
      {12.34, "1234"}, {1234.5, "123450"}, {0.5, "050"},
      {0.05, "005"},   {0.005, "001"},  // hundredths rounded half away from zero
      {0, ""},         {-0.05, "-005"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texto);
    TKoCliSiTefInformacao info;
    info.SetAsFloat(c.valor);
    EXPECT_EQ(info.AsString(), AnsiBytes(c.texto));
  }
  TKoCliSiTefInformacao info;
  info.SetAsInteger(-7);
  EXPECT_EQ(info.AsString(), AnsiBytes("-7"));
  info.SetAsInteger(0);
  EXPECT_EQ(info.AsString(), AnsiString());
}

TEST(TKoCliSiTefInformacao, DateReadingsTakeTheDigitsAndRefuseInvalidDates) {
  const RelogioFixo em2023(std::chrono::year(2023) / 6 / 15);
  const RelogioFixo em2024(std::chrono::year(2024) / 6 / 15);
  struct Case {
    std::string texto;
    TDateTime data, hora, carimbo2023, carimbo2024, sql;
  };
  const Case cases[] = {
      {"31/12/2024", Data(2024, 12, 31), 0, 0, 0, 0},  // 31:12:20 is no time
      {"2024", 0, 0, 0, 0, 0},                         // too few digits for any reading
      {"3112235959", Data(2359, 12, 31), 0, Data(2023, 12, 31, 23, 59, 59),
       Data(2024, 12, 31, 23, 59, 59), 0},
      // 29 February: in the year 1200 and in 2024, not in 2023.
      {"2902120000", Data(1200, 2, 29), 0, 0, Data(2024, 2, 29, 12), 0},
      {"143005", 0, Data(1899, 12, 30, 14, 30, 5), 0, 0, 0},
      {"20240105133000", 0, Data(1899, 12, 30, 20, 24, 1), 0, 0, Data(2024, 1, 5, 13, 30)},
      {"20241305133000", 0, Data(1899, 12, 30, 20, 24, 13), 0, 0, 0},
      {"", 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.texto);
    const TKoCliSiTefInformacao info = Info(c.texto);
    EXPECT_DOUBLE_EQ(info.AsDate(), c.data);
    EXPECT_NEAR(info.AsTime(), c.hora, 1e-9);
    EXPECT_DOUBLE_EQ(info.AsTimeStamp(em2023), c.carimbo2023);
    EXPECT_DOUBLE_EQ(info.AsTimeStamp(em2024), c.carimbo2024);
    EXPECT_DOUBLE_EQ(info.AsTimeStampSQL(), c.sql);
  }
}

TEST(TKoCliSiTefInformacao, DateWritingsUseTheFixedPatterns) {
  const TDateTime momento = Data(2024, 12, 31, 9, 5, 7);
  TKoCliSiTefInformacao info;
  info.SetAsDate(momento);
  EXPECT_EQ(info.AsString(), AnsiBytes("31122024"));
  info.SetAsTime(momento);
  EXPECT_EQ(info.AsString(), AnsiBytes("090507"));
  info.SetAsTimeStamp(momento);
  EXPECT_EQ(info.AsString(), AnsiBytes("3112090507"));
  info.SetAsTimeStampSQL(momento);
  EXPECT_EQ(info.AsString(), AnsiBytes("20241231090507"));
  EXPECT_DOUBLE_EQ(info.AsTimeStampSQL(), momento);
  info.SetAsDate(0);
  EXPECT_EQ(info.AsString(), AnsiString());
}

TEST(TKoCliSiTefLinha, ParsesKeySequenceAndValue) {
  struct Case {
    std::string linha;
    int16_t identificacao, sequencia;
    std::string valor, chave;
  };
  const Case cases[] = {
      {"009-000 = FF", 9, 0, "FF", "009-000"},
      {"899-103 = 1000", 899, 103, "1000", "899-103"},
      {"1000-001 = Y", 1000, 1, "Y", "1000-001"},
      {"12-5 = X", 0, 0, "X", "12-5"},  // "12-" is not a number
      {"029-001 =  a b ", 29, 1, " a b ", "029-001"},
      {"029-001 =", 29, 1, "", "029-001"},  // the blank appended finds the separator
      {"029-001 = x = y", 29, 1, "x = y", "029-001"},
      {"sem separador", 0, 0, "", ""},
      {"", 0, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.linha);
    TKoCliSiTefLinha linha;
    linha.SetLinha(AnsiBytes("009-000 = antes"));
    linha.SetLinha(AnsiBytes(c.linha));
    EXPECT_EQ(linha.Identificacao(), c.identificacao);
    EXPECT_EQ(linha.Sequencia(), c.sequencia);
    EXPECT_EQ(linha.Informacao().AsString(), AnsiBytes(c.valor));
    EXPECT_EQ(linha.Chave(), AnsiBytes(c.chave));
    EXPECT_EQ(linha.Linha(), AnsiBytes(c.linha));
  }
}

TEST(TKoCliSiTefLinha, MontaChavePadsTheNumberAndCutsTheSequence) {
  EXPECT_EQ(MontaChave(9, 0), AnsiBytes("009-000"));
  EXPECT_EQ(MontaChave(29, 12), AnsiBytes("029-012"));
  EXPECT_EQ(MontaChave(899, 103), AnsiBytes("899-103"));
  EXPECT_EQ(MontaChave(1000, 1), AnsiBytes("1000-001"));
  EXPECT_EQ(MontaChave(5, 1234), AnsiBytes("005-123"));
}

TEST(TKoCliSiTefArquivo, WritingAValueAndAnEmptyValue) {
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(9, 0, AnsiBytes("FF"));
  EXPECT_EQ(arquivo.LeInformacao(9, 0).AsString(), AnsiBytes("FF"));
  arquivo.GravaInformacao(AnsiBytes("009-000"), AnsiBytes("fe"));
  EXPECT_EQ(arquivo.Conteudo(), std::vector<AnsiString>{AnsiBytes("009-000 = fe")});
  arquivo.GravaInformacao(9, 0, AnsiBytes(""));
  EXPECT_EQ(arquivo.Count(), 0);
}

TEST(TKoCliSiTefArquivo, AnAbsentKeyReadsAsOneBlank) {
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(9, 0, AnsiBytes("FF"));
  const TKoCliSiTefLinha& linha = arquivo.LeLinha(29, 3);
  EXPECT_EQ(linha.Informacao().AsString(), AnsiBytes(" "));
  EXPECT_EQ(linha.Informacao().AsInteger(), 0);
  EXPECT_EQ(linha.Informacao().AsDate(), 0);
  EXPECT_EQ(linha.Chave(), AnsiBytes("029-003"));
  EXPECT_EQ(linha.Identificacao(), 29);
  EXPECT_EQ(linha.Sequencia(), 3);
}

TEST(TKoCliSiTefArquivo, KeepsLinesSortedWithoutCaseDuplicates) {
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(29, 2, AnsiBytes("b"));
  arquivo.GravaInformacao(29, 10, AnsiBytes("c"));
  arquivo.GravaInformacao(29, 1, AnsiBytes("a"));
  arquivo.GravaInformacao(1000, 1, AnsiBytes("d"));
  EXPECT_EQ(arquivo.Conteudo(),
            (std::vector<AnsiString>{AnsiBytes("029-001 = a"), AnsiBytes("029-002 = b"),
                                     AnsiBytes("029-010 = c"), AnsiBytes("1000-001 = d")}));
  EXPECT_EQ(arquivo.Add(AnsiBytes("029-002 = B")), 1);  // same text but for case: dropped
  EXPECT_EQ(arquivo.Count(), 4);
  EXPECT_EQ(arquivo.GetLinha(2).Linha(), AnsiBytes("029-010 = c"));
}

TEST(TKoCliSiTefArquivo, OnlyTheFirstLineOfAKeyIsReplaced) {
  TKoCliSiTefArquivo arquivo;
  arquivo.Add(AnsiBytes("009-000 = A"));
  arquivo.Add(AnsiBytes("009-000 = B"));
  arquivo.GravaInformacao(9, 0, AnsiBytes("C"));
  EXPECT_EQ(arquivo.Conteudo(),
            (std::vector<AnsiString>{AnsiBytes("009-000 = B"), AnsiBytes("009-000 = C")}));
}

TEST(TKoCliSiTefArquivo, RefusesValuesThatWouldSplitIntoTwoLines) {
  TKoCliSiTefArquivo arquivo;
  EXPECT_THROW(arquivo.GravaInformacao(899, 2, AnsiBytes("02\r\n899-001 = S")),
               std::invalid_argument);
  EXPECT_THROW(arquivo.GravaInformacao(AnsiBytes("001-000\n"), AnsiBytes("x")),
               std::invalid_argument);
  EXPECT_EQ(arquivo.Count(), 0);
}

TEST(TKoCliSiTefArquivo, GetLinhaOutOfRangeKeepsTheCursor) {
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(1, 0, AnsiBytes("x"));
  const TKoCliSiTefLinha& cursor = arquivo.GetLinha(0);
  EXPECT_THROW(arquivo.GetLinha(1), std::out_of_range);
  EXPECT_THROW(arquivo.GetLinha(-1), std::out_of_range);
  EXPECT_EQ(cursor.Linha(), AnsiBytes("001-000 = x"));
}

TEST(TKoCliSiTefArquivo, SavesSortedAnsiLinesEachEndedByCrLf) {
  TempDir dir;
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(29, 10, AnsiBytes("c"));
  arquivo.GravaInformacao(29, 1, platform::ToAnsi("Jos\xC3\xA9"));  // José in UTF-8
  const std::string nome = dir.File("resp.tef");
  arquivo.GravarArquivo(nome, true);
  EXPECT_EQ(TempDir::Read(nome), "029-001 = Jos\xE9\r\n029-010 = c\r\n");

  arquivo.GravaInformacao(29, 10, AnsiBytes(""));
  arquivo.GravarArquivo(nome, false);  // replaces the file
  EXPECT_EQ(TempDir::Read(nome), "029-001 = Jos\xE9\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1);

  TKoCliSiTefArquivo vazio;
  vazio.GravarArquivo(nome, true);
  EXPECT_EQ(TempDir::Read(nome), "");
}

TEST(TKoCliSiTefArquivo, AFailedSaveNamesTheFileAndKeepsTheOldOne) {
  TempDir dir;
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(1, 0, AnsiBytes("x"));
  const std::string faltando = dir.File("falta/resp.tef");
  try {
    arquivo.GravarArquivo(faltando, true);
    FAIL() << "the directory does not exist";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create file " + faltando), std::string::npos);
  }

  // A directory in the way: the rename fails and the directory is left alone.
  std::filesystem::create_directory(dir.File("pasta.tef"));
  EXPECT_THROW(arquivo.GravarArquivo(dir.File("pasta.tef"), false), std::system_error);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("pasta.tef")));
}

TEST(TKoCliSiTefArquivo, LoadsAnyLineEndAndByteOrderMark) {
  const std::vector<AnsiString> esperado{AnsiBytes("001-000 = caf\xE9"), AnsiBytes("002-000 = b"),
                                         AnsiBytes("003-000 = c")};
  struct Case {
    const char* nome;
    std::string bytes;
  };
  const Case cases[] = {
      {"ansi crlf", "002-000 = b\r\n001-000 = caf\xE9\r\n003-000 = c\r\n"},
      {"ansi lf, no final break", "003-000 = c\n002-000 = b\n001-000 = caf\xE9"},
      {"ansi cr", "001-000 = caf\xE9\r002-000 = b\r003-000 = c\r"},
      {"case duplicate",
       "001-000 = CAF\xC9\r\n001-000 = caf\xE9\r\n002-000 = b\r\n003-000 = c\r\n"},
      {"utf-8 bom",
       "\xEF\xBB\xBF"
       "001-000 = caf\xC3\xA9\r\n002-000 = b\n003-000 = c"},
      {"utf-16 le bom", Utf16("001-000 = caf\xE9\r\n002-000 = b\n003-000 = c", false)},
      {"utf-16 be bom", Utf16("001-000 = caf\xE9\r002-000 = b\r\n003-000 = c\r\n", true)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nome);
    TKoCliSiTefArquivo arquivo;
    arquivo.GravaInformacao(999, 999, AnsiBytes("sobra"));
    arquivo.LeArquivo(dir.Write("resp.tef", c.bytes));
    if (std::string(c.nome) == "case duplicate") {
      ASSERT_EQ(arquivo.Count(), 3);
      EXPECT_EQ(arquivo.Conteudo()[1], esperado[1]);
    } else {
      EXPECT_EQ(arquivo.Conteudo(), esperado);
    }
  }
}

TEST(TKoCliSiTefArquivo,
     UnpairedUtf16SurrogatesAndCharactersOutsideTheCodePageBecomeQuestionMarks) {
  TempDir dir;
  // "001-000 = " then U+1F600 (a surrogate pair), a lone high surrogate and U+20AC (euro, 0x80).
  std::string bytes("\xFF\xFE", 2);
  for (const char c : std::string("001-000 = ")) bytes += std::string{c, '\0'};
  bytes += std::string(
      "\x3D\xD8\x00\xDE"
      "\x3D\xD8"
      "\xAC\x20",
      8);
  TKoCliSiTefArquivo arquivo;
  arquivo.LeArquivo(dir.Write("resp.tef", bytes));
  EXPECT_EQ(arquivo.LeInformacao(1, 0).AsString(), AnsiBytes("??\x80"));
}

TEST(TKoCliSiTefArquivo, LoadingAMissingFileFailsWithTheListEmpty) {
  TempDir dir;
  TKoCliSiTefArquivo arquivo;
  arquivo.GravaInformacao(1, 0, AnsiBytes("x"));
  const std::string nome = dir.File("KoCliSiTef_CliSiTef_001.tef");
  try {
    arquivo.LeArquivo(nome);
    FAIL() << "the file does not exist";
  } catch (const EKoCliSiTefArquivo& e) {
    EXPECT_EQ(std::string(e.what()), "Arquivo: \r\n" + nome + "\r\nn\xC3\xA3o encontrado");
  }
  EXPECT_EQ(arquivo.Count(), 0);
}

}  // namespace
}  // namespace kelvora::tef
