// Field-file list operations, and the translation between the list and its file form.
#include "tef/KoCliSiTefArquivo.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Utf16.h"
#include "tef/KoCliSiTefErro.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {
namespace {

using platform::AnsiString;
using platform::AnsiStringView;

// Upper-case form of a Windows-1252 letter: ASCII, the accented letters from à to þ (the
// division sign is no letter) and š, œ, ž, ÿ; every other byte stands for itself.
unsigned char Dobra(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
    return static_cast<unsigned char>(byte - 0x20);
  }
  switch (byte) {
    case 0x9A:
      return 0x8A;
    case 0x9C:
      return 0x8C;
    case 0x9E:
      return 0x8E;
    case 0xFF:
      return 0x9F;
    default:
      return byte;
  }
}

// The list's collation, standing in for the locale's: letters compared without regard to case,
// every other byte by its value; with the fixed-width keys this is numeric key order. Two lines
// are duplicates exactly when neither sorts before the other.
bool Antes(AnsiStringView a, AnsiStringView b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Dobra(x) < Dobra(y); });
}

[[noreturn]] void IndiceInvalido(int index) {
  throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

// The file's bytes as Windows-1252 text: a UTF-8 or UTF-16 byte-order mark selects the
// conversion, no mark means the bytes already are the 8-bit text.
AnsiString TextoAnsi(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) return platform::ToAnsi(bytes.substr(3));
  if (starts("\xFF\xFE")) return platform::ToAnsi(platform::Utf16ToUtf8(bytes.substr(2), false));
  if (starts("\xFE\xFF")) return platform::ToAnsi(platform::Utf16ToUtf8(bytes.substr(2), true));
  return platform::AnsiBytes(bytes);
}

}  // namespace

int TKoCliSiTefArquivo::Add(AnsiString linha) {
  const auto lugar =
      std::lower_bound(fStringList.begin(), fStringList.end(), linha,
                       [](const AnsiString& a, const AnsiString& b) { return Antes(a, b); });
  const int index = static_cast<int>(lugar - fStringList.begin());
  if (lugar != fStringList.end() && !Antes(linha, *lugar)) return index;
  fStringList.insert(lugar, std::move(linha));
  return index;
}

void TKoCliSiTefArquivo::Delete(int index) {
  if (index < 0 || index >= Count()) IndiceInvalido(index);
  fStringList.erase(fStringList.begin() + index);
}

int TKoCliSiTefArquivo::EncontraChave(AnsiStringView chave) const {
  const AnsiString prefixo = AnsiString(chave) + " = ";
  for (size_t i = 0; i < fStringList.size(); ++i) {
    if (AnsiStringView(fStringList[i]).substr(0, prefixo.size()) == prefixo) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TKoCliSiTefArquivo::GravaInformacao(AnsiStringView Chave, AnsiStringView Informacao) {
  if (Chave.find_first_of("\r\n") != AnsiStringView::npos ||
      Informacao.find_first_of("\r\n") != AnsiStringView::npos) {
    throw std::invalid_argument("A field-file line cannot hold a line break (key " +
                                std::string(platform::RawBytes(Chave)) + ")");
  }
  const int existente = EncontraChave(Chave);
  if (existente >= 0) Delete(existente);
  if (!Informacao.empty()) Add(AnsiString(Chave) + " = " + AnsiString(Informacao));
}

void TKoCliSiTefArquivo::GravaInformacao(AnsiStringView Chave,
                                         const TKoCliSiTefInformacao& Informacao) {
  GravaInformacao(Chave, Informacao.AsString());
}

void TKoCliSiTefArquivo::GravaInformacao(int32_t Identificacao, int32_t Sequencia,
                                         AnsiStringView Informacao) {
  GravaInformacao(MontaChave(Identificacao, Sequencia), Informacao);
}

void TKoCliSiTefArquivo::GravaInformacao(int32_t Identificacao, int32_t Sequencia,
                                         const TKoCliSiTefInformacao& Informacao) {
  GravaInformacao(MontaChave(Identificacao, Sequencia), Informacao.AsString());
}

const TKoCliSiTefLinha& TKoCliSiTefArquivo::LeLinha(int32_t Identificacao,
                                                    int32_t Sequencia) const {
  const AnsiString chave = MontaChave(Identificacao, Sequencia);
  const int index = EncontraChave(chave);
  fKoCliSiTefLinha.SetLinha(index >= 0 ? fStringList[index] : chave + " =  ");
  return fKoCliSiTefLinha;
}

const TKoCliSiTefInformacao& TKoCliSiTefArquivo::LeInformacao(int32_t Identificacao,
                                                              int32_t Sequencia) const {
  return LeLinha(Identificacao, Sequencia).Informacao();
}

const TKoCliSiTefLinha& TKoCliSiTefArquivo::GetLinha(int Index) const {
  if (Index < 0 || Index >= Count()) IndiceInvalido(Index);
  fKoCliSiTefLinha.SetLinha(fStringList[Index]);
  return fKoCliSiTefLinha;
}

void TKoCliSiTefArquivo::LeArquivo(const std::string& NomeArquivo) {
  Clear();
  if (!ExisteArquivo(NomeArquivo)) {
    throw EKoCliSiTefArquivo("Arquivo: \r\n" + NomeArquivo + "\r\nnão encontrado");
  }
  for (AnsiString& linha : SeparaLinhas(TextoAnsi(platform::ReadFileBytes(NomeArquivo)))) {
    Add(std::move(linha));
  }
}

void TKoCliSiTefArquivo::GravarArquivo(const std::string& NomeArquivo, bool DoFlushToDisk) const {
  std::string bytes;
  for (const AnsiString& linha : fStringList) {
    bytes.append(platform::RawBytes(linha));
    bytes.append("\r\n");
  }
  // With DoFlushToDisk the replacement itself syncs the data before the rename and the directory
  // after it, which is what ForcaGravacaoDisco would do afterwards.
  platform::ReplaceFileBytes(NomeArquivo, bytes, DoFlushToDisk);
}

}  // namespace kelvora::tef
