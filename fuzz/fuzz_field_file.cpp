// Fuzz target of field-file loading: arbitrary file bytes through TKoCliSiTefArquivo::LeArquivo,
// every line through TKoCliSiTefLinha and the typed readings, and the list saved and loaded back.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "tef/KoCliSiTefArquivo.h"
#include "tef/KoCliSiTefLinha.h"

namespace kelvora::fuzz {
namespace {

using platform::AnsiString;
using tef::TKoCliSiTefInformacao;

// A clock stopped on a fixed day, so that the year of AsTimeStamp does not change between runs.
class FixedClock final : public platform::Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::sys_days(std::chrono::year{2024} / 2 / 29) + std::chrono::hours(12);
  }
};

// Each typed reading, written back with its own setter, reads the same again.
void RequireTypedRoundTrips(const TKoCliSiTefInformacao& valor) {
  TKoCliSiTefInformacao copia;
  copia.SetAsInteger(valor.AsInteger());
  Require(copia.AsInteger() == valor.AsInteger(), "AsInteger survives SetAsInteger");
  copia.SetAsFloat(valor.AsFloat());
  Require(copia.AsFloat() == valor.AsFloat(), "AsFloat survives SetAsFloat");
  copia.SetAsDate(valor.AsDate());
  Require(copia.AsDate() == valor.AsDate(), "AsDate survives SetAsDate");
  copia.SetAsTime(valor.AsTime());
  Require(copia.AsTime() == valor.AsTime(), "AsTime survives SetAsTime");
  copia.SetAsTimeStampSQL(valor.AsTimeStampSQL());
  Require(copia.AsTimeStampSQL() == valor.AsTimeStampSQL(), "AsTimeStampSQL survives its setter");
  const FixedClock clock;
  copia.SetAsTimeStamp(valor.AsTimeStamp(clock));
  Require(copia.AsTimeStamp(clock) == valor.AsTimeStamp(clock), "AsTimeStamp survives its setter");
}

// A first line that begins like a byte-order mark is read as one when the file is loaded again:
// the field-file format itself cannot tell the two apart. Lines the component writes begin with
// their key's digits, so they never meet this.
bool LooksLikeByteOrderMark(const std::vector<AnsiString>& linhas) {
  if (linhas.empty()) return false;
  const std::string_view first = platform::RawBytes(linhas.front());
  return first.starts_with("\xEF\xBB\xBF") || first.starts_with("\xFF\xFE") ||
         first.starts_with("\xFE\xFF");
}

}  // namespace
}  // namespace kelvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  static const fuzz::TempFile entrada("field-file");
  static const fuzz::TempFile saida("field-file-saved");
  entrada.Write(fuzz::AsText(data, size));

  tef::TKoCliSiTefArquivo arquivo;
  arquivo.LeArquivo(entrada.Path());
  const std::vector<platform::AnsiString> linhas = arquivo.Conteudo();

  for (int i = 0; i < arquivo.Count(); ++i) {
    const platform::AnsiString& texto = linhas[static_cast<size_t>(i)];
    Require(texto.find_first_of("\r\n") == platform::AnsiString::npos, "lines hold no line break");
    Require(arquivo.Add(texto) == i && arquivo.Count() == static_cast<int>(linhas.size()),
            "the list is sorted and holds no duplicates");

    const tef::TKoCliSiTefLinha& linha = arquivo.GetLinha(i);
    Require(linha.Linha() == texto, "the cursor holds the line");
    Require(texto.starts_with(linha.Chave()), "the key is the start of the line");
    fuzz::RequireTypedRoundTrips(linha.Informacao());

    // The key rebuilt from the parsed numbers finds a line, or reads as an empty value.
    const int16_t id = linha.Identificacao();
    const int16_t sequencia = linha.Sequencia();
    const int onde = arquivo.EncontraChave(tef::MontaChave(id, sequencia));
    const platform::AnsiString valor = arquivo.LeInformacao(id, sequencia).AsString();
    Require(onde >= 0 || valor == platform::AnsiBytes(" "), "a missing key reads as a blank");
  }

  arquivo.GravarArquivo(saida.Path(), false);
  tef::TKoCliSiTefArquivo relido;
  relido.LeArquivo(saida.Path());
  Require(fuzz::LooksLikeByteOrderMark(linhas) || relido.Conteudo() == linhas,
          "a saved field file loads back to the same lines");
  return 0;
}
