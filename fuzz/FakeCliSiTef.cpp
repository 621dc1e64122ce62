// A stand-in for CliSiTef32I.dll that the loop fuzz target drives: ContinuaFuncaoSiTefInterativo
// plays the script the target hands over through KelvoraFuzzRoteiro, and every call checks what
// the gateway passes in, above all that the 20001-byte buffer comes back NUL-terminated, and that
// no transaction it was told to undo is confirmed afterwards.
#include <cstring>
#include <set>
#include <string>

#include "fuzz/FakeCliSiTef.h"
#include "fuzz/FuzzSupport.h"

#define EXPORTA extern "C" __attribute__((visibility("default")))

namespace {

// The buffer size the gateway promises, and the status of a pending command.
constexpr int kTamanhoBuffer = 20001;
constexpr int kComandoPendente = 10000;

struct Roteiro {
  const KelvoraFuzzPasso* Passos = nullptr;
  size_t Quantidade = 0;
  size_t Proximo = 0;
  int StatusFinal = 0;
  int StatusInicia = kComandoPendente;
  // The transactions undone since the script was set: document, fiscal date and time.
  std::set<std::string> Desfeitas;
};

Roteiro& Atual() {
  static Roteiro roteiro;
  return roteiro;
}

// A text argument is a readable NUL-terminated string.
void TextoValido(const char* texto) {
  kelvora::fuzz::Require(texto != nullptr, "the gateway passes no null text to the library");
  (void)std::strlen(texto);
}

}  // namespace

EXPORTA void KelvoraFuzzRoteiro(const KelvoraFuzzPasso* passos, size_t quantidade,
                                int statusFinal, int statusInicia) {
  kelvora::fuzz::Require(statusFinal != kComandoPendente, "the script ends");
  Atual() = Roteiro{passos, quantidade, 0, statusFinal, statusInicia, {}};
}

EXPORTA int ConfiguraIntSiTefInterativoEx(char* ip, char* loja, char* terminal, int,
                                          char* parametros) {
  for (const char* texto : {ip, loja, terminal, parametros}) TextoValido(texto);
  return 0;
}

EXPORTA int IniciaFuncaoSiTefInterativo(int, char* valor, char* cupom, char* data, char* hora,
                                        char* operador, char* restricoes) {
  for (const char* texto : {valor, cupom, data, hora, operador, restricoes}) TextoValido(texto);
  return Atual().StatusInicia;
}

EXPORTA int ContinuaFuncaoSiTefInterativo(int* comando, int* campo, short* minimo, short* maximo,
                                          char* buffer, int tamanho, int continua) {
  using kelvora::fuzz::Require;
  Require(comando && campo && minimo && maximo && buffer, "the gateway passes every output");
  Require(tamanho == kTamanhoBuffer, "the gateway offers a buffer of 20001 bytes");
  Require(std::memchr(buffer, '\0', kTamanhoBuffer) != nullptr,
          "the answer in the buffer is NUL-terminated inside its 20001 bytes");
  Require(continua >= -1 && continua <= 1, "Continua is 0, 1 or -1");

  Roteiro& roteiro = Atual();
  if (roteiro.Proximo >= roteiro.Quantidade) {
    *comando = 0;
    *campo = -1;
    *minimo = 0;
    *maximo = 0;
    buffer[0] = '\0';
    return roteiro.StatusFinal;
  }
  const KelvoraFuzzPasso& passo = roteiro.Passos[roteiro.Proximo++];
  *comando = passo.Comando;
  *campo = passo.TipoCampo;
  *minimo = passo.Minimo;
  *maximo = passo.Maximo;
  const size_t limite = passo.ComNul ? kTamanhoBuffer - 1 : kTamanhoBuffer;
  const size_t n = passo.Tamanho < limite ? passo.Tamanho : limite;
  std::memcpy(buffer, passo.Texto, n);
  if (n < kTamanhoBuffer) buffer[n] = '\0';
  return passo.Status;
}

EXPORTA int FinalizaTransacaoSiTefInterativo(int confirma, char* cupom, char* data, char* hora) {
  kelvora::fuzz::Require(confirma == 0 || confirma == 1, "a finalisation confirms or undoes");
  for (const char* texto : {cupom, data, hora}) TextoValido(texto);
  const std::string transacao = std::string(cupom) + "|" + data + "|" + hora;
  if (confirma == 0) {
    Atual().Desfeitas.insert(transacao);
  } else {
      kelvora::fuzz::Require(Atual().Desfeitas.count(transacao) == 0,
                           "a transaction undone in the library is never confirmed afterwards");
  }
  return 0;
}

EXPORTA int EscreveMensagemPermanentePinPad(char* mensagem) {
  TextoValido(mensagem);
  return 0;
}

EXPORTA int ObtemQuantidadeTransacoesPendentes(char* data, char* cupom) {
  TextoValido(data);
  TextoValido(cupom);
  return 0;
}

EXPORTA int VerificaPresencaPinPad() { return 1; }

EXPORTA int LeTrilha3(char*) { return Atual().StatusInicia; }

EXPORTA int LeCartaoDiretoEx(char*, char* trilha1, char* trilha2, short, void*) {
  trilha1[0] = '\0';
  trilha2[0] = '\0';
  return 0;
}

EXPORTA int LeCartaoSeguro(char*) { return -20; }

EXPORTA int LeCartaoDiretoSeguro(char*, char*, char*, short) { return -20; }
