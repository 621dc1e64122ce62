// The exceptions of the TEF component; each carries the component's fixed Portuguese message
// (UTF-8).
#pragma once

#include <stdexcept>

namespace kelvora::tef {

// Any failure of the component: wrong owner, no request started, a reversal not done, a value
// from the fiscal-printer event that is not a number, and the CliSiTef gateway's own failures.
class EKoCliSiTefErro : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The payment program (GP) did not answer.
class EKoCliSiTefGPNaoResponde : public EKoCliSiTefErro {
 public:
  using EKoCliSiTefErro::EKoCliSiTefErro;
};

// An operation reached a gateway that is not initialised.
class EKoCliSiTefGPNaoInicializado : public EKoCliSiTefErro {
 public:
  using EKoCliSiTefErro::EKoCliSiTefErro;
};

// The GP's status answer does not match the request.
class EKoCliSiTefSTSInvalido : public EKoCliSiTefErro {
 public:
  using EKoCliSiTefErro::EKoCliSiTefErro;
};

// A file is missing, cannot be deleted, or cannot be moved to its new name.
class EKoCliSiTefArquivo : public EKoCliSiTefErro {
 public:
  using EKoCliSiTefErro::EKoCliSiTefErro;
};

// The fiscal printer (ECF) refused a command or is in the wrong state.
class EKoCliSiTefECF : public EKoCliSiTefErro {
 public:
  using EKoCliSiTefErro::EKoCliSiTefErro;
};

}  // namespace kelvora::tef
