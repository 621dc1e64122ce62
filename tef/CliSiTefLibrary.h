// The SiTef client library CliSiTef32I.dll as the CliSiTef gateway binds it: the C signatures of
// the eleven exports it resolves, the rule that locates the library, and the slots that hold them.
#pragma once

#include <string>

#include "platform/DynamicLibrary.h"

namespace kelvora::tef {

// Signatures of the exports, in the library's calling convention. char* is a NUL-terminated 8-bit
// string (Windows-1252); the library may write into the buffers it is given.
using TConfiguraIntSiTefInterativoEx = int(KELVORA_LIBRARY_CALL*)(char* EnderecoIP,
                                                                  char* CodigoLoja,
                                                                  char* NumeroTerminal,
                                                                  int Reservado,
                                                                  char* ParametrosAdicionais);
using TIniciaFuncaoSiTefInterativo = int(KELVORA_LIBRARY_CALL*)(int Modalidade, char* Valor,
                                                                char* CupomFiscal, char* DataFiscal,
                                                                char* Horario, char* Operador,
                                                                char* Restricoes);
using TContinuaFuncaoSiTefInterativo =
    int(KELVORA_LIBRARY_CALL*)(int* ProximoComando, int* TipoCampo, short* TamanhoMinimo,
                               short* TamanhoMaximo, char* Buffer, int TamBuffer, int Continua);
using TFinalizaTransacaoSiTefInterativo = int(KELVORA_LIBRARY_CALL*)(int Confirma,
                                                                     char* CupomFiscal,
                                                                     char* DataFiscal,
                                                                     char* Horario);
using TEscreveMensagemPermanentePinPad = int(KELVORA_LIBRARY_CALL*)(char* Mensagem);
using TObtemQuantidadeTransacoesPendentes = int(KELVORA_LIBRARY_CALL*)(char* DataFiscal,
                                                                       char* CupomFiscal);
using TVerificaPresencaPinPad = int(KELVORA_LIBRARY_CALL*)();
using TLeTrilha3 = int(KELVORA_LIBRARY_CALL*)(char* Mensagem);
using TLeCartaoDiretoEx = int(KELVORA_LIBRARY_CALL*)(char* Mensagem, char* Trilha1, char* Trilha2,
                                                     short TimeOut, void* Reservado);
using TLeCartaoSeguro = int(KELVORA_LIBRARY_CALL*)(char* Mensagem);
using TLeCartaoDiretoSeguro = int(KELVORA_LIBRARY_CALL*)(char* Mensagem, char* Trilha1,
                                                         char* Trilha2, short TimeOut);

// The library's fixed file name.
inline constexpr const char* kNomeDLL = "CliSiTef32I.dll";

// The full name the library is loaded by: PathDLL trimmed of blanks and control characters, with
// the system's separator appended when it does not end in one, followed by the file name
// (CliSiTef32I.dll unless another is configured); the bare file name when PathDLL is empty (the
// system's library search then applies).
std::string NomeCompletoDLL(const std::string& PathDLL, const std::string& NomeDLL = kNomeDLL);

// Where the library is, from the text configured for it (an absolute path, or one relative to the
// base directory, in UTF-8) and the base directory: PathDLL is its folder with the system's
// separator at the end ("/" on Linux, "\" on Windows), NomeDLL its file name. Nothing configured
// (or only blanks) gives <base>/dll/CliSiTef32I.dll; a configured path that ends in a separator
// names a folder that holds CliSiTef32I.dll.
struct TLocalDLL {
  std::string PathDLL;
  std::string NomeDLL;
};
TLocalDLL LocalizaDLL(const std::string& DiretorioBase, const std::string& Configurado);

// The entry-point slots, each empty until resolved. The library, once loaded, stays mapped for the
// life of the process: releasing it only forgets the entry points, so that a later resolution
// finds the same functions and the library's process-wide state is never torn down under it.
class TCliSiTefLibrary {
 public:
  // Resolves every export in the gateway's order. The first failure raises std::runtime_error
  // "Erro ao carregar a função:" + name + " de: CliSiTef32I.dll"; the slots resolved before it
  // stay resolved. Slots already holding an address are left as they are.
  void CarregarFuncoesDLL(const std::string& PathDLL, const std::string& NomeDLL = kNomeDLL);

  // Forgets every resolved entry point and gives back the reference on the library.
  void DescarregarDLL() noexcept;

  // Whether the loaded library is the product's simulator, which exports KelvoraCliSiTefSimulador;
  // the vendor's library has no such export.
  bool EhSimulador() const;

  // The loader's own text for the failure of the last CarregarFuncoesDLL: wrong architecture,
  // missing dependency, missing export ("" when it succeeded).
  const std::string& ErroCarregamento() const { return fErroCarregamento; }

  TConfiguraIntSiTefInterativoEx xConfiguraIntSiTefInterativoEx = nullptr;
  TIniciaFuncaoSiTefInterativo xIniciaFuncaoSiTefInterativo = nullptr;
  TLeTrilha3 xLeTrilha3 = nullptr;
  TLeCartaoSeguro xLeCartaoSeguro = nullptr;
  TLeCartaoDiretoEx xLeCartaoDiretoEx = nullptr;
  TLeCartaoDiretoSeguro xLeCartaoDiretoSeguro = nullptr;
  TFinalizaTransacaoSiTefInterativo xFinalizaTransacaoSiTefInterativo = nullptr;
  TContinuaFuncaoSiTefInterativo xContinuaFuncaoSiTefInterativo = nullptr;
  TEscreveMensagemPermanentePinPad xEscreveMensagemPermanentePinPad = nullptr;
  TObtemQuantidadeTransacoesPendentes xObtemQuantidadeTransacoesPendentes = nullptr;
  TVerificaPresencaPinPad xVerificaPresencaPinPad = nullptr;

 private:
  // Resolves one export into its slot unless the slot already holds an address; loads the library
  // first when no reference is held yet.
  template <class Funcao>
  void CarregarFuncaoDLL(const char* nome, Funcao& slot, const std::string& arquivo);

  platform::DynamicLibrary fBiblioteca;
  std::string fErroCarregamento;
};

}  // namespace kelvora::tef
