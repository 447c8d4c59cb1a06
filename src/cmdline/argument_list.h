// The numbered list of command-line texts, built once at start-up.
#pragma once

#include <stdint.h>

// Entry 0 is the executable's full path, entries 1 and up the words of the
// command line after the program-name word, quoting removed. Each entry is
// zero-terminated in storage of exactly its length plus one.
extern char **ArgumentList;
extern int32_t ArgumentCount;
// Slots the table has room for; equals ArgumentCount + 1 once built.
extern int32_t ArgumentSlotCount;
// Receives the executable's path; its last byte is never written.
extern char ModulePathBuffer[256];

// Splits GetCommandLineA() and fills the list. Called once, after the
// storage manager is ready.
void BuildArgumentList();

// Back to the state at load time, for tests; storage is not given back.
void ResetArgumentList();

// A fresh copy of entry `index`, owned by the caller; the empty text when
// there is no such entry.
char *GetArgument(int32_t index);

// Scans one word from `start`: returns where it ends and, when `word` is
// not null, stores the bytes that join it there. `*length` receives their
// count. Both passes of BuildArgumentList go through here.
const char *ScanWord(const char *start, char *word, int32_t *length);
