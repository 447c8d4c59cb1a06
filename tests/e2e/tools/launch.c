/* Test launcher, run under Wine: starts a program with an exact command
 * line, presses OK on every message box it shows, and reports.
 *
 *   launch.exe CMDLINE-FILE APPLICATION [--leave-boxes]
 *   launch.exe --batch LIST-FILE APPLICATION
 *
 * CMDLINE-FILE holds the command line bytes exactly as the child's
 * GetCommandLineA should return them (`wine prog args` would re-quote them).
 * A LIST-FILE holds several, each preceded by its length (4 bytes, little
 * endian); they run one after the other, each announced by "case N".
 * Starting Wine once for many runs halves the cost of each.
 *
 * A run is over only when every process the program started has ended too:
 * Wine's ExitWindowsEx without EWX_FORCE returns at once and leaves a
 * detached "wineboot --end-session" behind, which ends every process that
 * has a window, the next run's message box included. So each program runs
 * in a job of its own, and the next one starts once that job is empty.
 *
 * Output, one record a line, byte strings in hex:
 *   case N
 *   child PID TID
 *   box HEX-CAPTION HEX-TEXT ICON(0|1)
 *   exit CODE
 *   straggler PID HEX-NAME    (still running kSettleMilliseconds after the
 *                              program; the launcher then ends it)
 */
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <stdlib.h>

enum {
  kPollMilliseconds = 20,
  kMaxText = 65536,
  kMaxBoxes = 4096,
  kSettleMilliseconds = 60000,
  kMaxJobProcesses = 64,
  kStragglerExitCode = 3,
};

static DWORD ChildProcessId;
static HWND HandledBoxes[kMaxBoxes];
static int HandledBoxCount;
static int LeaveBoxes;

static void PrintHex(const char *text, int length) {
  putchar(' ');
  if (length == 0) putchar('-');
  for (int i = 0; i < length; ++i) printf("%02x", (unsigned char)text[i]);
}

struct BoxParts {
  HWND text;
  int hasIcon;
};

static BOOL CALLBACK FindBoxParts(HWND child, LPARAM parameter) {
  struct BoxParts *parts = (struct BoxParts *)parameter;
  char className[64];
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") != 0 || !IsWindowVisible(child))
    return TRUE;
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if ((style & SS_TYPEMASK) == SS_ICON) {
    if (SendMessageA(child, STM_GETICON, 0, 0)) parts->hasIcon = 1;
  } else if (!parts->text) {
    parts->text = child;
  }
  return TRUE;
}

static int AlreadyHandled(HWND window) {
  for (int i = 0; i < HandledBoxCount; ++i)
    if (HandledBoxes[i] == window) return 1;
  return 0;
}

static BOOL CALLBACK HandleBox(HWND window, LPARAM unused) {
  (void)unused;
  DWORD owner = 0;
  char className[64];
  GetWindowThreadProcessId(window, &owner);
  if (owner != ChildProcessId || !IsWindowVisible(window)) return TRUE;
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpA(className, "#32770") != 0 || AlreadyHandled(window)) return TRUE;

  static char caption[kMaxText], text[kMaxText];
  struct BoxParts parts = {0, 0};
  int captionLength = GetWindowTextA(window, caption, kMaxText);
  EnumChildWindows(window, FindBoxParts, (LPARAM)&parts);
  int textLength = parts.text ? GetWindowTextA(parts.text, text, kMaxText) : 0;
  printf("box");
  PrintHex(caption, captionLength);
  PrintHex(text, textLength);
  printf(" %d\n", parts.hasIcon);
  fflush(stdout);
  if (HandledBoxCount < kMaxBoxes) HandledBoxes[HandledBoxCount++] = window;
  if (!LeaveBoxes) PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

static char *ReadWholeFile(const char *path, long *size) {
  FILE *file = fopen(path, "rb");
  if (!file) return NULL;
  fseek(file, 0, SEEK_END);
  *size = ftell(file);
  fseek(file, 0, SEEK_SET);
  char *bytes = malloc(*size + 1);
  if (bytes && fread(bytes, 1, *size, file) != (size_t)*size) *size = 0;
  if (bytes) bytes[*size] = 0;
  fclose(file);
  return bytes;
}

static DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                 &accounting, sizeof accounting, NULL))
    return 0;
  return accounting.ActiveProcesses;
}

static void PrintProcessName(DWORD processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {sizeof entry};
  int length = 0;
  const char *name = "";
  if (snapshot != INVALID_HANDLE_VALUE) {
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
      if (entry.th32ProcessID == processId) {
        name = entry.szExeFile;
        length = lstrlenA(name);
        break;
      }
    }
  }
  PrintHex(name, length);
  if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
}

/* Waits until every process of the job has ended; names and ends those
 * that outlive the wait. Returns whether the job emptied by itself. */
static int SettleJob(HANDLE job) {
  DWORD started = GetTickCount();
  while (ActiveProcesses(job) > 0 && GetTickCount() - started < kSettleMilliseconds)
    Sleep(kPollMilliseconds);
  if (ActiveProcesses(job) == 0) return 1;
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[kMaxJobProcesses];
  } ids;
  ids.list.NumberOfAssignedProcesses = kMaxJobProcesses;
  if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids,
                                sizeof ids, NULL)) {
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
      DWORD id = (DWORD)ids.list.ProcessIdList[i];
      printf("straggler %lu", id);
      PrintProcessName(id);
      putchar('\n');
    }
  } else {
    printf("straggler 0 -\n");
  }
  fflush(stdout);
  TerminateJobObject(job, kStragglerExitCode);
  return 0;
}

/* Reports the last error of a failed start; call it before anything that
 * may change that error. */
static int LaunchError(void) {
  printf("launch-error %lu\n", GetLastError());
  fflush(stdout);
  return 2;
}

static int RunOne(const char *application, char *commandLine) {
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  HANDLE job = CreateJobObjectA(NULL, NULL);
  if (!job) return LaunchError();
  /* Suspended until it is in the job, so that nothing it starts escapes. */
  if (!CreateProcessA(application, commandLine, NULL, NULL, FALSE,
                      CREATE_SUSPENDED, NULL, NULL, &startup, &process)) {
    int status = LaunchError();
    CloseHandle(job);
    return status;
  }
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    int status = LaunchError();
    TerminateProcess(process.hProcess, kStragglerExitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return status;
  }
  ResumeThread(process.hThread);
  ChildProcessId = process.dwProcessId;
  HandledBoxCount = 0;
  printf("child %lu %lu\n", process.dwProcessId, process.dwThreadId);
  fflush(stdout);
  while (WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_TIMEOUT)
    EnumWindows(HandleBox, 0);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  printf("exit %lu\n", exitCode);
  fflush(stdout);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  int settled = SettleJob(job);
  CloseHandle(job);
  return settled ? 0 : kStragglerExitCode;
}

static int RunBatch(const char *listPath, const char *application) {
  long size = 0;
  char *list = ReadWholeFile(listPath, &size);
  if (!list) {
    fprintf(stderr, "launch: cannot read %s\n", listPath);
    return 2;
  }
  long offset = 0;
  for (int index = 0; offset + 4 <= size; ++index) {
    unsigned long length = (unsigned char)list[offset] |
                           (unsigned char)list[offset + 1] << 8 |
                           (unsigned char)list[offset + 2] << 16 |
                           (unsigned long)(unsigned char)list[offset + 3] << 24;
    offset += 4;
    if (length > (unsigned long)(size - offset)) break;
    char *commandLine = malloc(length + 1);
    memcpy(commandLine, list + offset, length);
    commandLine[length] = 0;
    offset += length;
    printf("case %d\n", index);
    RunOne(application, commandLine);
    free(commandLine);
  }
  return 0;
}

int main(int argc, char **argv) {
  /* The desktop process starts with the first window call of the session;
   * started here, it belongs to the launcher and not to a program's job. */
  GetDesktopWindow();
  if (argc == 4 && strcmp(argv[1], "--batch") == 0)
    return RunBatch(argv[2], argv[3]);
  if (argc < 3) {
    fprintf(stderr, "usage: launch CMDLINE-FILE APPLICATION [--leave-boxes]\n"
                    "       launch --batch LIST-FILE APPLICATION\n");
    return 2;
  }
  LeaveBoxes = argc > 3 && strcmp(argv[3], "--leave-boxes") == 0;
  long size = 0;
  char *commandLine = ReadWholeFile(argv[1], &size);
  if (!commandLine) {
    fprintf(stderr, "launch: cannot read %s\n", argv[1]);
    return 2;
  }
  return RunOne(argv[2], commandLine);
}
