/* A stand-in for SvcKelvoraSiTef.exe in installer tests: appends its command line to
   C:\stand-in-calls.txt and makes the files generate-certificates and generate-secret would. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  FILE* calls = fopen("C:\\stand-in-calls.txt", "a");
  if (calls == NULL) return 1;
  for (int i = 1; i < argc; ++i) fprintf(calls, "%s%s", argv[i], i + 1 < argc ? " " : "\n");
  fclose(calls);
  if (argc == 3 && strcmp(argv[1], "generate-certificates") == 0) {
    static const char* const names[] = {"ca_cert.pem", "server_cert.pem", "server_key.pem"};
    CreateDirectoryA(argv[2], NULL);
    for (int i = 0; i < 3; ++i) {
      char path[MAX_PATH];
      snprintf(path, sizeof path, "%s\\%s", argv[2], names[i]);
      FILE* file = fopen(path, "w");
      if (file == NULL) return 1;
      fputs("stand-in\n", file);
      fclose(file);
    }
  } else if (argc == 3 && strcmp(argv[1], "generate-secret") == 0) {
    if (!WritePrivateProfileStringA("security", "jwt_secret", "StandInKey0000000000000000000000",
                                    argv[2]))
      return 1;
  }
  return 0;
}
