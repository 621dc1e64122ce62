// SvcKelvoraSiTef: the Kelvora TEF Server service executable.
#include "service/ServiceProgram.h"

#include <memory>

// Until the data module joins the build, requests are dropped without a reply.
int main(int argc, char** argv) {
  return kelvora::service::RunServiceProgram(
      argc, argv, [](kelvora::service::TKelvoraSiTefService&) {
        return std::make_unique<kelvora::service::IgnoringMessageHandler>();
      });
}
