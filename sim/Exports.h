// The C entry points of the simulated CliSiTef32I.dll: the SiTef client library's functions that
// the service calls, plus KelvoraCliSiTefSimulador, by which a program tells the simulator apart.
#pragma once

// On Windows the exports are named by CliSiTef32I.def and use the standard API convention, as the
// vendor's library does; on Linux they are the default-visible symbols.
#ifdef _WIN32
#define KELVORA_SIM_EXPORT
#define KELVORA_SIM_CALL __stdcall
#else
#define KELVORA_SIM_EXPORT __attribute__((visibility("default")))
#define KELVORA_SIM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

KELVORA_SIM_EXPORT int KELVORA_SIM_CALL ConfiguraIntSiTefInterativoEx(char* serverAddress,
                                                                      char* storeCode,
                                                                      char* terminalNumber,
                                                                      int reserved,
                                                                      char* additionalParameters);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL
IniciaFuncaoSiTefInterativo(int function, char* amount, char* fiscalDocument, char* fiscalDate,
                            char* fiscalTime, char* operatorId, char* restrictions);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL ContinuaFuncaoSiTefInterativo(int* command, int* fieldType,
                                                                      short* minimumLength,
                                                                      short* maximumLength,
                                                                      char* buffer, int bufferSize,
                                                                      int proceed);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL FinalizaTransacaoSiTefInterativo(int confirm,
                                                                         char* fiscalDocument,
                                                                         char* fiscalDate,
                                                                         char* fiscalTime);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL ObtemQuantidadeTransacoesPendentes(char* fiscalDate,
                                                                           char* fiscalDocument);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL VerificaPresencaPinPad(void);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL EscreveMensagemPermanentePinPad(char* message);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL LeTrilha3(char* message);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL LeCartaoDiretoEx(char* message, char* track1, char* track2,
                                                         short timeout, void* reserved);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL LeCartaoSeguro(char* message);
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL LeCartaoDiretoSeguro(char* message, char* track1,
                                                             char* track2, short timeout);

// Returns 1: the library is the Kelvora simulator, whose payments are not real.
KELVORA_SIM_EXPORT int KELVORA_SIM_CALL KelvoraCliSiTefSimulador(void);

#ifdef __cplusplus
}
#endif
