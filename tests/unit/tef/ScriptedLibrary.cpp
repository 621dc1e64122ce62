// A scripted stand-in for CliSiTef32I.dll, for the gateway's tests: each export takes its result
// (and, for ContinuaFuncaoSiTefInterativo, its command) from the next line of CliSiTefRoteiro.txt
// beside the library, and every call is written to CliSiTefChamadas.txt beside it. Built once
// complete and once without VerificaPresencaPinPad (SEM_VERIFICA_PRESENCA_PINPAD).
//
// Script lines, taken off the script in order by the call they name; a call whose line is not
// first gets its default (in brackets):
//   configura <result> [0]       inicia <result> [10000]       finaliza <result> [0]
//   pinpad <result> [1]          trilha3 <result> [10000]
//   continua <status> <command> <field> <min> <max> <data...>   [status 0, no command, no data]
// The data may hold \n, \r, \\ and \xHH escapes. Recorded values escape every byte outside
// printable ASCII as \xHH and "|" as \x7C.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// On Windows the exports use the standard API convention and are linked with --kill-at, so they
// carry the vendor's undecorated names.
#ifdef _WIN32
#define EXPORTA extern "C" __declspec(dllexport)
#define CONVENCAO __stdcall
#else
#define EXPORTA extern "C" __attribute__((visibility("default")))
#define CONVENCAO
#endif

namespace {

const char kAncora = 0;

// The folder this copy of the library was loaded from.
std::string Pasta() {
#ifdef _WIN32
  HMODULE modulo = nullptr;
  char caminho[MAX_PATH];
  if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            &kAncora, &modulo) ||
      ::GetModuleFileNameA(modulo, caminho, sizeof caminho) == 0) {
    return ".";
  }
  std::string nome = caminho;
  const size_t barra = nome.find_last_of("\\/");
#else
  Dl_info info{};
  if (::dladdr(&kAncora, &info) == 0 || info.dli_fname == nullptr) return ".";
  std::string nome = info.dli_fname;
  const size_t barra = nome.rfind('/');
#endif
  return barra == std::string::npos ? "." : nome.substr(0, barra);
}

std::string Desescapa(const std::string& texto) {
  std::string saida;
  for (size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] != '\\' || i + 1 >= texto.size()) {
      saida += texto[i];
      continue;
    }
    const char c = texto[++i];
    if (c == 'n') saida += '\n';
    else if (c == 'r') saida += '\r';
    else if (c == 'x' && i + 2 < texto.size()) {
      saida += static_cast<char>(std::stoi(texto.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else saida += c;
  }
  return saida;
}

std::string Escapa(const char* texto) {
  std::string saida;
  char hex[8];
  for (const unsigned char c : std::string(texto != nullptr ? texto : "")) {
    if (c < 32 || c > 126 || c == '|') {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      saida += hex;
    } else {
      saida += static_cast<char>(c);
    }
  }
  return saida;
}

// The script's first line when it names this call: taken off the script, which thus always
// holds the steps still to come (a test that writes a new script starts afresh).
bool ProximaLinha(const std::string& chamada, std::string& resto) {
  const std::string arquivo = Pasta() + "/CliSiTefRoteiro.txt";
  std::ifstream roteiro(arquivo, std::ios::binary);
  std::string linha;
  if (!std::getline(roteiro, linha)) return false;
  if (linha.compare(0, chamada.size() + 1, chamada + " ") != 0) return false;
  std::stringstream restante;
  restante << roteiro.rdbuf();
  roteiro.close();
  std::ofstream(arquivo, std::ios::binary | std::ios::trunc) << restante.str();
  resto = linha.substr(chamada.size() + 1);
  return true;
}

int Resultado(const std::string& chamada, int padrao) {
  std::string resto;
  return ProximaLinha(chamada, resto) ? std::stoi(resto) : padrao;
}

void Registra(const std::vector<std::string>& campos) {
  std::ofstream chamadas(Pasta() + "/CliSiTefChamadas.txt", std::ios::binary | std::ios::app);
  for (size_t i = 0; i < campos.size(); ++i) chamadas << (i ? "|" : "") << campos[i];
  chamadas << '\n';
}

}  // namespace

EXPORTA int CONVENCAO ConfiguraIntSiTefInterativoEx(char* ip, char* loja, char* terminal, int reservado,
                                          char* parametros) {
  Registra({"configura", Escapa(ip), Escapa(loja), Escapa(terminal), std::to_string(reservado),
            Escapa(parametros)});
  return Resultado("configura", 0);
}

EXPORTA int CONVENCAO IniciaFuncaoSiTefInterativo(int modalidade, char* valor, char* cupom, char* data,
                                        char* hora, char* operador, char* restricoes) {
  Registra({"inicia", std::to_string(modalidade), Escapa(valor), Escapa(cupom), Escapa(data),
            Escapa(hora), Escapa(operador), Escapa(restricoes)});
  return Resultado("inicia", 10000);
}

EXPORTA int CONVENCAO ContinuaFuncaoSiTefInterativo(int* comando, int* campo, short* minimo, short* maximo,
                                          char* buffer, int tamanho, int continua) {
  Registra({"continua", std::to_string(continua), Escapa(buffer), std::to_string(tamanho),
            std::to_string(std::strlen(buffer))});
  std::string resto;
  int status = 0;
  *comando = 0;
  *campo = -1;
  *minimo = 0;
  *maximo = 0;
  std::string dados;
  if (ProximaLinha("continua", resto)) {
    std::istringstream partes(resto);
    partes >> status >> *comando >> *campo >> *minimo >> *maximo;
    std::getline(partes, dados);
    if (!dados.empty() && dados.front() == ' ') dados.erase(0, 1);
    dados = Desescapa(dados);
  }
  const size_t n = dados.size() < static_cast<size_t>(tamanho) ? dados.size() : tamanho - 1;
  std::memcpy(buffer, dados.data(), n);
  buffer[n] = '\0';
  return status;
}

EXPORTA int CONVENCAO FinalizaTransacaoSiTefInterativo(int confirma, char* cupom, char* data, char* hora) {
  Registra({"finaliza", std::to_string(confirma), Escapa(cupom), Escapa(data), Escapa(hora)});
  return Resultado("finaliza", 0);
}

EXPORTA int CONVENCAO EscreveMensagemPermanentePinPad(char* mensagem) {
  Registra({"mensagem", Escapa(mensagem)});
  return 0;
}

EXPORTA int CONVENCAO ObtemQuantidadeTransacoesPendentes(char* data, char* cupom) {
  Registra({"pendentes", Escapa(data), Escapa(cupom)});
  return 7;
}

#ifndef SEM_VERIFICA_PRESENCA_PINPAD
EXPORTA int CONVENCAO VerificaPresencaPinPad() {
  Registra({"pinpad"});
  return Resultado("pinpad", 1);
}
#endif

EXPORTA int CONVENCAO LeTrilha3(char* /*mensagem*/) {
  Registra({"trilha3"});
  return Resultado("trilha3", 10000);
}

EXPORTA int CONVENCAO LeCartaoDiretoEx(char* /*mensagem*/, char* trilha1, char* trilha2, short /*espera*/,
                             void* /*reservado*/) {
  Registra({"cartao"});
  std::strcpy(trilha1, "TRILHA1  ");
  std::strcpy(trilha2, "");
  return 0;
}

EXPORTA int CONVENCAO LeCartaoSeguro(char* /*mensagem*/) { return -20; }

EXPORTA int CONVENCAO LeCartaoDiretoSeguro(char* /*mensagem*/, char* /*trilha1*/, char* /*trilha2*/,
                                 short /*espera*/) {
  return -20;
}
