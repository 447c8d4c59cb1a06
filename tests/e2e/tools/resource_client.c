/* Test client, run under Wine: does to an image what resource editors and
 * inventory tools do, through Windows' own resource and version APIs.
 *
 *   resource_client.exe add IMAGE     adds RCDATA 700 (US English)
 *   resource_client.exe version IMAGE prints the version resource:
 *     fixed FILE-MS FILE-LS PRODUCT-MS PRODUCT-LS FLAGS OS TYPE  (hex)
 *     translation LANGUAGE CODEPAGE                              (hex)
 *     string NAME HEX-VALUE        (one per name; "-" when there is none)
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kAddedResourceId = 700 };

static const char kAddedData[] = "added by resource_client";
static const char *const kStringNames[] = {
    "FileDescription", "FileVersion", "ProductName", "ProductVersion",
    "LegalCopyright", "OriginalFilename"};

static int AddResource(const char *image) {
  HANDLE update = BeginUpdateResourceA(image, FALSE);
  if (!update) {
    printf("error BeginUpdateResourceA %lu\n", GetLastError());
    return 1;
  }
  if (!UpdateResourceA(update, RT_RCDATA, MAKEINTRESOURCEA(kAddedResourceId),
                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                       (void *)kAddedData, sizeof kAddedData)) {
    printf("error UpdateResourceA %lu\n", GetLastError());
    EndUpdateResourceA(update, TRUE);
    return 1;
  }
  if (!EndUpdateResourceA(update, FALSE)) {
    printf("error EndUpdateResourceA %lu\n", GetLastError());
    return 1;
  }
  printf("added\n");
  return 0;
}

static void PrintHex(const char *text, UINT length) {
  if (length == 0) printf(" -");
  else putchar(' ');
  for (UINT i = 0; i < length; ++i) printf("%02x", (unsigned char)text[i]);
  putchar('\n');
}

static int PrintVersion(const char *image) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(image, &ignored);
  char *info = size ? malloc(size) : NULL;
  if (!info || !GetFileVersionInfoA(image, 0, size, info)) {
    printf("error GetFileVersionInfoA %lu\n", GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO *fixed = NULL;
  UINT length = 0;
  if (!VerQueryValueA(info, "\\", (void **)&fixed, &length) || length < sizeof *fixed) {
    printf("error VerQueryValueA fixed\n");
    return 1;
  }
  printf("fixed %lx %lx %lx %lx %lx %lx %lx\n", fixed->dwFileVersionMS,
         fixed->dwFileVersionLS, fixed->dwProductVersionMS,
         fixed->dwProductVersionLS, fixed->dwFileFlags, fixed->dwFileOS,
         fixed->dwFileType);
  WORD *translation = NULL;
  if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &length) ||
      length < 2 * sizeof(WORD)) {
    printf("error VerQueryValueA translation\n");
    return 1;
  }
  printf("translation %x %x\n", translation[0], translation[1]);
  for (size_t i = 0; i < sizeof kStringNames / sizeof kStringNames[0]; ++i) {
    char query[128];
    char *value = NULL;
    wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1],
              kStringNames[i]);
    printf("string %s", kStringNames[i]);
    if (!VerQueryValueA(info, query, (void **)&value, &length)) length = 0;
    /* The length counts the terminating zero. */
    PrintHex(value, length && value[length - 1] == 0 ? length - 1 : length);
  }
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "add") == 0) return AddResource(argv[2]);
  if (argc == 3 && strcmp(argv[1], "version") == 0) return PrintVersion(argv[2]);
  fprintf(stderr, "usage: resource_client add IMAGE | version IMAGE\n");
  return 2;
}
