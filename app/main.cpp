// SvcKelvoraSiTef: the Kelvora TEF Server service executable, joining the service module to the data module.
#include "platform/FileVersion.h"
#include "protocol/DmSitef.h"
#include "service/ServiceProgram.h"

#include <memory>

// The file version "/version" reports for "service_exe".
KELVORA_FILE_VERSION_NOTE("1.0.0.4");

int main(int argc, char** argv) {
  return kelvora::service::RunServiceProgram(
      argc, argv, [](kelvora::service::TKelvoraSiTefService& service) {
        return std::make_unique<kelvora::protocol::TDmSitef>(service);
      });
}
