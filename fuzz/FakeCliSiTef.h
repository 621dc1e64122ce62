// The script the fuzzed stand-in for CliSiTef32I.dll plays: the steps its
// ContinuaFuncaoSiTefInterativo hands out, shared between the fuzz target and the library it loads.
#pragma once

#include <cstddef>

extern "C" {

// One answer of ContinuaFuncaoSiTefInterativo: its result (10000 while a command is pending), the
// command with its field type and lengths, and the bytes it leaves in the buffer. Without a NUL
// the bytes fill the whole buffer (a library that forgets to terminate it).
struct KelvoraFuzzPasso {
  int Status;
  int Comando;
  int TipoCampo;
  short Minimo;
  short Maximo;
  const char* Texto;
  size_t Tamanho;
  bool ComNul;
};

// The script of one run: the steps in order, the result of every call once they are used up, and
// the result of IniciaFuncaoSiTefInterativo. Setting it also forgets the transactions undone. The library keeps the pointer: the steps must live
// until the next call.
using TKelvoraFuzzRoteiro = void (*)(const KelvoraFuzzPasso* Passos, size_t Quantidade,
                                     int StatusFinal, int StatusInicia);
}

// The export the fuzz target looks up with dlsym.
inline constexpr const char* kKelvoraFuzzRoteiro = "KelvoraFuzzRoteiro";
