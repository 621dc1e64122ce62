// The TEF component's small text and file routines: digits, padding, the \xHH escaping of stored
// values, wildcard existence checks, appends, deletion and flushing to stable storage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ansi.h"

namespace kelvora::tef {

// The characters '0' to '9' of s, in order; everything else dropped.
template <class Traits, class Alloc>
std::basic_string<char, Traits, Alloc> SomenteDigitos(
    const std::basic_string<char, Traits, Alloc>& s) {
  std::basic_string<char, Traits, Alloc> digits;
  for (const char c : s) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits;
}

// s left-padded with c to n characters when shorter; otherwise its first n characters. Counts
// bytes: meant for ASCII and 8-bit text.
template <class Traits, class Alloc>
std::basic_string<char, Traits, Alloc> PreencheEsquerda(
    const std::basic_string<char, Traits, Alloc>& s, int n, char c) {
  const size_t width = n > 0 ? static_cast<size_t>(n) : 0;
  if (s.size() >= width) return s.substr(0, width);
  return std::basic_string<char, Traits, Alloc>(width - s.size(), c) + s;
}

// s right-padded with c to n characters when shorter; otherwise its first n characters.
template <class Traits, class Alloc>
std::basic_string<char, Traits, Alloc> PreencheDireita(
    const std::basic_string<char, Traits, Alloc>& s, int n, char c) {
  const size_t width = n > 0 ? static_cast<size_t>(n) : 0;
  if (s.size() >= width) return s.substr(0, width);
  return s + std::basic_string<char, Traits, Alloc>(width - s.size(), c);
}

// s without leading and trailing blanks and control characters (every byte up to 32).
template <class Traits, class Alloc>
std::basic_string<char, Traits, Alloc> Trim(const std::basic_string<char, Traits, Alloc>& s) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t begin = 0;
  size_t end = s.size();
  while (begin < end && blank(s[begin])) ++begin;
  while (end > begin && blank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

// Splits text into lines at CR LF, CR or LF; a break at the very end does not start another
// line, and an empty text has no lines.
std::vector<platform::AnsiString> SeparaLinhas(platform::AnsiStringView texto);

// valor in decimal, left-padded with zeros to n characters or cut to its first n (1234 with
// width 3 gives "123").
std::string PreencheZeros(int64_t valor, int n);

// A decimal 32-bit integer with an optional sign and nothing else around it; def for anything
// else (empty, blanks, letters, overflow).
int32_t StrToIntDef(std::string_view s, int32_t def);
inline int32_t StrToIntDef(platform::AnsiStringView s, int32_t def) {
  return StrToIntDef(platform::RawBytes(s), def);
}

// Escapes a value so that it fits on one line of a field file: every byte below 32 or above 127,
// and the backslash itself, becomes "\x" and two upper-case hexadecimal digits. Escaping the
// backslash keeps a value that happens to contain "\x" from being altered on the way back.
platform::AnsiString CodificaHex(platform::AnsiStringView s);

// Reverses CodificaHex in one left-to-right pass: "\x" and two hexadecimal digits (either case)
// become that byte; "\x" followed by anything else (or by fewer than two characters) becomes a
// blank and swallows up to two following characters. Every other byte is copied.
platform::AnsiString DecodificaHex(platform::AnsiStringView s);

// True when the mask (a path whose name may hold '*' and '?') matches at least one file or
// directory other than "." and "..".
bool ExisteArquivo(const std::string& mascara);

// Pushes a written file's data and its directory entry to stable storage; failures are ignored.
void ForcaGravacaoDisco(const std::string& NomeArquivo) noexcept;

// Writes the text's bytes at the end of the file, followed by CR LF when NovaLinha. With
// VerificaExistencia an existing file is appended to and a missing one created; without it the
// file is written anew. Throws std::system_error when the file cannot be opened or written.
void AnexaArquivo(const std::string& NomeArquivo, platform::AnsiStringView Texto,
                  bool VerificaExistencia, bool NovaLinha);

// The names of the entries matching a mask ('*' and '?'), "." and ".." excluded, sorted; each
// with the mask's directory in front when ComCaminho.
std::vector<std::string> ListaArquivos(const std::string& Mascara, bool ComCaminho);

// Deletes a file (nothing for an empty name); raises EKoCliSiTefArquivo
// "Erro ao apagar o arquivo:" CR LF + name when it still exists afterwards.
void ApagaArquivo(const std::string& NomeArquivo);

}  // namespace kelvora::tef
