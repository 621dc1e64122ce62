// The component's own time per library command in whole payment dialogues: each dialogue runs
// from CRT to the confirmation against the simulator, which answers at once, and the time spent
// inside the library is subtracted, leaving what the component itself costs (the loop, the result
// fields, the TEF log, the backup file written and deleted, printing through the handlers). Each
// payment kind runs with its runtime tree on the disk and in memory, which shows what the flushes
// of the backup file cost.
#include <benchmark/benchmark.h>

#include <chrono>

#include "DialogueBase.h"

namespace kelvora::bench {
namespace {

// The simulator reads its whole ledger at every call; starting it afresh this often keeps the
// library's share from growing with the number of dialogues run.
constexpr int64_t kDialogosPorLedger = 100;

void BM_Dialogo(benchmark::State& state, TDialogo dialogo, TArmazenamento armazenamento) {
  TAmbienteDialogo ambiente(armazenamento);
  TAplicacaoDialogo aplicacao(ambiente);
  int64_t dialogos = 0;
  int64_t totalNs = 0;
  int64_t bibliotecaNs = 0;
  int64_t comandos = 0;
  for (auto _ : state) {
    if (dialogos > 0 && dialogos % kDialogosPorLedger == 0) {
      state.PauseTiming();
      ambiente.Recomeca();
      state.ResumeTiming();
    }
    const TTempoBiblioteca antes = aplicacao.TempoBiblioteca();
    const auto inicio = std::chrono::steady_clock::now();
    if (!aplicacao.Executa(dialogo)) {
      state.SkipWithError("the payment was not approved");
      break;
    }
    totalNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now() - inicio)
                   .count();
    const TTempoBiblioteca depois = aplicacao.TempoBiblioteca();
    bibliotecaNs += depois.Nanossegundos - antes.Nanossegundos;
    comandos += depois.ChamadasContinua - antes.ChamadasContinua;
    ++dialogos;
  }
  if (comandos == 0) return;
  const double porComando = 1e3 * static_cast<double>(comandos);
  state.counters["cmds_per_dialogue"] =
      static_cast<double>(comandos) / static_cast<double>(dialogos);
  state.counters["total_us_per_cmd"] = static_cast<double>(totalNs) / porComando;
  state.counters["library_us_per_cmd"] = static_cast<double>(bibliotecaNs) / porComando;
  state.counters["own_us_per_cmd"] = static_cast<double>(totalNs - bibliotecaNs) / porComando;
}

BENCHMARK_CAPTURE(BM_Dialogo, debit_disk, TDialogo::Debito, TArmazenamento::Disco)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dialogo, debit_tmpfs, TDialogo::Debito, TArmazenamento::Memoria)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dialogo, credit_3x_disk, TDialogo::CreditoParcelado, TArmazenamento::Disco)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dialogo, credit_3x_tmpfs, TDialogo::CreditoParcelado,
                  TArmazenamento::Memoria)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dialogo, pix_disk, TDialogo::Pix, TArmazenamento::Disco)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Dialogo, pix_tmpfs, TDialogo::Pix, TArmazenamento::Memoria)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvora::bench
