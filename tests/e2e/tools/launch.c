/* Test launcher, run under Wine: starts a program with an exact command
 * line, presses OK on every message box it shows, and reports.
 *
 *   launch.exe [--fault KIND SLOT-RVA] CMDLINE-FILE APPLICATION [--leave-boxes]
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
 * --fault gives the program a fault from inside one platform call, with its
 * file unchanged: the import address table slot at SLOT-RVA (relative to
 * the image base) is pointed at a stand-in that faults in the way KIND names
 * (see kFaultKinds), as a system routine that keeps a frame would. The
 * stand-in first puts the real function back, so that it faults once and
 * the program's own later calls, its error box included, reach the
 * platform.
 *
 * Output, one record a line, byte strings in hex:
 *   case N
 *   stand-in FAULT-ADDRESS IMAGE-BASE   (with --fault; hexadecimal)
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
#include <string.h>

enum {
  kPollMilliseconds = 20,
  kMaxText = 65536,
  kMaxBoxes = 4096,
  kSettleMilliseconds = 60000,
  kMaxJobProcesses = 64,
  kStragglerExitCode = 3,
};

/* What a stand-in does in place of the platform function: code bytes and
 * the offset of the instruction that faults. The x87 cases fault only with
 * the program's own control word, which unmasks zero divide, invalid
 * operation and overflow. */
struct FaultKind {
  const char *name;
  BYTE code[16];
  int length;
  int faultsAt;
};
static const struct FaultKind kFaultKinds[] = {
    {"access", {0xA1, 0, 0, 0, 0}, 5, 0},                 /* mov eax, [0] */
    {"intdiv", {0x31, 0xC9, 0xF7, 0xF1}, 4, 2},            /* xor ecx, ecx; div ecx */
    {"illegal", {0x0F, 0x0B}, 2, 0},                       /* ud2 */
    {"privileged", {0xF4}, 1, 0},                          /* hlt */
    {"breakpoint", {0xCC}, 1, 0},                          /* int3 */
    {"stack", {0x50, 0xEB, 0xFD}, 3, 0},                   /* 1: push eax; jmp 1b */
    {"fpdiv", {0xD9, 0xE8, 0xD9, 0xEE, 0xDE, 0xF9, 0x9B}, 7, 6},    /* 1 / 0; fwait */
    {"fpinvalid", {0xD9, 0xEE, 0xD9, 0xEE, 0xDE, 0xF9, 0x9B}, 7, 6}, /* 0 / 0; fwait */
    /* push 20000; fild [esp]; fld1; fscale (2^20000); fwait */
    {"fpoverflow", {0x68, 0x20, 0x4E, 0, 0, 0xDB, 0x04, 0x24, 0xD9, 0xE8, 0xD9, 0xFD, 0x9B}, 13, 12},
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

struct Code {
  BYTE bytes[128];
  DWORD length;
};

static void Put(struct Code *code, const BYTE *bytes, int length) {
  memcpy(code->bytes + code->length, bytes, length);
  code->length += length;
}

static void PutByte(struct Code *code, BYTE byte) { Put(code, &byte, 1); }

static void PutWord(struct Code *code, DWORD word) {
  BYTE bytes[4] = {word & 0xFF, word >> 8 & 0xFF, word >> 16 & 0xFF, word >> 24};
  Put(code, bytes, 4);
}

/* Gives the suspended program a block of code: a start that runs after the
 * loader has filled the import slots, saves the real function and points
 * the slot at the stand-in, and goes on to the program's entry point; and
 * the stand-in, with an ordinary frame, so that the program's back-trace
 * starts at the platform call's return address. Reports where the fault
 * comes. */
static int GiveStandIn(const PROCESS_INFORMATION *process, const struct FaultKind *kind,
                       DWORD slotRva) {
  enum { kSavedAt = 0x100, kStandInAt = 0x40, kPebImageBase = 8 };
  CONTEXT context;
  context.ContextFlags = CONTEXT_INTEGER;
  DWORD imageBase = 0;
  /* A new process's first thread starts with the entry point in EAX and
   * the process environment block in EBX. */
  if (!GetThreadContext(process->hThread, &context) ||
      !ReadProcessMemory(process->hProcess, (void *)(context.Ebx + kPebImageBase),
                         &imageBase, sizeof imageBase, NULL))
    return 0;
  BYTE *block = VirtualAllocEx(process->hProcess, NULL, 4096, MEM_COMMIT | MEM_RESERVE,
                               PAGE_EXECUTE_READWRITE);
  if (!block) return 0;
  DWORD base = (DWORD)block, slot = imageBase + slotRva, saved = base + kSavedAt;
  struct Code code = {{0}, 0};
  PutByte(&code, 0xA1), PutWord(&code, slot);                  /* mov eax, [slot] */
  PutByte(&code, 0xA3), PutWord(&code, saved);                 /* mov [saved], eax */
  Put(&code, (const BYTE[]){0xC7, 0x05}, 2), PutWord(&code, slot);
  PutWord(&code, base + kStandInAt);                           /* mov [slot], stand-in */
  PutByte(&code, 0xE9), PutWord(&code, context.Eax - (base + code.length + 4)); /* jmp entry */
  code.length = kStandInAt;
  Put(&code, (const BYTE[]){0x55, 0x89, 0xE5}, 3);             /* push ebp; mov ebp, esp */
  PutByte(&code, 0xA1), PutWord(&code, saved);                 /* mov eax, [saved] */
  PutByte(&code, 0xA3), PutWord(&code, slot);                  /* mov [slot], eax */
  DWORD faultAddress = base + code.length + kind->faultsAt;
  Put(&code, kind->code, kind->length);
  /* Where the fault does not come, the real function runs after all. */
  Put(&code, (const BYTE[]){0x89, 0xEC, 0x5D, 0xFF, 0x25}, 5); /* mov esp, ebp; pop ebp; jmp */
  PutWord(&code, saved);                                       /* [saved] */
  context.Eax = base;
  if (!WriteProcessMemory(process->hProcess, block, code.bytes, code.length, NULL) ||
      !FlushInstructionCache(process->hProcess, block, code.length) ||
      !SetThreadContext(process->hThread, &context))
    return 0;
  printf("stand-in %08lx %08lx\n", faultAddress, imageBase);
  fflush(stdout);
  return 1;
}

static int RunOne(const char *application, char *commandLine,
                  const struct FaultKind *fault, DWORD slotRva) {
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
  if (!AssignProcessToJobObject(job, process.hProcess) ||
      (fault && !GiveStandIn(&process, fault, slotRva))) {
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
    if (!commandLine) {
      fprintf(stderr, "launch: no memory for case %d (%lu bytes)\n", index, length);
      free(list);
      return 2;
    }
    memcpy(commandLine, list + offset, length);
    commandLine[length] = 0;
    offset += length;
    printf("case %d\n", index);
    RunOne(application, commandLine, NULL, 0);
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
  const struct FaultKind *fault = NULL;
  DWORD slotRva = 0;
  if (argc >= 4 && strcmp(argv[1], "--fault") == 0) {
    for (size_t i = 0; i < sizeof kFaultKinds / sizeof kFaultKinds[0]; ++i)
      if (strcmp(argv[2], kFaultKinds[i].name) == 0) fault = &kFaultKinds[i];
    slotRva = strtoul(argv[3], NULL, 16);
    if (!fault || !slotRva) {
      fprintf(stderr, "launch: no fault kind %s, or no slot %s\n", argv[2], argv[3]);
      return 2;
    }
    argc -= 3;
    argv += 3;
  }
  if (argc < 3) {
    fprintf(stderr, "usage: launch [--fault KIND SLOT-RVA] CMDLINE-FILE APPLICATION [--leave-boxes]\n"
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
  return RunOne(argv[2], commandLine, fault, slotRva);
}
