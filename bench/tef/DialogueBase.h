// A runtime tree and an application for timing whole payment dialogues through the TEF component:
// the timing stand-in as the SiTef library, the simulator behind it answering at once, and event
// handlers that answer every prompt and printer command without waiting.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/DynamicLibrary.h"
#include "tef/KoCliSiTef.h"

namespace kelvora::bench {

// Where the runtime tree lives: on the disk, where the backup's and the ledger's flushes reach
// the device, or in memory (tmpfs), where a flush returns at once.
enum class TArmazenamento { Disco, Memoria };

// The kinds of payment timed, each as the data module starts it.
enum class TDialogo { Debito, CreditoParcelado, Pix };

// Time spent inside the SiTef library and the number of ContinuaFuncaoSiTefInterativo calls, as
// the timing stand-in counts them since it was loaded.
struct TTempoBiblioteca {
  int64_t Nanossegundos = 0;
  int64_t ChamadasContinua = 0;
};

// A base directory laid out as the service's, with the timing stand-in in dll/ and a private copy
// of the simulator in dll/simulador/ (its control file sets no card or Pix waits and no delays).
// Removed with everything in it when the object goes away.
class TAmbienteDialogo {
 public:
  explicit TAmbienteDialogo(TArmazenamento armazenamento);
  TAmbienteDialogo(const TAmbienteDialogo&) = delete;
  TAmbienteDialogo& operator=(const TAmbienteDialogo&) = delete;
  ~TAmbienteDialogo();

  std::string Base() const { return fBase.string(); }
  std::string PathDLL() const { return (fBase / "dll").string(); }

  // Empties the simulator's ledger and the TEF log, which grow with every dialogue: the simulator
  // reads its whole ledger at each call.
  void Recomeca() const;

 private:
  std::filesystem::path fBase;
};

// The component configured as the data module configures it, with handlers that answer at once:
// menus pick the option the dialogue needs, fields keep the offered answer, questions get "yes",
// every printer command succeeds and the printer is free.
class TAplicacaoDialogo {
 public:
  explicit TAplicacaoDialogo(const TAmbienteDialogo& ambiente);

  // Runs one payment of the given kind to its confirmation; false when it was not approved.
  bool Executa(TDialogo dialogo);

  // What the timing stand-in has counted so far.
  TTempoBiblioteca TempoBiblioteca() const;

 private:
  using TLeTempo = void (*)(int64_t* nanossegundos, int64_t* chamadasContinua);

  void LigaEventos();

  tef::TKoCliSiTef fKoCliSiTef;
  std::string fOpcaoMenu;  // the menu option the running dialogue picks
  // A second reference to the library the component loaded, to reach the stand-in's counter.
  platform::DynamicLibrary fBiblioteca;
  TLeTempo fLeTempo = nullptr;
};

}  // namespace kelvora::bench
