// The C entry points of the simulated CliSiTef32I.dll: the SiTef client library's functions that
// the service calls, plus KelvoraCliSiTefSimulador, by which a program tells the simulator apart.
#pragma once

#define KELVORA_SIM_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

KELVORA_SIM_EXPORT int ConfiguraIntSiTefInterativoEx(char* serverAddress, char* storeCode,
                                                     char* terminalNumber, int reserved,
                                                     char* additionalParameters);
KELVORA_SIM_EXPORT int IniciaFuncaoSiTefInterativo(int function, char* amount, char* fiscalDocument,
                                                   char* fiscalDate, char* fiscalTime,
                                                   char* operatorId, char* restrictions);
KELVORA_SIM_EXPORT int ContinuaFuncaoSiTefInterativo(int* command, int* fieldType,
                                                     short* minimumLength, short* maximumLength,
                                                     char* buffer, int bufferSize, int proceed);
KELVORA_SIM_EXPORT int FinalizaTransacaoSiTefInterativo(int confirm, char* fiscalDocument,
                                                        char* fiscalDate, char* fiscalTime);
KELVORA_SIM_EXPORT int ObtemQuantidadeTransacoesPendentes(char* fiscalDate, char* fiscalDocument);
KELVORA_SIM_EXPORT int VerificaPresencaPinPad(void);
KELVORA_SIM_EXPORT int EscreveMensagemPermanentePinPad(char* message);
KELVORA_SIM_EXPORT int LeTrilha3(char* message);
KELVORA_SIM_EXPORT int LeCartaoDiretoEx(char* message, char* track1, char* track2, short timeout,
                                        void* reserved);
KELVORA_SIM_EXPORT int LeCartaoSeguro(char* message);
KELVORA_SIM_EXPORT int LeCartaoDiretoSeguro(char* message, char* track1, char* track2,
                                            short timeout);

// Returns 1: the library is the Kelvora simulator, whose payments are not real.
KELVORA_SIM_EXPORT int KelvoraCliSiTefSimulador(void);

#ifdef __cplusplus
}
#endif
