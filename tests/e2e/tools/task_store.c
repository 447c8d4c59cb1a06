/* Test client, run under Wine: hands a task file to the Task Scheduler
 * service through the service's own registration call and prints what the
 * service then gives back for it.
 *
 *   task_store.exe NAME FILE   FILE is UTF-16 with a byte-order mark; the
 *                              output is "stored PATH", then the XML read
 *                              back, or "error HRESULT".
 *
 * Wine's schtasks and Task Scheduler interfaces read a task through a parser
 * that skips Actions and Triggers, and store what it kept; its service
 * stores the XML it is given. This is the one way under Wine to read back a
 * registered task's Command, Arguments and triggers. */
#include <windows.h>
#include <rpc.h>
#include <stdio.h>

/* The generated stubs' cleanup runs in line: a failed call raises, and the
   filter below reports it and ends the process. */
#undef RpcTryFinally
#undef RpcFinally
#undef RpcEndFinally
#define RpcTryFinally
#define RpcFinally
#define RpcEndFinally
#define USE_COMPILER_EXCEPTIONS
#include "schrpc_c.c"

enum { kTaskCreate = 2, kLogonNone = 0 };

void *__RPC_USER MIDL_user_allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void __RPC_USER MIDL_user_free(void *p) { HeapFree(GetProcessHeap(), 0, p); }

static LONG WINAPI ReportRpcFault(EXCEPTION_POINTERS *info) {
  printf("error rpc %08lx\n", (unsigned long)info->ExceptionRecord->ExceptionCode);
  fflush(stdout);
  ExitProcess(3);
}

static void StartTaskService(void) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceW(manager, L"Schedule", SERVICE_START) : NULL;
  if (service) {
    StartServiceW(service, 0, NULL); /* already running is fine */
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
}

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: task_store NAME FILE\n");
    return 2;
  }
  WCHAR name[MAX_PATH], file[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, name, MAX_PATH);
  MultiByteToWideChar(CP_ACP, 0, argv[2], -1, file, MAX_PATH);
  HANDLE h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  DWORD size = h == INVALID_HANDLE_VALUE ? 0 : GetFileSize(h, NULL), got = 0;
  BYTE *data = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + sizeof(WCHAR));
  if (h == INVALID_HANDLE_VALUE || !ReadFile(h, data, size, &got, NULL) || got != size ||
      size < 2 || data[0] != 0xFF || data[1] != 0xFE) {
    fprintf(stderr, "task_store: cannot read UTF-16 text from %s\n", argv[2]);
    return 2;
  }
  CloseHandle(h);
  SetUnhandledExceptionFilter(ReportRpcFault);
  StartTaskService();
  RPC_WSTR binding = NULL;
  RpcStringBindingComposeW(NULL, (RPC_WSTR)L"ncalrpc", NULL, (RPC_WSTR)L"atsvc", NULL, &binding);
  RPC_STATUS status = RpcBindingFromStringBindingW(binding, &schrpc_handle);
  if (status != RPC_S_OK) {
    printf("error bind %08lx\n", (unsigned long)status);
    return 1;
  }
  WCHAR *actual = NULL, *xml = NULL;
  TASK_XML_ERROR_INFO *problem = NULL;
  ULONG languages = 0;
  HRESULT hr = SchRpcRegisterTask(name, (const WCHAR *)(data + 2), kTaskCreate, NULL, kLogonNone,
                                  0, NULL, &actual, &problem);
  if (FAILED(hr)) {
    printf("error %08lx\n", (unsigned long)hr);
    return 1;
  }
  printf("stored %ls\n", actual ? actual : L"");
  hr = SchRpcRetrieveTask(name, L"", &languages, &xml);
  if (FAILED(hr) || !xml) {
    printf("error %08lx\n", (unsigned long)hr);
    return 1;
  }
  printf("%ls\n", xml);
  return 0;
}
