// A call into the SiTef library, timed for the metrics under the name of its export: how long the
// library keeps a till waiting is what tells a slow network or pin-pad from a slow service.
#pragma once

#include <chrono>
#include <utility>

#include "metrics/Telemetry.h"

namespace kelvora::tef {

template <class Funcao>
class TTimedLibraryCall {
 public:
  TTimedLibraryCall(Funcao funcao, const char* nome) : fFuncao(funcao), fNome(nome) {}

  template <class... Argumentos>
  auto operator()(Argumentos&&... argumentos) const {
    const auto inicio = std::chrono::steady_clock::now();
    const auto resultado = fFuncao(std::forward<Argumentos>(argumentos)...);
    metrics::ObserveLibraryCall(fNome, std::chrono::steady_clock::now() - inicio);
    return resultado;
  }

 private:
  Funcao fFuncao;
  const char* fNome;
};

}  // namespace kelvora::tef
