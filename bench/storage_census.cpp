// Counts the storage blocks and bytes that one run asks for: the command
// line's and the dispatch's own code, built for i686 like the image (the
// argument table's slots are pointers), against the tests' recording
// storage manager and fake platform, with the module path and command line
// given. Start-up and exit allocate nothing themselves. Every
// AllocateStorage and ResizeStorage request counts as one block of the size
// it asks for.
//
//   corvane-storage-census.exe MODULE-PATH COMMAND-LINE
//
// Prints what it was given, then "blocks N bytes M".
#include <stdio.h>

#include "cmdline/argument_list.h"
#include "dispatch/dispatch.h"
#include "fake_platform.h"
#include "fake_storage.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s MODULE-PATH COMMAND-LINE\n", argv[0]);
    return 2;
  }
  FakePlatform.modulePath = argv[1];
  FakePlatform.commandLine = argv[2];
  BuildArgumentList();
  RunDispatch();
  long long bytes = 0;
  for (const StorageRequest &request : StorageRequests) bytes += request.newBytes;
  printf("module %s\ncommand line %s\nblocks %u bytes %lld\n", argv[1], argv[2],
         static_cast<unsigned>(StorageRequests.size()), bytes);
  return 0;
}
