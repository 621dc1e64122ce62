// A TEF field file: the sorted list of "NNN-NNN = value" lines that every TEF record is kept in,
// in memory and on disk (backup files), with lookup and replacement by key, loading and saving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Ansi.h"
#include "tef/KoCliSiTefInformacao.h"
#include "tef/KoCliSiTefLinha.h"

namespace kelvora::tef {

class TKoCliSiTefArquivo {
 public:
  TKoCliSiTefArquivo() = default;
  TKoCliSiTefArquivo(const TKoCliSiTefArquivo&) = delete;
  TKoCliSiTefArquivo& operator=(const TKoCliSiTefArquivo&) = delete;

  // The lines, kept in ascending order of their whole text compared without regard to the case
  // of Windows-1252 letters, byte by byte otherwise (with the fixed-width keys this is numeric
  // key order).
  const std::vector<platform::AnsiString>& Conteudo() const { return fStringList; }
  int Count() const { return static_cast<int>(fStringList.size()); }

  // Inserts a line at its sorted place; a line equal to an existing one without regard to case is
  // not added. Returns the position of the line (the existing one for a duplicate).
  int Add(platform::AnsiString linha);
  // Removes the line at a position; throws std::out_of_range outside 0 .. Count - 1.
  void Delete(int index);
  void Clear() { fStringList.clear(); }

  // Position of the first line that starts with key + " = " (exact comparison), or -1.
  int EncontraChave(platform::AnsiStringView chave) const;

  // Sets the value of a key: the first line of that key is removed, then key + " = " + value is
  // added unless the value is empty (so an empty value removes the field). A value with a CR or
  // LF is refused with std::invalid_argument: it would split into two lines on disk.
  void GravaInformacao(platform::AnsiStringView Chave, platform::AnsiStringView Informacao);
  void GravaInformacao(platform::AnsiStringView Chave, const TKoCliSiTefInformacao& Informacao);
  void GravaInformacao(int32_t Identificacao, int32_t Sequencia,
                       platform::AnsiStringView Informacao);
  void GravaInformacao(int32_t Identificacao, int32_t Sequencia,
                       const TKoCliSiTefInformacao& Informacao);

  // The file's one cursor line, loaded with the line of a key; for a missing key it is loaded
  // with key + " =  ", so its value reads " " as text and 0 as a number or date. The cursor is
  // reloaded by the next call on this file: copy what must outlive it.
  const TKoCliSiTefLinha& LeLinha(int32_t Identificacao, int32_t Sequencia) const;
  const TKoCliSiTefInformacao& LeInformacao(int32_t Identificacao, int32_t Sequencia) const;
  // The cursor loaded with the line at a position (0-based, in list order); throws
  // std::out_of_range outside 0 .. Count - 1 and then keeps its previous content.
  const TKoCliSiTefLinha& GetLinha(int Index) const;

  // Replaces the list with the lines of a file. A UTF-8 or UTF-16 byte-order mark is honoured
  // (the text is brought to Windows-1252), CR, LF and CR LF all end a line, and the lines enter
  // as by Add. A missing file raises EKoCliSiTefArquivo "Arquivo: " CR LF name CR LF
  // "não encontrado" with the list already empty; an unreadable one std::system_error.
  void LeArquivo(const std::string& NomeArquivo);

  // Writes every line in list order, each followed by CR LF, in Windows-1252 without a mark,
  // replacing the file; with DoFlushToDisk the file then reaches stable storage
  // (ForcaGravacaoDisco). Throws std::system_error "Cannot create file <name>: ..." or
  // "Cannot write file <name>: ..." and then leaves any previous file as it was.
  void GravarArquivo(const std::string& NomeArquivo, bool DoFlushToDisk) const;

 private:
  std::vector<platform::AnsiString> fStringList;
  mutable TKoCliSiTefLinha fKoCliSiTefLinha;
};

}  // namespace kelvora::tef
