// The reference model (tests/support/reference_model.cpp) as a program of
// the build machine, which the Wine tests ask what a command line must do.
//
//   corvane-predict < LIST-FILE
//
// The list holds command lines, each preceded by its length (4 bytes,
// little endian), as the launcher's --batch takes them. For each it prints
// one line: "help", or the one call after the privilege calls, e.g.
// "ExitWindowsEx(13, 0)".
#include <stdio.h>

#include <string>

#include "reference_model.h"

int main() {
  unsigned char size[4];
  while (fread(size, 1, sizeof size, stdin) == sizeof size) {
    size_t length = size[0] | size[1] << 8 | size[2] << 16 | size_t{size[3]} << 24;
    std::string commandLine(length, '\0');
    if (fread(&commandLine[0], 1, length, stdin) != length) {
      fprintf(stderr, "corvane-predict: the list ends inside a command line\n");
      return 2;
    }
    const ReferenceDispatch predicted = ReferencePredictDispatch(commandLine);
    puts(predicted.help ? "help" : predicted.action.c_str());
  }
  return 0;
}
