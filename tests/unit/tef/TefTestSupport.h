// Support for the TEF component's tests: a temporary base directory with a private copy of a SiTef
// library (the simulator or the scripted stand-in), a fixed clock, and an application whose
// handlers answer as the service's data module does and record every event in order; and the
// fixture that puts them together at a fixed moment.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "tef/KoCliSiTef.h"
#include "tef/KoCliSiTefCliSiTef.h"

namespace kelvora::tef::testing {

// The loader's reason for a library file that is not there, after the file's name: the C
// library's words on Linux; on Windows the system's, whose wording varies, so only its start.
#ifdef _WIN32
inline const std::string kSemArquivo = "";
#else
inline const std::string kSemArquivo = "cannot open shared object file";
#endif

// The loader's reason for an export the library lacks, as the gateway logs it.
inline std::string SemExportacao(const std::string& PathDLL, const std::string& exportacao) {
#ifdef _WIN32
  static_cast<void>(PathDLL);
  return "CarregarFuncoesDLL: " + exportacao + ": ";
#else
  return "CarregarFuncoesDLL: " + PathDLL + "/CliSiTef32I.dll: undefined symbol: " + exportacao;
#endif
}

// A clock that stands still until told to move.
class RelogioFixo : public platform::Clock {
 public:
  RelogioFixo(int ano, int mes, int dia, int hora, int minuto, int segundo, int milis = 0) {
    std::tm partes{};
    partes.tm_year = ano - 1900;
    partes.tm_mon = mes - 1;
    partes.tm_mday = dia;
    partes.tm_hour = hora;
    partes.tm_min = minuto;
    partes.tm_sec = segundo;
    partes.tm_isdst = -1;
    agora_ = std::chrono::system_clock::from_time_t(std::mktime(&partes)) +
             std::chrono::milliseconds(milis);
  }
  std::chrono::system_clock::time_point Now() const override { return agora_; }
  void Avanca(std::chrono::seconds s) { agora_ += s; }

 private:
  std::chrono::system_clock::time_point agora_;
};

// One line of the simulator's ledger: its event word and its key=value pairs.
struct EventoLedger {
  std::string tipo;
  std::map<std::string, std::string> campos;
};

// A base directory laid out as the service's: dll/CliSiTef32I.dll (a copy of the given library,
// when one is given), TEF/ for the backups and tef.log for the TEF log.
class Ambiente {
 public:
  explicit Ambiente(const std::string& biblioteca = "") {
    std::filesystem::create_directories(PathDLL());
    if (!biblioteca.empty()) {
      std::filesystem::copy_file(biblioteca, PathDLL() + "/CliSiTef32I.dll");
    }
  }

  std::string Base() const { return dir_.File(""); }
  std::string PathDLL() const { return dir_.File("dll"); }
  std::string PathBackup() const { return dir_.File("TEF"); }
  std::string ArqLOG() const { return dir_.File("tef.log"); }
  std::string Backup(int numero) const {
    char nome[40];
    std::snprintf(nome, sizeof nome, "/KoCliSiTef_CliSiTef_%03d.tef", numero);
    return PathBackup() + nome;
  }
  std::vector<std::string> Backups() const {
    std::vector<std::string> nomes;
    std::error_code erro;
    for (const auto& e : std::filesystem::directory_iterator(PathBackup(), erro)) {
      nomes.push_back(e.path().filename().string());
    }
    std::sort(nomes.begin(), nomes.end());
    return nomes;
  }

  // A file beside the library (the simulator's control file, the stand-in's script).
  void Escreve(const std::string& nome, const std::string& texto) const {
    std::ofstream(PathDLL() + "/" + nome, std::ios::binary) << texto;
  }
  std::vector<std::string> Linhas(const std::string& nome) const {
    std::ifstream arquivo(PathDLL() + "/" + nome, std::ios::binary);
    std::vector<std::string> linhas;
    for (std::string linha; std::getline(arquivo, linha);) linhas.push_back(linha);
    return linhas;
  }
  // The simulator's ledger.
  std::vector<EventoLedger> Ledger() const {
    std::vector<EventoLedger> eventos;
    for (const std::string& linha : Linhas("CliSiTefSim.ledger")) {
      std::istringstream partes(linha);
      EventoLedger evento;
      partes >> evento.tipo;
      for (std::string par; partes >> par;) {
        const size_t igual = par.find('=');
        evento.campos[par.substr(0, igual)] = par.substr(igual + 1);
      }
      eventos.push_back(evento);
    }
    return eventos;
  }
  // The ledger's events of one kind whose "nsu" list holds the given NSU.
  int Conta(const std::string& tipo, const std::string& nsu) const {
    int n = 0;
    for (const EventoLedger& e : Ledger()) {
      const auto lista = e.campos.find("nsu");
      if (e.tipo != tipo || lista == e.campos.end()) continue;
      if (("," + lista->second + ",").find("," + nsu + ",") != std::string::npos) ++n;
    }
    return n;
  }
  // The TEF log in UTF-8.
  std::string Log() const {
    return platform::FromAnsi(platform::AnsiBytes(TempDir::Read(ArqLOG())));
  }

 private:
  TempDir dir_;
};

// What the application saw of one response in OnDepoisConfirmarTransacoes.
struct RespostaVista {
  std::string Header, NSU, Documento, Indice, Modalidade, Cartao, Rede, ArqBackup;
  platform::Currency Valor;
  bool Debito = false, Credito = false, Pendente = false, BackupExiste = false;
  int QtdParcelas = 0, Parcelas = 0, Linhas1 = 0, Linhas2 = 0;
  std::vector<std::string> Via1;
};

// An application of the component: its handlers answer printer commands as done, the printer
// state as free, and the user's prompts from the queues below, recording every event as a line
// ("OnComandaECF opeFechaVinculado").
class Aplicacao {
 public:
  explicit Aplicacao(const Ambiente& ambiente,
                     const platform::Clock& relogio = platform::DefaultClock())
      : KoCliSiTef(ambiente.Base(), relogio) {
    KoCliSiTef.SetArqLOG(ambiente.ArqLOG());
    KoCliSiTef.SetPathBackup(ambiente.PathBackup());
    TKoCliSiTefCliSiTef& g = KoCliSiTef.TEFCliSiTef();
    g.SetPathDLL(ambiente.PathDLL());
    g.SetModoServico(true);
    g.SetEnderecoIP("127.0.0.1");
    g.SetCodigoLoja("00000000");
    g.SetNumeroTerminal("SE000001");
    g.SetOperador("OPERADOR");
    Liga();
  }

  TKoCliSiTef KoCliSiTef;
  std::vector<std::string> Eventos;
  std::vector<RespostaVista> Confirmadas;
  std::vector<RespostaVista> Canceladas;

  // Menu answers: the option to pick ("2:Credito"), "<voltar>" to go back, "<nenhum>" to leave.
  std::deque<std::string> Menus;
  // Field answers by field type; a field without one keeps the answer it was offered.
  std::map<int32_t, std::string> Campos;
  // Answers to opmYesNo questions; 6 (yes) when the queue is empty.
  std::deque<int> Respostas;
  // Interrupts the dialogue at the n-th OnAguardaResp (0: never).
  int InterromperNaEspera = 0;
  // Results of OnComandaECFImprimeVia, in order; 1 when the queue is empty.
  std::deque<int32_t> RetornosImprimeVia;
  // Result of OnComandaImpressao.
  int32_t RetornoImpressao = 1;
  // Runs after each event is recorded, to look around at that moment.
  std::function<void(const std::string&)> AoEvento;

  // The recorded events that start with one of the prefixes, in order.
  std::vector<std::string> Filtra(const std::vector<std::string>& prefixos) const {
    std::vector<std::string> saida;
    for (const std::string& e : Eventos) {
      for (const std::string& p : prefixos) {
        if (e.compare(0, p.size(), p) == 0) {
          saida.push_back(e);
          break;
        }
      }
    }
    return saida;
  }
  int Conta(const std::string& prefixo) const { return static_cast<int>(Filtra({prefixo}).size()); }

 private:
  void Registra(const std::string& evento) {
    Eventos.push_back(evento);
    if (AoEvento) AoEvento(evento);
  }

  static RespostaVista Vista(const TKoCliSiTefResp& r) {
    RespostaVista v;
    v.Header = r.Header();
    v.NSU = r.NSU();
    v.Documento = r.DocumentoVinculado();
    v.Indice = r.IndiceFPG_ECF();
    v.Modalidade = r.ModalidadePagto();
    v.Cartao = r.NumeroCartao();
    v.Rede = r.Rede();
    v.ArqBackup = r.ArqBackup();
    v.Valor = r.ValorTotal();
    v.Debito = r.Debito();
    v.Credito = r.Credito();
    v.Pendente = r.Pendente();
    v.BackupExiste = !r.ArqBackup().empty() && std::filesystem::exists(r.ArqBackup());
    v.QtdParcelas = r.QtdParcelas();
    v.Parcelas = r.Parcelas().Count();
    v.Linhas1 = static_cast<int>(r.ImagemComprovante1aVia().size());
    v.Linhas2 = static_cast<int>(r.ImagemComprovante2aVia().size());
    v.Via1 = r.ImagemComprovante1aVia();
    return v;
  }

  void Liga() {
    TKoCliSiTef& k = KoCliSiTef;
    k.OnAguardaResp = [this](const std::string& arquivo, int32_t, bool& interromper) {
      Registra("OnAguardaResp " + arquivo);
      if (InterromperNaEspera > 0 && Conta("OnAguardaResp") == InterromperNaEspera) {
        interromper = true;
      }
    };
    k.OnExibeMsg = [this](TKoCliSiTefOperacaoMensagem op, const std::string& msg, int& modal) {
      Registra(std::string("OnExibeMsg ") + NomeValor(op) + " " + msg);
      if (op == opmYesNo || op == opmYesNoCustom) {
        modal = Respostas.empty() ? 6 : Respostas.front();
        if (!Respostas.empty()) Respostas.pop_front();
      }
    };
    k.OnComandaECF = [this](TKoCliSiTefOperacaoECF op, TKoCliSiTefResp&, int32_t& ret) {
      Registra(std::string("OnComandaECF ") + NomeValor(op));
      ret = 1;
    };
    k.OnComandaImpressao = [this](int32_t& ret, TKoCliSiTefResp&, bool) {
      Registra("OnComandaImpressao");
      ret = RetornoImpressao;
    };
    k.OnComandaECFPagamento = [this](const std::string& indice, platform::Currency, int32_t& ret) {
      Registra("OnComandaECFPagamento " + indice);
      ret = 1;
    };
    k.OnComandaECFAbreVinculado = [this](const std::string& coo, const std::string& indice,
                                         platform::Currency valor, int32_t& ret) {
      Registra("OnComandaECFAbreVinculado " + coo + " " + indice + " " + valor.ToText2());
      ret = 1;
    };
    k.OnComandaECFImprimeVia = [this](TKoCliSiTefTipoRelatorio tipo, int32_t via,
                                      const std::vector<std::string>&, int32_t& ret) {
      Registra(std::string("OnComandaECFImprimeVia ") + NomeValor(tipo) + " " +
               std::to_string(via));
      ret = RetornosImprimeVia.empty() ? 1 : RetornosImprimeVia.front();
      if (!RetornosImprimeVia.empty()) RetornosImprimeVia.pop_front();
    };
    k.OnInfoECF = [this](TKoCliSiTefInfoECF op, std::string& ret) {
      Registra(std::string("OnInfoECF ") + NomeValor(op));
      if (op == ineEstadoECF) ret = "L";
    };
    k.OnDepoisConfirmarTransacoes = [this](TKoCliSiTefRespostasPendentes& lista) {
      Registra("OnDepoisConfirmarTransacoes " + std::to_string(lista.Count()));
      for (int i = 0; i < lista.Count(); ++i) Confirmadas.push_back(Vista(lista.GetObject(i)));
    };
    k.OnAntesCancelarTransacao = [this](TKoCliSiTefResp& r) {
      Registra("OnAntesCancelarTransacao");
      Canceladas.push_back(Vista(r));
    };
    k.OnDepoisCancelarTransacoes = [this](TKoCliSiTefRespostasPendentes& lista) {
      Registra("OnDepoisCancelarTransacoes " + std::to_string(lista.Count()));
    };
    k.OnMudaEstadoResp = [this](TKoCliSiTefRespEstado e) {
      Registra(std::string("OnMudaEstadoResp ") + NomeValor(e));
    };
    k.OnExibeMenu = [this](const std::string& titulo, const std::vector<std::string>& opcoes,
                           int32_t& item, bool& voltar) {
      Registra("OnExibeMenu " + titulo);
      if (Menus.empty()) return;
      const std::string escolha = Menus.front();
      Menus.pop_front();
      if (escolha == "<voltar>") voltar = true;
      for (size_t i = 0; i < opcoes.size(); ++i) {
        if (opcoes[i] == escolha) item = static_cast<int32_t>(i);
      }
    };
    k.OnObtemCampo = [this](const std::string& titulo, int32_t, int32_t, int32_t tipo,
                            TKoCliSiTefCliSiTefOperacaoCampo op, platform::AnsiString& resposta,
                            bool&, bool&) {
      Registra("OnObtemCampo " + std::to_string(tipo) + " " + NomeValor(op) + " " + titulo);
      if (Campos.count(tipo)) resposta = platform::ToAnsi(Campos[tipo]);
    };
    k.OnObterSenha = [this](const std::string& titulo, bool&) {
      Registra("OnObterSenha " + titulo);
    };
    k.OnExibeQRCode = [this](const std::string& qr) { Registra("OnExibeQRCode " + qr); };
  }
};

// A test of the component on a copy of the given library, at a fixed moment: 25 December 2024,
// 10:30:15, so every dialogue gets the document number 37815.
class ComponenteNaBiblioteca : public ::testing::Test {
 protected:
  explicit ComponenteNaBiblioteca(const std::string& biblioteca) : ambiente(biblioteca) {}

  // Initialises the CliSiTef gateway and forgets the events that took.
  void Inicializa() {
    k.Inicializar(gpCliSiTef);
    app.Eventos.clear();
  }

  Ambiente ambiente;
  RelogioFixo relogio{2024, 12, 25, 10, 30, 15};
  Aplicacao app{ambiente, relogio};
  TKoCliSiTef& k = app.KoCliSiTef;
  TKoCliSiTefCliSiTef& g = k.TEFCliSiTef();
};

}  // namespace kelvora::tef::testing
