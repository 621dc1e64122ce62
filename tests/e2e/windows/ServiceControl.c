/* Drives a service through the service control manager's API, for the tests that run the real
   service under Wine (whose "sc pause" and "sc continue" do nothing):
     kelvora-svcctl start|pause|continue|stop|query NAME
       sends the control (query sends none), waits until the service leaves the pending state and
       prints the state it settled in (RUNNING, PAUSED, STOPPED, or the pending state when it did
       not settle within 20 s: far longer than a sound service takes, shorter than the minute a
       connection's keep-alive takes to give up on a silent peer);
     kelvora-svcctl accepts NAME
       prints the controls the running service accepts (STOP PAUSE_CONTINUE SHUTDOWN PRESHUTDOWN
       POWEREVENT ...), as the manager decides what to send it from them;
     kelvora-svcctl watch-stop NAME
       sends the stop and watches it for up to a minute: prints "CHECKPOINTS" and every checkpoint
       seen while the stop was pending, then "LONGEST_WAIT" and the longest time in milliseconds
       the checkpoint stood still (the manager gives up on a service whose checkpoint stands still
       longer than its wait hint), then "WAIT_HINT" and the largest hint, then the final state;
     kelvora-svcctl exitcode NAME
       prints the exit codes of the last stop: the Win32 one and the service's own ("1066 3" for
       a service that ended with its own code 3; "0 0" for a clean stop);
     kelvora-svcctl demand NAME
       sets the start type to on demand, so that no later boot of the Wine prefix starts it;
     kelvora-svcctl config NAME
       prints the display name, the start type (AUTO, DEMAND, DISABLED, ...), the service's
       Description value from the registry and its recovery actions ("RECOVERY restart 5000,
       restart 30000; reset 86400; on failed stop", or "RECOVERY unsupported" from a manager
       without them, as Wine's), one a line, in UTF-8.
   Exits 0 when the request was taken, 1 with the system's reason on stderr otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* How long a pending state may last before the program gives up waiting and prints it. */
#define SETTLE_LIMIT_MS 20000
#define POLL_INTERVAL_MS 50

static int fail(const char* what) {
  fprintf(stderr, "%s failed: error %lu\n", what, (unsigned long)GetLastError());
  return 1;
}

static const char* state_name(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return "STOPPED";
    case SERVICE_START_PENDING:
      return "START_PENDING";
    case SERVICE_STOP_PENDING:
      return "STOP_PENDING";
    case SERVICE_RUNNING:
      return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
      return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
      return "PAUSE_PENDING";
    case SERVICE_PAUSED:
      return "PAUSED";
    default:
      return "UNKNOWN";
  }
}

static const char* start_type_name(DWORD type) {
  switch (type) {
    case SERVICE_BOOT_START:
      return "BOOT";
    case SERVICE_SYSTEM_START:
      return "SYSTEM";
    case SERVICE_AUTO_START:
      return "AUTO";
    case SERVICE_DEMAND_START:
      return "DEMAND";
    case SERVICE_DISABLED:
      return "DISABLED";
    default:
      return "UNKNOWN";
  }
}

static int is_pending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

/* Writes text as UTF-8 and a line end, so the test reads the accented letters as they are. */
static void print_line(const wchar_t* text) {
  char buffer[4096];
  int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
  if (length > 1) fwrite(buffer, 1, (size_t)length - 1, stdout);
  fputc('\n', stdout);
}

/* Polls the status until it is no longer pending, or the limit passes; prints the last one. */
static int wait_and_print(SC_HANDLE service) {
  SERVICE_STATUS status;
  DWORD waited = 0;
  for (;;) {
    if (!QueryServiceStatus(service, &status)) return fail("QueryServiceStatus");
    if (!is_pending(status.dwCurrentState) || waited >= SETTLE_LIMIT_MS) break;
    Sleep(POLL_INTERVAL_MS);
    waited += POLL_INTERVAL_MS;
  }
  printf("%s\n", state_name(status.dwCurrentState));
  return 0;
}

/* The controls the service says it accepts. */
static int print_accepted(SC_HANDLE service) {
  static const struct {
    DWORD flag;
    const char* name;
  } controls[] = {{SERVICE_ACCEPT_STOP, "STOP"},
                  {SERVICE_ACCEPT_PAUSE_CONTINUE, "PAUSE_CONTINUE"},
                  {SERVICE_ACCEPT_SHUTDOWN, "SHUTDOWN"},
                  {SERVICE_ACCEPT_PRESHUTDOWN, "PRESHUTDOWN"},
                  {SERVICE_ACCEPT_POWEREVENT, "POWEREVENT"},
                  {SERVICE_ACCEPT_PARAMCHANGE, "PARAMCHANGE"},
                  {SERVICE_ACCEPT_SESSIONCHANGE, "SESSIONCHANGE"}};
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return fail("QueryServiceStatus");
  for (size_t i = 0, printed = 0; i < sizeof controls / sizeof controls[0]; ++i) {
    if (status.dwControlsAccepted & controls[i].flag) {
      printf("%s%s", printed++ ? " " : "", controls[i].name);
    }
  }
  printf("\n");
  return 0;
}

/* Sends the stop and follows its progress as the service control manager does. */
#define WATCH_LIMIT_MS 60000
static int watch_stop(SC_HANDLE service) {
  SERVICE_STATUS status;
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) return fail("stop");
  DWORD checkpoint = status.dwCheckPoint;
  DWORD waitHint = status.dwWaitHint;
  DWORD since = GetTickCount();
  DWORD longest = 0;
  printf("CHECKPOINTS %lu", (unsigned long)checkpoint);
  for (DWORD started = GetTickCount(); GetTickCount() - started < WATCH_LIMIT_MS;) {
    Sleep(POLL_INTERVAL_MS);
    if (!QueryServiceStatus(service, &status)) return fail("QueryServiceStatus");
    const DWORD now = GetTickCount();
    /* Until the stop ends, time without a new checkpoint counts, the last stretch too. */
    if (now - since > longest) longest = now - since;
    if (status.dwCurrentState != SERVICE_STOP_PENDING) break;
    if (status.dwWaitHint > waitHint) waitHint = status.dwWaitHint;
    if (status.dwCheckPoint != checkpoint) {
      checkpoint = status.dwCheckPoint;
      since = now;
      printf(" %lu", (unsigned long)checkpoint);
    }
  }
  printf("\nLONGEST_WAIT %lu\nWAIT_HINT %lu\n%s\n", (unsigned long)longest,
         (unsigned long)waitHint, state_name(status.dwCurrentState));
  return 0;
}

/* The failure actions as read back from the service control manager, and whether they also
   apply when the service stops with an error of its own. */
static int print_recovery(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, NULL, 0, &needed);
  SERVICE_FAILURE_ACTIONSW* actions = malloc(needed > 0 ? needed : 1);
  if (actions == NULL) return 1;
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, (BYTE*)actions, needed,
                            &needed)) {
    free(actions);
    if (GetLastError() != ERROR_INVALID_LEVEL) return fail("QueryServiceConfig2W");
    printf("RECOVERY unsupported\n"); /* Wine's manager has no recovery actions */
    return 0;
  }
  printf("RECOVERY");
  for (DWORD i = 0; i < actions->cActions; ++i) {
    const SC_ACTION* action = &actions->lpsaActions[i];
    printf("%s%s %lu", i == 0 ? " " : ", ",
           action->Type == SC_ACTION_RESTART ? "restart" : "other", (unsigned long)action->Delay);
  }
  printf("; reset %lu", (unsigned long)actions->dwResetPeriod);
  free(actions);
  SERVICE_FAILURE_ACTIONS_FLAG flag = {FALSE};
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, (BYTE*)&flag,
                            sizeof flag, &needed)) {
    return fail("QueryServiceConfig2W");
  }
  printf("%s\n", flag.fFailureActionsOnNonCrashFailures ? "; on failed stop" : "");
  return 0;
}

/* How long Windows' shutdown waits for the service's stop. */
static int print_preshutdown(SC_HANDLE service) {
  SERVICE_PRESHUTDOWN_INFO info = {0};
  DWORD needed = 0;
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, (BYTE*)&info, sizeof info,
                            &needed)) {
    if (GetLastError() != ERROR_INVALID_LEVEL) return fail("QueryServiceConfig2W");
    printf("PRESHUTDOWN unsupported\n");
    return 0;
  }
  printf("PRESHUTDOWN %lu\n", (unsigned long)info.dwPreshutdownTimeout);
  return 0;
}

/* The service's SID type and the privileges its token keeps. */
static int print_privileges(SC_HANDLE service) {
  SERVICE_SID_INFO sid = {0};
  DWORD needed = 0;
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_SERVICE_SID_INFO, (BYTE*)&sid, sizeof sid,
                            &needed)) {
    if (GetLastError() != ERROR_INVALID_LEVEL) return fail("QueryServiceConfig2W");
    printf("PRIVILEGES unsupported\n");
    return 0;
  }
  printf("SID %s\n", sid.dwServiceSidType == SERVICE_SID_TYPE_UNRESTRICTED ? "unrestricted"
                     : sid.dwServiceSidType == SERVICE_SID_TYPE_NONE       ? "none"
                                                                          : "restricted");
  BYTE buffer[4096];
  if (!QueryServiceConfig2W(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, buffer,
                            sizeof buffer, &needed)) {
    return fail("QueryServiceConfig2W");
  }
  const wchar_t* privilege = ((SERVICE_REQUIRED_PRIVILEGES_INFOW*)buffer)->pmszRequiredPrivileges;
  printf("PRIVILEGES");
  for (int first = 1; privilege != NULL && *privilege != L'\0'; first = 0) {
    printf("%s%ls", first ? " " : ",", privilege);
    privilege += wcslen(privilege) + 1;
  }
  printf("\n");
  return 0;
}

static int print_config(SC_HANDLE service, const wchar_t* name) {
  DWORD needed = 0;
  QueryServiceConfigW(service, NULL, 0, &needed);
  QUERY_SERVICE_CONFIGW* config = malloc(needed);
  if (config == NULL) return 1;
  if (!QueryServiceConfigW(service, config, needed, &needed)) {
    free(config);
    return fail("QueryServiceConfigW");
  }
  print_line(config->lpDisplayName);
  printf("%s\n", start_type_name(config->dwStartType));
  free(config);

  wchar_t key[512];
  wchar_t description[1024];
  DWORD size = sizeof description;
  _snwprintf(key, sizeof key / sizeof key[0], L"SYSTEM\\CurrentControlSet\\Services\\%ls", name);
  LSTATUS read = RegGetValueW(HKEY_LOCAL_MACHINE, key, L"Description", RRF_RT_REG_SZ, NULL,
                              description, &size);
  if (read != ERROR_SUCCESS) {
    SetLastError((DWORD)read);
    return fail("RegGetValueW");
  }
  print_line(description);
  if (print_recovery(service) != 0) return 1;
  if (print_preshutdown(service) != 0) return 1;
  return print_privileges(service);
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr,
            "usage: kelvora-svcctl start|pause|continue|stop|query|accepts|watch-stop|exitcode|"
            "demand|config NAME\n");
    return 2;
  }
  const wchar_t* command = argv[1];
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
  if (manager == NULL) return fail("OpenSCManagerW");
  SC_HANDLE service = OpenServiceW(manager, argv[2], SERVICE_ALL_ACCESS);
  if (service == NULL) {
    CloseServiceHandle(manager);
    return fail("OpenServiceW");
  }
  int result = 0;
  SERVICE_STATUS status;
  if (wcscmp(command, L"start") == 0) {
    if (!StartServiceW(service, 0, NULL)) result = fail("StartServiceW");
  } else if (wcscmp(command, L"pause") == 0) {
    if (!ControlService(service, SERVICE_CONTROL_PAUSE, &status)) result = fail("pause");
  } else if (wcscmp(command, L"continue") == 0) {
    if (!ControlService(service, SERVICE_CONTROL_CONTINUE, &status)) result = fail("continue");
  } else if (wcscmp(command, L"stop") == 0) {
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) result = fail("stop");
  } else if (wcscmp(command, L"demand") == 0) {
    if (!ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE,
                              NULL, NULL, NULL, NULL, NULL, NULL, NULL)) {
      result = fail("ChangeServiceConfigW");
    }
  } else if (wcscmp(command, L"config") == 0) {
    result = print_config(service, argv[2]);
  } else if (wcscmp(command, L"accepts") == 0) {
    result = print_accepted(service);
  } else if (wcscmp(command, L"watch-stop") == 0) {
    result = watch_stop(service);
  } else if (wcscmp(command, L"exitcode") == 0) {
    if (!QueryServiceStatus(service, &status)) {
      result = fail("QueryServiceStatus");
    } else {
      printf("%lu %lu\n", (unsigned long)status.dwWin32ExitCode,
             (unsigned long)status.dwServiceSpecificExitCode);
    }
  } else if (wcscmp(command, L"query") != 0) {
    fprintf(stderr, "unknown command\n");
    result = 2;
  }
  if (result == 0 && (wcscmp(command, L"start") == 0 || wcscmp(command, L"pause") == 0 ||
                      wcscmp(command, L"continue") == 0 || wcscmp(command, L"stop") == 0 ||
                      wcscmp(command, L"query") == 0)) {
    result = wait_and_print(service);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}
