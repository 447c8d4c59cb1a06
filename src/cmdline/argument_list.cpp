#include "cmdline/argument_list.h"

#include "frame/storage.h"
#include "frame/text.h"
#include "platform/platform.h"

char **ArgumentList;
int32_t ArgumentCount;
int32_t ArgumentSlotCount;
char ModulePathBuffer[256];

namespace {

constexpr uint32_t kModulePathCapacity = sizeof ModulePathBuffer - 1;
constexpr int32_t kSlotStep = 8;
constexpr char kOutsideQuotes = ' ';

// Bytes 1 to 32: the control characters and the blank.
bool IsSeparator(char c) {
  return c != 0 && static_cast<unsigned char>(c) <= ' ';
}

char *CopyText(const char *text, int32_t length) {
  char *copy = static_cast<char *>(AllocateStorage(length + 1));
  for (int32_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;
  return copy;
}

void StoreEntry(int32_t index, char *entry) {
  if (ArgumentSlotCount <= index) {
    int32_t slots = (index + kSlotStep) / kSlotStep * kSlotStep;
    ArgumentList = static_cast<char **>(
        ResizeStorage(ArgumentList, ArgumentSlotCount * int32_t(sizeof(char *)),
                      slots * int32_t(sizeof(char *))));
    ArgumentSlotCount = slots;
  }
  ArgumentList[index] = entry;
}

}  // namespace

const char *ScanWord(const char *start, char *word, int32_t *length) {
  char quote = kOutsideQuotes;
  int32_t count = 0;
  const char *p = start;
  for (; *p != 0; ++p) {
    char c = *p;
    if (quote == kOutsideQuotes) {
      if (IsSeparator(c)) break;
      if (c == '"' || c == '\'') {
        quote = c;
        continue;
      }
    } else if (c == quote) {
      quote = kOutsideQuotes;
      continue;
    }
    if (word) word[count] = c;
    ++count;
  }
  *length = count;
  return p;
}

void BuildArgumentList() {
  int32_t words = 0;
  GetModuleFileNameA(nullptr, ModulePathBuffer, kModulePathCapacity);
  StoreEntry(0, CopyText(ModulePathBuffer, TextLength(ModulePathBuffer)));

  const char *p = GetCommandLineA();
  while (*p != 0) {
    while (IsSeparator(*p)) ++p;
    if (*p == 0) break;
    int32_t length;
    const char *end = ScanWord(p, nullptr, &length);
    if (words != 0) {
      char *entry = static_cast<char *>(AllocateStorage(length + 1));
      ScanWord(p, entry, &length);
      entry[length] = 0;
      StoreEntry(words, entry);
    }
    ++words;
    p = end;
  }

  ArgumentCount = words;
  ArgumentList = static_cast<char **>(
      ResizeStorage(ArgumentList, ArgumentSlotCount * int32_t(sizeof(char *)),
                    (words + 1) * int32_t(sizeof(char *))));
  ArgumentSlotCount = words + 1;
}

void ResetArgumentList() {
  ArgumentList = nullptr;
  ArgumentCount = 0;
  ArgumentSlotCount = 0;
  for (char &c : ModulePathBuffer) c = 0;
}

char *GetArgument(int32_t index) {
  if (index < 0 || index >= ArgumentCount) return CopyText("", 0);
  const char *entry = ArgumentList[index];
  return CopyText(entry, TextLength(entry));
}
