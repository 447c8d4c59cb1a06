/* Times whole processes from inside Wine, in one Wine process, so that no
   start of Wine itself is in the figures.

     timer.exe GAP-MS ORDER COMMAND-LINE...

   ORDER is a string of digits, each the index of a COMMAND-LINE to run, in
   that order. Before each start the timer waits GAP-MS milliseconds, so that
   every start finds the same quiet machine. Prints one line a run:
     run INDEX MICROSECONDS EXIT-CODE
   the time from CreateProcessA to the end of the wait for the process. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: timer GAP-MS ORDER COMMAND-LINE...\n");
    return 2;
  }
  DWORD gap = strtoul(argv[1], NULL, 10);
  const char *order = argv[2];
  int programs = argc - 3;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);

  for (const char *p = order; *p; ++p) {
    int index = *p - '0';
    if (index < 0 || index >= programs) {
      fprintf(stderr, "timer: no command line %c\n", *p);
      return 2;
    }
    Sleep(gap);
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(NULL, argv[3 + index], NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                        &process)) {
      printf("error CreateProcessA %lu\n", GetLastError());
      return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("run %d %lld %lu\n", index,
           (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart, code);
    fflush(stdout);
  }
  return 0;
}
