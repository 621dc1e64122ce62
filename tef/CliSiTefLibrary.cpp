// Locating CliSiTef32I.dll and resolving its exports one by one.
#include "tef/CliSiTefLibrary.h"

#include <filesystem>
#include <stdexcept>

#include "platform/Utf8Path.h"
#include "tef/KoCliSiTefUtil.h"

namespace kelvora::tef {

std::string NomeCompletoDLL(const std::string& PathDLL, const std::string& NomeDLL) {
  if (PathDLL.empty()) return NomeDLL;
  std::string pasta = Trim(PathDLL);
  constexpr char kSeparador = static_cast<char>(std::filesystem::path::preferred_separator);
  if (pasta.empty() || (pasta.back() != '/' && pasta.back() != kSeparador)) pasta += kSeparador;
  return pasta + NomeDLL;
}

TLocalDLL LocalizaDLL(const std::string& DiretorioBase, const std::string& Configurado) {
  const std::filesystem::path base = platform::PathFromUtf8(DiretorioBase);
  const std::string texto = Trim(Configurado);
  const auto pasta = [](std::filesystem::path caminho) {
    return caminho.make_preferred().string() +
           static_cast<char>(std::filesystem::path::preferred_separator);
  };
  if (texto.empty()) return {pasta(base / "dll"), kNomeDLL};
  const std::filesystem::path caminho = (base / platform::PathFromUtf8(texto)).lexically_normal();
  const std::string nome = caminho.filename().string();
  return {pasta(caminho.parent_path()), nome.empty() ? std::string(kNomeDLL) : nome};
}

template <class Funcao>
void TCliSiTefLibrary::CarregarFuncaoDLL(const char* nome, Funcao& slot,
                                         const std::string& arquivo) {
  if (slot != nullptr) return;
  std::string erro;
  if (!fBiblioteca) fBiblioteca = platform::DynamicLibrary::Open(arquivo, true, erro);
  void* endereco = fBiblioteca ? fBiblioteca.Symbol(nome, erro) : nullptr;
  if (endereco == nullptr) {
    slot = nullptr;
    fErroCarregamento = erro;
    throw std::runtime_error(std::string("Erro ao carregar a função:") + nome + " de: " + kNomeDLL);
  }
  slot = reinterpret_cast<Funcao>(endereco);
}

void TCliSiTefLibrary::CarregarFuncoesDLL(const std::string& PathDLL, const std::string& NomeDLL) {
  const std::string arquivo = NomeCompletoDLL(PathDLL, NomeDLL);
  fErroCarregamento.clear();
  CarregarFuncaoDLL("ConfiguraIntSiTefInterativoEx", xConfiguraIntSiTefInterativoEx, arquivo);
  CarregarFuncaoDLL("IniciaFuncaoSiTefInterativo", xIniciaFuncaoSiTefInterativo, arquivo);
  CarregarFuncaoDLL("LeTrilha3", xLeTrilha3, arquivo);
  CarregarFuncaoDLL("LeCartaoSeguro", xLeCartaoSeguro, arquivo);
  CarregarFuncaoDLL("LeCartaoDiretoSeguro", xLeCartaoDiretoSeguro, arquivo);
  CarregarFuncaoDLL("LeCartaoDiretoEx", xLeCartaoDiretoEx, arquivo);
  CarregarFuncaoDLL("ContinuaFuncaoSiTefInterativo", xContinuaFuncaoSiTefInterativo, arquivo);
  CarregarFuncaoDLL("FinalizaTransacaoSiTefInterativo", xFinalizaTransacaoSiTefInterativo, arquivo);
  CarregarFuncaoDLL("EscreveMensagemPermanentePinPad", xEscreveMensagemPermanentePinPad, arquivo);
  CarregarFuncaoDLL("ObtemQuantidadeTransacoesPendentes", xObtemQuantidadeTransacoesPendentes,
                    arquivo);
  CarregarFuncaoDLL("VerificaPresencaPinPad", xVerificaPresencaPinPad, arquivo);
}

void TCliSiTefLibrary::DescarregarDLL() noexcept {
  xConfiguraIntSiTefInterativoEx = nullptr;
  xIniciaFuncaoSiTefInterativo = nullptr;
  xLeTrilha3 = nullptr;
  xLeCartaoSeguro = nullptr;
  xLeCartaoDiretoEx = nullptr;
  xLeCartaoDiretoSeguro = nullptr;
  xFinalizaTransacaoSiTefInterativo = nullptr;
  xContinuaFuncaoSiTefInterativo = nullptr;
  xEscreveMensagemPermanentePinPad = nullptr;
  xObtemQuantidadeTransacoesPendentes = nullptr;
  xVerificaPresencaPinPad = nullptr;
  fBiblioteca.Close();
}

bool TCliSiTefLibrary::EhSimulador() const {
  std::string erro;
  return fBiblioteca.Loaded() && fBiblioteca.Symbol("KelvoraCliSiTefSimulador", erro) != nullptr;
}

}  // namespace kelvora::tef
