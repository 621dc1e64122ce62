// Field files at the size of a payment's backup: the record of an approved debit with both receipt
// images, saved and loaded again in /tmp without the flush to stable storage, so that what is
// measured is the component's own formatting and parsing.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/Ansi.h"
#include "tef/KoCliSiTefArquivo.h"
#include "tef/KoCliSiTefRespCliSiTef.h"

namespace kelvora::bench {
namespace {

// A receipt image of 38 lines joined by line feeds, accented as the simulator's.
std::string ReceiptImage(const std::string& via) {
  std::string image = "     SIMULAÇÃO - SEM VALOR FISCAL     \n" + via + "\n";
  for (int i = 0; i < 35; ++i) {
    image += "LINHA " + std::to_string(i) + " CARTÃO 476173******0119 R$ 25,90\n";
  }
  return image + "     SIMULAÇÃO - SEM VALOR FISCAL     ";
}

// The result fields of an approved debit, escaped and filed as the gateway stores them.
void FillBackupRecord(tef::TKoCliSiTefRespCliSiTef& resp) {
  const std::pair<int, std::string> fields[] = {{100, "0100"},
                                                {101, "VISA ELECTRON"},
                                                {102, "Débito à vista"},
                                                {105, "20250105133000"},
                                                {121, ReceiptImage("VIA DO CLIENTE")},
                                                {122, ReceiptImage("VIA DO ESTABELECIMENTO")},
                                                {131, "00005"},
                                                {132, "00001"},
                                                {133, "000123"},
                                                {134, "000456789"},
                                                {135, "123456"},
                                                {156, "REDE"},
                                                {157, "476173******0119"},
                                                {2021, "A1B2C3D4E5F6"}};
  for (const auto& [field, value] : fields) resp.GravaInformacao(field, platform::ToAnsi(value));
  tef::TKoCliSiTefArquivo& conteudo = resp.Conteudo();
  conteudo.GravaInformacao(899, 100, platform::AnsiBytes("CRT"));
  conteudo.GravaInformacao(899, 101, platform::AnsiBytes("48600"));
  conteudo.GravaInformacao(899, 102, platform::AnsiBytes("48600"));
  conteudo.GravaInformacao(899, 103, platform::AnsiBytes("2590"));
  conteudo.GravaInformacao(899, 104, platform::AnsiBytes("20250105133000"));
}

// A directory under /tmp for one benchmark, removed with its files when the benchmark ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kelvora-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void BM_FieldFileSave(benchmark::State& state) {
  const ScratchDir dir;
  tef::TKoCliSiTefRespCliSiTef resp;
  FillBackupRecord(resp);
  const std::string file = dir.File("KoCliSiTef_CliSiTef_001.tef");
  for (auto _ : state) resp.Conteudo().GravarArquivo(file, false);
  state.counters["lines"] = resp.Conteudo().Count();
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(file));
}
BENCHMARK(BM_FieldFileSave);

void BM_FieldFileLoad(benchmark::State& state) {
  const ScratchDir dir;
  tef::TKoCliSiTefRespCliSiTef resp;
  FillBackupRecord(resp);
  const std::string file = dir.File("KoCliSiTef_CliSiTef_001.tef");
  resp.Conteudo().GravarArquivo(file, false);
  tef::TKoCliSiTefArquivo loaded;
  for (auto _ : state) {
    loaded.LeArquivo(file);
    benchmark::DoNotOptimize(loaded.Count());
  }
}
BENCHMARK(BM_FieldFileLoad);

// Loading followed by the conversion into the record's properties, as the start-up confirmation
// of leftover backups does for each file.
void BM_FieldFileLoadAndConvert(benchmark::State& state) {
  const ScratchDir dir;
  tef::TKoCliSiTefRespCliSiTef written;
  FillBackupRecord(written);
  const std::string file = dir.File("KoCliSiTef_CliSiTef_001.tef");
  written.Conteudo().GravarArquivo(file, false);
  for (auto _ : state) {
    tef::TKoCliSiTefRespCliSiTef resp;
    resp.Conteudo().LeArquivo(file);
    resp.ConteudoToProperty();
    benchmark::DoNotOptimize(resp.ValorTotal());
  }
}
BENCHMARK(BM_FieldFileLoadAndConvert);

}  // namespace
}  // namespace kelvora::bench
