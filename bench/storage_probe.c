/* Runs a program under the debug interface and reads two 32-bit values from
   its memory at the moment it calls ExitProcess, after all its work.

     storage_probe.exe PROGRAM COMMAND-LINE EXIT-SLOT-RVA RVA1 RVA2

   EXIT-SLOT-RVA is the import address table slot of kernel32!ExitProcess;
   RVA1 and RVA2 are the values to read, all relative to the image base.
   Prints "values V1 V2" and "exit CODE", the code the program asked for.
   Once a process has ended its memory can no longer be read, hence the
   breakpoint. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const BYTE kBreakpointOpcode = 0xCC;

static BOOL ReadWord(HANDLE process, BYTE *address, DWORD *value) {
  SIZE_T done = 0;
  return ReadProcessMemory(process, address, value, sizeof *value, &done) &&
         done == sizeof *value;
}

int main(int argc, char **argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: storage_probe PROGRAM COMMAND-LINE EXIT-SLOT-RVA RVA1 RVA2\n");
    return 2;
  }
  DWORD exitSlot = strtoul(argv[3], NULL, 16);
  DWORD valueRva[2] = {strtoul(argv[4], NULL, 16), strtoul(argv[5], NULL, 16)};

  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessA(argv[1], argv[2], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      NULL, NULL, &startup, &process)) {
    printf("error CreateProcessA %lu\n", GetLastError());
    return 1;
  }

  BYTE *base = NULL;
  BYTE *exitProcess = NULL;
  BOOL armed = FALSE, read = FALSE;
  for (;;) {
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, INFINITE)) {
      printf("error WaitForDebugEvent %lu\n", GetLastError());
      return 1;
    }
    DWORD status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        base = event.u.CreateProcessInfo.lpBaseOfImage;
        CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXCEPTION_DEBUG_EVENT: {
        EXCEPTION_RECORD *record = &event.u.Exception.ExceptionRecord;
        if (record->ExceptionCode != EXCEPTION_BREAKPOINT) {
          status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (!armed) {
          /* The loader's breakpoint: the imports are bound by now. */
          DWORD target;
          SIZE_T done;
          armed = ReadWord(process.hProcess, base + exitSlot, &target) &&
                  WriteProcessMemory(process.hProcess, (BYTE *)target, &kBreakpointOpcode, 1, &done);
          if (!armed) {
            printf("error arming the breakpoint %lu\n", GetLastError());
            TerminateProcess(process.hProcess, 1);
          }
          exitProcess = (BYTE *)target;
        } else if (!read && ((BYTE *)record->ExceptionAddress == exitProcess ||
                             (BYTE *)record->ExceptionAddress == exitProcess + 1)) {
          /* Windows reports the int3's address, Wine the one after it. */
          DWORD values[2];
          read = ReadWord(process.hProcess, base + valueRva[0], &values[0]) &&
                 ReadWord(process.hProcess, base + valueRva[1], &values[1]);
          if (read)
            printf("values %lu %lu\n", values[0], values[1]);
          else
            printf("error ReadProcessMemory %lu\n", GetLastError());
          /* End the process here, with the code it passed to ExitProcess.
             Resuming it would need the breakpoint taken out again, which
             an emulator's translated-code cache may not notice. */
          HANDLE thread = OpenThread(THREAD_GET_CONTEXT, FALSE, event.dwThreadId);
          CONTEXT context = {.ContextFlags = CONTEXT_CONTROL};
          DWORD exitCode = 1;
          if (!thread || !GetThreadContext(thread, &context) ||
              !ReadWord(process.hProcess, (BYTE *)context.Esp + sizeof(DWORD), &exitCode))
            printf("error reading the exit code %lu\n", GetLastError());
          if (thread) CloseHandle(thread);
          TerminateProcess(process.hProcess, exitCode);
        }
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        printf("exit %lu\n", event.u.ExitProcess.dwExitCode);
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        return read ? 0 : 1;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
}
