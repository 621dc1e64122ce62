// [metrics]: the address forms taken, loopback alone without a token, and a clear reason for
// every setting refused.
#include "service/MetricsSettings.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/unit/support/TempDir.h"

namespace kelvora::service {
namespace {

TEST(ReadMetricsSettings, TakesLoopbackFreelyAndAnythingElseOnlyWithAToken) {
  const std::string token = "0123456789abcdef";
  const struct {
    std::string Section;
    bool Started;
    uint16_t Port;
    std::string Refusal;
  } cases[] = {
      {"", false, 0, ""},
      {"listen=127.0.0.1:9464\n", true, 9464, ""},
      {"listen=127.1.2.3:0\n", true, 0, ""},
      {"listen=[::1]:9464\n", true, 9464, ""},
      {"listen=0.0.0.0:9464\n", false, 0,
       "[metrics] listen=0.0.0.0:9464 fora do loopback exige [metrics] token: métricas não "
       "iniciadas."},
      {"listen=[::]:9464\n", false, 0,
       "[metrics] listen=[::]:9464 fora do loopback exige [metrics] token: métricas não "
       "iniciadas."},
      {"listen=10.0.0.5:9464\ntoken=" + token + "\n", true, 9464, ""},
      {"listen=10.0.0.5:9464\ntoken=short\n", false, 0,
       "[metrics] token com menos de 16 caracteres: métricas não iniciadas."},
      {"listen=::1:9464\n", false, 0, "Endereço inválido em [metrics] listen: ::1:9464"},
      {"listen=localhost:9464\n", false, 0,
       "Endereço inválido em [metrics] listen: localhost:9464"},
      {"listen=127.0.0.1\n", false, 0, "Endereço inválido em [metrics] listen: 127.0.0.1"},
      {"listen=127.0.0.1:65536\n", false, 0,
       "Endereço inválido em [metrics] listen: 127.0.0.1:65536"},
      {"listen=127.0.0.1:-1\n", false, 0, "Endereço inválido em [metrics] listen: 127.0.0.1:-1"},
      {"listen=127.0.0.1:\n", false, 0, "Endereço inválido em [metrics] listen: 127.0.0.1:"},
  };
  const kelvora::testing::TempDir base;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Section);
    const std::filesystem::path file = base.Path() / "SvcKelvoraSiTef.ini";
    std::ofstream(file, std::ios::trunc) << "[metrics]\n" << c.Section;
    std::string refusal = "stale";
    const auto settings = ReadMetricsSettings(platform::TIniFile(file), refusal);
    EXPECT_EQ(settings.has_value(), c.Started);
    EXPECT_EQ(refusal, c.Refusal);
    if (settings) {
      EXPECT_EQ(settings->Port, c.Port);
    }
  }
}

}  // namespace
}  // namespace kelvora::service
