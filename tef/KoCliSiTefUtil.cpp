// The component's text and file routines; the file work goes through platform/FileSystem.
#include "tef/KoCliSiTefUtil.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "platform/FileSystem.h"
#include "platform/Utf8Path.h"
#include "tef/KoCliSiTefErro.h"

namespace kelvora::tef {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::vector<platform::AnsiString> SeparaLinhas(platform::AnsiStringView texto) {
  std::vector<platform::AnsiString> linhas;
  size_t inicio = 0;
  while (inicio < texto.size()) {
    size_t fim = texto.find_first_of("\r\n", inicio);
    if (fim == platform::AnsiStringView::npos) fim = texto.size();
    linhas.emplace_back(texto.substr(inicio, fim - inicio));
    if (fim < texto.size() && texto[fim] == '\r') ++fim;
    if (fim < texto.size() && texto[fim] == '\n') ++fim;
    inicio = fim;
  }
  return linhas;
}

std::string PreencheZeros(int64_t valor, int n) {
  return PreencheEsquerda(std::to_string(valor), n, '0');
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
  const bool plus = !s.empty() && s.front() == '+';
  if (plus) s.remove_prefix(1);
  if (s.empty() || (plus && s.front() == '-')) return def;
  int32_t value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) return def;
  return value;
}

platform::AnsiString CodificaHex(platform::AnsiStringView s) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  platform::AnsiString out;
  out.reserve(s.size());
  for (const char c : s) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte > 127 || c == '\\') {
      out += "\\x";
      out.push_back(kDigits[byte >> 4]);
      out.push_back(kDigits[byte & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

platform::AnsiString DecodificaHex(platform::AnsiStringView s) {
  platform::AnsiString out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '\\' || i + 1 >= s.size() || s[i + 1] != 'x') {
      out.push_back(s[i++]);
      continue;
    }
    const size_t digits = std::min<size_t>(2, s.size() - (i + 2));
    const int high = digits == 2 ? HexValue(s[i + 2]) : -1;
    const int low = digits == 2 ? HexValue(s[i + 3]) : -1;
    out.push_back(high >= 0 && low >= 0 ? static_cast<char>(high * 16 + low) : ' ');
    i += 2 + digits;
  }
  return out;
}

bool ExisteArquivo(const std::string& mascara) {
  return !platform::FindFiles(mascara).empty();
}

void ForcaGravacaoDisco(const std::string& NomeArquivo) noexcept {
  platform::FlushToStableStorage(NomeArquivo);
}

void AnexaArquivo(const std::string& NomeArquivo, platform::AnsiStringView Texto,
                  bool VerificaExistencia, bool NovaLinha) {
  std::string bytes(platform::RawBytes(Texto));
  if (NovaLinha) bytes += "\r\n";
  if (VerificaExistencia) {
    platform::AppendFileBytes(NomeArquivo, bytes);
  } else {
    platform::ReplaceFileBytes(NomeArquivo, bytes, false);
  }
}

std::vector<std::string> ListaArquivos(const std::string& Mascara, bool ComCaminho) {
  std::vector<std::string> nomes = platform::FindFiles(Mascara);
  if (!ComCaminho) {
    for (std::string& nome : nomes) nome = platform::PathFromUtf8(nome).filename().string();
  }
  return nomes;
}

void ApagaArquivo(const std::string& NomeArquivo) {
  if (NomeArquivo.empty()) return;
  if (!platform::DeleteFileAndSync(NomeArquivo)) {
    throw EKoCliSiTefArquivo("Erro ao apagar o arquivo:\r\n" + NomeArquivo);
  }
}

}  // namespace kelvora::tef
