/* Test client, run under Wine: reads a registered task back through
 * Windows' own Task Scheduler interfaces, as an administrator's tools do.
 *
 *   task_client.exe NAME   prints one "key value" line per setting of the
 *                          task NAME in the root folder; the value is
 *                          "error HRESULT" where the interface refuses.
 */
#define COBJMACROS
#include <windows.h>
#include <initguid.h>
#include <taskschd.h>
#include <stdio.h>

static void PrintText(const char *key, HRESULT hr, BSTR value) {
  if (FAILED(hr)) printf("%s error %08lx\n", key, (unsigned long)hr);
  else printf("%s %ls\n", key, value ? value : L"");
  SysFreeString(value);
}

static void PrintNumber(const char *key, HRESULT hr, long value) {
  if (FAILED(hr)) printf("%s error %08lx\n", key, (unsigned long)hr);
  else printf("%s %ld\n", key, value);
}

static void PrintPrincipal(ITaskDefinition *definition) {
  IPrincipal *principal = NULL;
  HRESULT hr = ITaskDefinition_get_Principal(definition, &principal);
  if (FAILED(hr)) {
    PrintNumber("principal", hr, 0);
    return;
  }
  BSTR text = NULL;
  TASK_RUNLEVEL_TYPE level = 0;
  hr = IPrincipal_get_GroupId(principal, &text);
  PrintText("principal.group", hr, text);
  hr = IPrincipal_get_RunLevel(principal, &level);
  PrintNumber("principal.runlevel", hr, level);
  IPrincipal_Release(principal);
}

static void PrintSettings(ITaskDefinition *definition) {
  ITaskSettings *settings = NULL;
  HRESULT hr = ITaskDefinition_get_Settings(definition, &settings);
  if (FAILED(hr)) {
    PrintNumber("settings", hr, 0);
    return;
  }
  VARIANT_BOOL flag = 0;
  BSTR text = NULL;
  hr = ITaskSettings_get_DisallowStartIfOnBatteries(settings, &flag);
  PrintNumber("settings.disallow-start-on-batteries", hr, flag);
  hr = ITaskSettings_get_StopIfGoingOnBatteries(settings, &flag);
  PrintNumber("settings.stop-going-on-batteries", hr, flag);
  hr = ITaskSettings_get_ExecutionTimeLimit(settings, &text);
  PrintText("settings.time-limit", hr, text);
  hr = ITaskSettings_get_AllowDemandStart(settings, &flag);
  PrintNumber("settings.start-on-demand", hr, flag);
  hr = ITaskSettings_get_Enabled(settings, &flag);
  PrintNumber("settings.enabled", hr, flag);
  ITaskSettings_Release(settings);
}

static void PrintActions(ITaskDefinition *definition) {
  IActionCollection *actions = NULL;
  ITriggerCollection *triggers = NULL;
  long count = 0;
  HRESULT hr = ITaskDefinition_get_Triggers(definition, &triggers);
  if (SUCCEEDED(hr)) {
    hr = ITriggerCollection_get_Count(triggers, &count);
    ITriggerCollection_Release(triggers);
  }
  PrintNumber("triggers", hr, count);
  hr = ITaskDefinition_get_Actions(definition, &actions);
  if (SUCCEEDED(hr)) hr = IActionCollection_get_Count(actions, &count);
  PrintNumber("actions", hr, count);
  if (FAILED(hr)) return;
  for (long i = 1; i <= count; ++i) {
    IAction *action = NULL;
    IExecAction *exec = NULL;
    TASK_ACTION_TYPE type = 0;
    BSTR text = NULL;
    if (FAILED(IActionCollection_get_Item(actions, i, &action))) continue;
    hr = IAction_get_Type(action, &type);
    PrintNumber("action.type", hr, type);
    if (SUCCEEDED(IAction_QueryInterface(action, &IID_IExecAction, (void **)&exec))) {
      hr = IExecAction_get_Path(exec, &text);
      PrintText("action.path", hr, text);
      text = NULL; /* freed */
      hr = IExecAction_get_Arguments(exec, &text);
      PrintText("action.arguments", hr, text);
      IExecAction_Release(exec);
    }
    IAction_Release(action);
  }
  IActionCollection_Release(actions);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: task_client NAME\n");
    return 2;
  }
  WCHAR name[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, name, MAX_PATH);
  CoInitializeEx(NULL, COINIT_MULTITHREADED);
  ITaskService *service = NULL;
  ITaskFolder *root = NULL;
  IRegisteredTask *task = NULL;
  ITaskDefinition *definition = NULL;
  VARIANT none;
  VariantInit(&none);
  BSTR rootPath = SysAllocString(L"\\");
  BSTR taskName = SysAllocString(name);
  HRESULT hr = CoCreateInstance(&CLSID_TaskScheduler, NULL, CLSCTX_INPROC_SERVER,
                                &IID_ITaskService, (void **)&service);
  if (SUCCEEDED(hr)) hr = ITaskService_Connect(service, none, none, none, none);
  if (SUCCEEDED(hr)) hr = ITaskService_GetFolder(service, rootPath, &root);
  if (SUCCEEDED(hr)) hr = ITaskFolder_GetTask(root, taskName, &task);
  if (SUCCEEDED(hr)) hr = IRegisteredTask_get_Definition(task, &definition);
  PrintNumber("registered", hr, SUCCEEDED(hr));
  if (FAILED(hr)) return 1;
  PrintPrincipal(definition);
  PrintSettings(definition);
  PrintActions(definition);
  return 0;
}
