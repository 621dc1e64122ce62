// The simulated library's identity, configuration, argument checks and pin-pad services.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>

#include "SimHarness.h"

namespace kelvora::sim::test {
namespace {

TEST(SimIdentity, ExportsEveryFunctionTheServiceResolvesAndTheSimulatorMark) {
  SimLibrary lib;
  for (const char* name : {"ConfiguraIntSiTefInterativoEx", "IniciaFuncaoSiTefInterativo",
                           "LeTrilha3", "LeCartaoSeguro", "LeCartaoDiretoSeguro",
                           "LeCartaoDiretoEx", "ContinuaFuncaoSiTefInterativo",
                           "FinalizaTransacaoSiTefInterativo", "EscreveMensagemPermanentePinPad",
                           "ObtemQuantidadeTransacoesPendentes", "VerificaPresencaPinPad"}) {
    EXPECT_NO_THROW(lib.symbol<void()>(name)) << name;
  }
  EXPECT_EQ(lib.simulador(), 1);
}

// The service reads the file version from this note exactly as laid out here.
TEST(SimIdentity, CarriesItsVersionInTheKelvoraNote) {
  std::ifstream in(SIM_LIBRARY_PATH, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  ASSERT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  std::memcpy(sections.data(), file.data() + header.e_shoff, header.e_shnum * sizeof(Elf64_Shdr));
  const char* names = file.data() + sections[header.e_shstrndx].sh_offset;

  const Elf64_Shdr* note = nullptr;
  for (const auto& s : sections) {
    if (std::strcmp(names + s.sh_name, ".note.kelvora.version") == 0) note = &s;
  }
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->sh_type, static_cast<Elf64_Word>(SHT_NOTE));
  EXPECT_TRUE(note->sh_flags & SHF_ALLOC);
  Elf64_Nhdr nhdr;
  std::memcpy(&nhdr, file.data() + note->sh_offset, sizeof nhdr);
  const char* name = file.data() + note->sh_offset + sizeof nhdr;
  EXPECT_EQ(nhdr.n_type, 1u);
  EXPECT_EQ(nhdr.n_namesz, 8u);
  EXPECT_STREQ(name, "Kelvora");
  EXPECT_EQ(nhdr.n_descsz, 12u);
  EXPECT_STREQ(name + 8, "6.2.0.1-sim");
}

struct ConfigCase {
  const char* server;
  const char* store;
  const char* terminal;
  int expected;
};

void PrintTo(const ConfigCase& c, std::ostream* os) {
  *os << '"' << c.server << "\" \"" << c.store << "\" \"" << c.terminal << '"';
}

class SimConfiguration : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(SimConfiguration, ValidatesServerStoreAndTerminal) {
  SimLibrary lib;
  const auto& c = GetParam();
  EXPECT_EQ(lib.configure(c.server, c.store, c.terminal), c.expected);
  // Only a successful configuration lets a dialogue start.
  EXPECT_EQ(lib.start(2), c.expected == 0 ? 10000 : -1);
}

INSTANTIATE_TEST_SUITE_P(Cases, SimConfiguration,
                         ::testing::Values(ConfigCase{"127.0.0.1", "00000000", "SE000001", 0},
                                           ConfigCase{"sitef.local", "1", "ab123456", 0},
                                           ConfigCase{"", "00000000", "SE000001", 1},
                                           ConfigCase{"   ", "00000000", "SE000001", 1},
                                           ConfigCase{"127.0.0.1", "", "SE000001", 2},
                                           ConfigCase{"127.0.0.1", "123456789", "SE000001", 2},
                                           ConfigCase{"127.0.0.1", "00000000", "SE00001", 3},
                                           ConfigCase{"127.0.0.1", "00000000", "SE0000012", 3},
                                           ConfigCase{"127.0.0.1", "00000000", "S1000001", 3},
                                           ConfigCase{"127.0.0.1", "00000000", "SE00000X", 3},
                                           ConfigCase{"", "", "", 1}));

TEST(SimConfigurationState, AFailedReconfigurationStopsFurtherDialogues) {
  SimLibrary lib;
  ASSERT_EQ(lib.configure(), 0);
  ASSERT_EQ(lib.configure("127.0.0.1", ""), 2);
  EXPECT_EQ(lib.start(2), -1);
  EXPECT_EQ(lib.pending(), -1);
}

TEST(SimConfigurationState, ControlFileForcesTheResultAndIsReadAtEachCall) {
  SimLibrary lib("[config]\nresult=10\n");
  EXPECT_EQ(lib.configure(), 10);
  EXPECT_EQ(lib.start(2), -1) << "10 is a documented failure";

  // A value the library does not define as a failure leaves it configured, even with bad data.
  lib.writeIni("[config]\nresult=9\n");
  EXPECT_EQ(lib.configure("", "", ""), 9);
  EXPECT_EQ(lib.start(2), 10000);

  lib.writeIni("");
  EXPECT_EQ(lib.configure("", "00000000", "SE000001"), 1);
}

struct StartCase {
  const char* name;
  int function;
  std::string amount;
  std::string doc;
  std::string date;
  std::string time;
  int expected;
};

void PrintTo(const StartCase& c, std::ostream* os) {
  *os << c.name;
}

class SimStart : public ::testing::TestWithParam<StartCase> {};

TEST_P(SimStart, ChecksFunctionAndFiscalData) {
  SimLibrary lib;
  ASSERT_EQ(lib.configure(), 0);
  const auto& c = GetParam();
  EXPECT_EQ(lib.start(c.function, c.amount, c.doc, c.date, c.time), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimStart,
    ::testing::Values(StartCase{"debit", 2, "12,34", "1", "20240229", "235959", 10000},
                      StartCase{"cheque", 1, "12,34", "1", "20240105", "101010", -3},
                      StartCase{"unknown", 999, "12,34", "1", "20240105", "101010", -3},
                      StartCase{"zeroAmount", 0, "0,00", "1", "20240105", "101010", -20},
                      StartCase{"textAmount", 3, "abc", "1", "20240105", "101010", -20},
                      StartCase{"threeDecimals", 3, "1,234", "1", "20240105", "101010", -20},
                      // Functions that move no money of their own take any amount.
                      StartCase{"reprintWithoutAmount", 112, "0,00", "1", "20240105", "101010",
                                10000},
                      StartCase{"commTest", 111, "0,00", "1", "20240105", "101010", 10000}),
    [](const auto& info) { return info.param.name; });

TEST(SimPinpad, PresenceComesFromTheControlFileReadAtEachCall) {
  SimLibrary lib;
  EXPECT_EQ(lib.pinpad(), -1) << "not configured";
  ASSERT_EQ(lib.configure(), 0);
  EXPECT_EQ(lib.pinpad(), 1);
  lib.writeIni("[pinpad]\nstatus=0\n");
  EXPECT_EQ(lib.pinpad(), 0);
  lib.writeIni("[pinpad]\nstatus=2\n");
  EXPECT_EQ(lib.pinpad(), 2);
}

TEST(SimPinpad, PermanentMessageNeedsAPinpad) {
  SimLibrary lib;
  char message[] = "** BOA VIAGEM **";
  EXPECT_EQ(lib.mensagem(message), -1);
  ASSERT_EQ(lib.configure(), 0);
  EXPECT_EQ(lib.mensagem(message), 0);
  EXPECT_EQ(lib.mensagem(nullptr), -20);
  lib.writeIni("[pinpad]\nstatus=0\n");
  ASSERT_EQ(lib.pinpad(), 0);
  EXPECT_EQ(lib.mensagem(message), -43);
}

TEST(SimPinpad, Track3ReadingEndsWithTheCardIdAfterTheFirstByte) {
  SimLibrary lib("[dialog]\ncard_polls=2\n");
  ASSERT_EQ(lib.configure(), 0);
  char unset[64];
  std::memset(unset, 'x', sizeof unset);  // never NUL-terminated: the library must not read it
  ASSERT_EQ(lib.trilha3(unset), 10000);
  const auto steps = lib.drain();
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0].command, 2);
  EXPECT_EQ(steps[1].command, 23);
  EXPECT_EQ(steps[2].command, 23);
  EXPECT_EQ(steps[3].status, 0);
  EXPECT_EQ(steps[3].data.substr(1, 10), "8000000001");
  EXPECT_EQ(lib.ledgerText(), "") << "reading a card is no transaction";
}

TEST(SimPinpad, DirectCardReadingFillsBothTracksAndLeavesTheMessageAlone) {
  SimLibrary lib;
  char message[25], track1[129], track2[129];
  std::memset(message, 'm', sizeof message);
  EXPECT_EQ(lib.cartaoDireto(message, track1, track2, 30, nullptr), -1);
  ASSERT_EQ(lib.configure(), 0);
  ASSERT_EQ(lib.cartaoDireto(message, track1, track2, 30, nullptr), 0);
  EXPECT_EQ(std::string(message, sizeof message), std::string(25, 'm'));
  EXPECT_EQ(std::string(track1).rfind("B6280000000000001^", 0), 0u);
  EXPECT_EQ(std::string(track2).rfind("6280000000000001=", 0), 0u);
  lib.writeIni("[pinpad]\nstatus=0\n");
  ASSERT_EQ(lib.pinpad(), 0);
  EXPECT_EQ(lib.cartaoDireto(message, track1, track2, 30, nullptr), -43);
}

}  // namespace
}  // namespace kelvora::sim::test
