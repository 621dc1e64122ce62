// Tests of the component's text routines (padding, digits, \xHH escaping) and file routines.
#include "tef/KoCliSiTefUtil.h"

#include <gtest/gtest.h>

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
using testing::TempDir;

TEST(KoCliSiTefUtil, PaddingCutsOrFills) {
  struct Case {
    std::string s;
    int n;
    std::string esquerda, direita;
  };
  const Case cases[] = {
      {"42", 5, "00042", "42000"},
      {"12345", 3, "123", "123"},  // longer text is cut to its first n
                                   // characters
      {"abc", 3, "abc", "abc"},
      {"", 2, "00", "00"},
      {"abc", 0, "", ""},
      {"abc", -1, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s + "/" + std::to_string(c.n));
    EXPECT_EQ(PreencheEsquerda(c.s, c.n, '0'), c.esquerda);
    EXPECT_EQ(PreencheDireita(c.s, c.n, '0'), c.direita);
  }
  EXPECT_EQ(PreencheZeros(7, 3), "007");
  EXPECT_EQ(PreencheZeros(1234, 3), "123");
  EXPECT_EQ(SomenteDigitos(std::string(" 31/12-2024 x")), "31122024");
  EXPECT_EQ(SomenteDigitos(AnsiBytes("R$ 1.234,56")), AnsiBytes("123456"));
}

TEST(KoCliSiTefUtil, StrToIntDefAcceptsOnlyAWholeDecimalNumber) {
  struct Case {
    std::string text;
    int32_t expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"0042", 42},
      {"-17", -17},
      {"+5", 5},
      {"2147483647", 2147483647},
      {"2147483648", -1},
      {"-2147483649", -1},
      {"", -1},
      {" 1", -1},
      {"1 ", -1},
      {"12-", -1},
      {"+-1", -1},
      {"$1F", -1},
      {"0x10", -1},
      {"1.5", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StrToIntDef(c.text, -1), c.expected);
  }
}

TEST(KoCliSiTefUtil, CodificaHexEscapesControlHighBytesAndBackslash) {
  struct Case {
    std::string plain, escaped;
  };
  const Case cases[] = {
      {"A\r\nB", "A\\x0D\\x0AB"},
      {"Via\nCliente", "Via\\x0ACliente"},
      {"caf\xE9", "caf\\xE9"},
      {std::string("\x00\x1F\x20\x7F\x80\xFF", 6), "\\x00\\x1F \x7F\\x80\\xFF"},
      {"C:\\xampp", "C:\\x5Cxampp"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(CodificaHex(AnsiBytes(c.plain)), AnsiBytes(c.escaped));
    EXPECT_EQ(DecodificaHex(AnsiBytes(c.escaped)), AnsiBytes(c.plain));
  }
}

TEST(KoCliSiTefUtil, DecodificaHexReadsMalformedEscapesAsBlank) {
  struct Case {
    std::string escaped, plain;
  };
  const Case cases[] = {
      {"\\xZZ1", " 1"},       // not hexadecimal: a blank, the two characters swallowed
      {"\\xe9", "\xE9"},      // lower-case digits are read too
      {"ab\\x4", "ab "},      // one character left
      {"ab\\x", "ab "},       // none left
      {"\\X41", "\\X41"},     // only a lower-case x escapes
      {"\\\\x41", "\\A"},     // a plain backslash before an escape stays
      {"\\x5Cx41", "\\x41"},  // a decoded backslash does not start a new escape
      {"\\x0D\\x0A\\x0D", "\r\n\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(DecodificaHex(AnsiBytes(c.escaped)), AnsiBytes(c.plain));
  }
}

TEST(KoCliSiTefUtil, EscapingRoundTripsEveryByte) {
  AnsiString todos;
  for (int b = 0; b < 256; ++b) todos.push_back(static_cast<char>(b));
  todos += "\\x41 \\xZZ \\";
  const AnsiString escapado = CodificaHex(todos);
  for (const char c : escapado) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 32 && byte <= 127) << int(byte);
  }
  EXPECT_EQ(DecodificaHex(escapado), todos);
}

TEST(KoCliSiTefUtil, SeparaLinhasEndsLinesAtCrLfOrCrLf) {
  using Lines = std::vector<AnsiString>;
  EXPECT_EQ(SeparaLinhas(AnsiBytes("a\r\nb\nc\rd")), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SeparaLinhas(AnsiBytes("a\r\n")), (Lines{"a"}));
  EXPECT_EQ(SeparaLinhas(AnsiBytes("a\r\n\r\nb\n\n")), (Lines{"a", "", "b", ""}));
  EXPECT_EQ(SeparaLinhas(AnsiBytes("\n\r")), (Lines{"", ""}));
  EXPECT_EQ(SeparaLinhas(AnsiBytes("")), Lines{});
}

TEST(KoCliSiTefUtil, FileSearchTreatsOnlyStarAndQuestionMarkAsWildcards) {
  TempDir dir;
  dir.Write("KoCliSiTef_CliSiTef_002.tef", "x");
  dir.Write("KoCliSiTef_CliSiTef_001.tef", "x");
  dir.Write("KoCliSiTef_Outro_001.tef", "x");
  dir.Write("b[1].tef", "x");
  dir.Write(".oculto.tef", "x");
  std::filesystem::create_directory(dir.File("vazio"));

  EXPECT_EQ(
      ListaArquivos(dir.File("KoCliSiTef_CliSiTef_*.tef"), false),
      (std::vector<std::string>{"KoCliSiTef_CliSiTef_001.tef", "KoCliSiTef_CliSiTef_002.tef"}));
  EXPECT_EQ(ListaArquivos(dir.File("KoCliSiTef_CliSiTef_00?.tef"), true),
            (std::vector<std::string>{dir.File("KoCliSiTef_CliSiTef_001.tef"),
                                      dir.File("KoCliSiTef_CliSiTef_002.tef")}));
  EXPECT_EQ(ListaArquivos(dir.File("*.tef"), false).size(), 5u);  // hidden names included

  EXPECT_TRUE(ExisteArquivo(dir.File("b[1].tef")));
  EXPECT_FALSE(ExisteArquivo(dir.File("b1.tef")));
  EXPECT_TRUE(ExisteArquivo(dir.File("vazio")));
  EXPECT_FALSE(ExisteArquivo(dir.File("vazio/*")));  // only "." and ".." there
  EXPECT_FALSE(ExisteArquivo(dir.File("falta/*.tef")));
}

TEST(KoCliSiTefUtil, ApagaArquivoFailsOnlyWhenTheNameStaysBehind) {
  TempDir dir;
  const std::string arquivo = dir.Write("a.tef", "x");
  ApagaArquivo(arquivo);
  EXPECT_FALSE(std::filesystem::exists(arquivo));
  EXPECT_NO_THROW(ApagaArquivo(arquivo));  // already gone
  EXPECT_NO_THROW(ApagaArquivo(""));

  std::filesystem::create_directory(dir.File("pasta"));
  try {
    ApagaArquivo(dir.File("pasta"));
    FAIL() << "a directory cannot be deleted as a file";
  } catch (const EKoCliSiTefArquivo& e) {
    EXPECT_EQ(std::string(e.what()), "Erro ao apagar o arquivo:\r\n" + dir.File("pasta"));
  }
}

TEST(KoCliSiTefUtil, AnexaArquivoAppendsOrWritesAnew) {
  TempDir dir;
  const std::string log = dir.File("tef.log");
  AnexaArquivo(log, AnsiBytes("um"), true, true);
  AnexaArquivo(log, AnsiBytes("dois"), true, false);
  AnexaArquivo(log, AnsiBytes("\xE9"), true, true);
  EXPECT_EQ(TempDir::Read(log), "um\r\ndois\xE9\r\n");
  AnexaArquivo(log, AnsiBytes("novo"), false, true);
  EXPECT_EQ(TempDir::Read(log), "novo\r\n");
  EXPECT_THROW(AnexaArquivo(dir.File("falta/tef.log"), AnsiBytes("x"), true, true),
               std::system_error);
}

}  // namespace
}  // namespace kelvora::tef
