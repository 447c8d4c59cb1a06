// The argument list for any command line of bytes 1 to 255, up to 1 MiB:
// the words the reference model finds, each in storage of exactly its
// length plus one, measuring and storing passes that agree, and words that
// survive being quoted back and split again.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cmdline/argument_list.h"
#include "fake_platform.h"
#include "fuzz_check.h"
#include "fake_storage.h"
#include "reference_model.h"

namespace {

constexpr size_t kLongestCommandLine = 1 << 20;
constexpr size_t kShownBytes = 300;
constexpr int32_t kTableStep = 8;
const char kModulePath[] = "C:\\Tools\\Corvane\\Corvane.exe";

std::string Shown(const std::string &commandLine) {
  std::string shown = "command line \"" + Printable(commandLine.substr(0, kShownBytes)) + "\"";
  if (commandLine.size() > kShownBytes)
    shown += "... (" + std::to_string(commandLine.size()) + " bytes)";
  return shown;
}

bool IsSeparator(char c) { return c != 0 && static_cast<unsigned char>(c) <= ' '; }

// The table sizes in bytes that growing in steps of 8 and trimming to
// count + 1 slots asks for.
std::vector<int32_t> ExpectedTableSizes(int32_t count) {
  std::vector<int32_t> sizes;
  const int32_t slotBytes = static_cast<int32_t>(sizeof(char *));
  int32_t slots = 0;
  for (int32_t entry = 0; entry < std::max(count, int32_t{1}); ++entry) {
    if (slots <= entry) {
      slots = (entry / kTableStep + 1) * kTableStep;
      sizes.push_back(slots * slotBytes);
    }
  }
  sizes.push_back((count + 1) * slotBytes);
  return sizes;
}

// Both scanner passes over each word, straight through ScanWord, with the
// line and each word in storage of their exact size.
void CheckScannerPasses(const std::string &commandLine,
                        const std::vector<std::string> &words) {
  char *line = static_cast<char *>(malloc(commandLine.size() + 1));
  memcpy(line, commandLine.c_str(), commandLine.size() + 1);
  const char *p = line;
  for (size_t k = 0;; ++k) {
    while (IsSeparator(*p)) ++p;
    if (*p == 0) {
      FUZZ_CHECK(k == words.size(), Shown(commandLine) + ": " + std::to_string(k) +
                                        " words scanned, model has " +
                                        std::to_string(words.size()));
      break;
    }
    FUZZ_CHECK(k < words.size(), Shown(commandLine) + ": more words than the model");
    int32_t measured = -1;
    const char *measuredEnd = ScanWord(p, nullptr, &measured);
    FUZZ_CHECK(measured >= 0 && measuredEnd > p,
               Shown(commandLine) + ": word " + std::to_string(k) + " measured " +
                   std::to_string(measured));
    char *word = static_cast<char *>(malloc(static_cast<size_t>(measured)));
    int32_t stored = -1;
    const char *storedEnd = ScanWord(p, word, &stored);
    FUZZ_CHECK(storedEnd == measuredEnd && stored == measured,
               Shown(commandLine) + ": word " + std::to_string(k) + " measured " +
                   std::to_string(measured) + " bytes, stored " + std::to_string(stored));
    FUZZ_CHECK(std::string(word, static_cast<size_t>(stored)) == words[k],
               Shown(commandLine) + ": word " + std::to_string(k) + " is \"" +
                   Printable(std::string(word, static_cast<size_t>(stored))) +
                   "\", model says \"" + Printable(words[k]) + "\"");
    free(word);
    p = measuredEnd;
  }
  free(line);
}

// Builds the list for `commandLine`, checks it against the words the model
// finds there and returns entries 1 and up.
std::vector<std::string> BuildAndCheck(const std::string &commandLine,
                                       const std::vector<std::string> &words) {
  ResetFakePlatform();
  ResetFakeStorage();
  ResetArgumentList();
  FakePlatform.modulePath = kModulePath;
  FakePlatform.commandLine = commandLine;
  BuildArgumentList();

  const int32_t count = static_cast<int32_t>(words.size());
  FUZZ_CHECK(ArgumentCount == count, Shown(commandLine) + ": ArgumentCount " +
                                         std::to_string(ArgumentCount) + ", model " +
                                         std::to_string(count));
  FUZZ_CHECK(ArgumentSlotCount == count + 1,
             Shown(commandLine) + ": " + std::to_string(ArgumentSlotCount) + " slots");
  FUZZ_CHECK(ResizeSizes() == ExpectedTableSizes(count),
             Shown(commandLine) + ": the table grew in other steps");

  // Entry 0 is stored even when the line holds no word.
  const int32_t stored = std::max(count, int32_t{1});
  const std::vector<int32_t> allocations = AllocationSizes();
  FUZZ_CHECK(allocations.size() == static_cast<size_t>(stored),
             Shown(commandLine) + ": " + std::to_string(allocations.size()) +
                 " entries allocated");
  FUZZ_CHECK(strcmp(ArgumentList[0], kModulePath) == 0, Shown(commandLine) + ": entry 0");
  std::vector<std::string> entries;
  for (int32_t i = 0; i < stored; ++i) {
    const std::string entry = ArgumentList[i];
    // A zero byte inside would end the text before its storage does.
    FUZZ_CHECK(allocations[i] == static_cast<int32_t>(entry.size()) + 1,
               Shown(commandLine) + ": entry " + std::to_string(i) + " has " +
                   std::to_string(entry.size()) + " bytes in storage of " +
                   std::to_string(allocations[i]));
    if (i == 0) continue;
    FUZZ_CHECK(entry == words[i], Shown(commandLine) + ": entry " + std::to_string(i) +
                                      " is \"" + Printable(entry) + "\", model says \"" +
                                      Printable(words[i]) + "\"");
    entries.push_back(entry);
  }

  for (int32_t index : {-1, 0, 1, count - 1, count, count + 1}) {
    const std::string expected =
        index >= 0 && index < count ? std::string(ArgumentList[index]) : std::string();
    FUZZ_CHECK(GetArgument(index) == expected,
               Shown(commandLine) + ": GetArgument(" + std::to_string(index) + ")");
  }
  return entries;
}

// The words quoted back with the scanner's own rules and joined again.
std::string Requote(const std::string &programName, const std::vector<std::string> &entries,
                    char primaryQuote, const std::string &separator) {
  std::string line = ReferenceQuoteWord(programName, primaryQuote);
  for (const std::string &entry : entries)
    line += separator + ReferenceQuoteWord(entry, primaryQuote);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > kLongestCommandLine) return 0;
  std::string commandLine;
  commandLine.reserve(size);
  for (size_t i = 0; i < size; ++i)
    if (data[i] != 0) commandLine += static_cast<char>(data[i]);

  const std::vector<std::string> words = ReferenceSplitWords(commandLine);
  CheckScannerPasses(commandLine, words);
  const std::vector<std::string> entries = BuildAndCheck(commandLine, words);

  const struct {
    char primaryQuote;
    const char *separator;
  } kStyles[] = {{'"', " "}, {'\'', "\t\r\n"}};
  for (const auto &style : kStyles) {
    if (words.empty()) break;
    const std::string requoted = Requote(words[0], entries, style.primaryQuote, style.separator);
    FUZZ_CHECK(ReferenceSplitWords(requoted) == words,
               Shown(commandLine) + ": the model splits its quoted form " +
                   Shown(requoted) + " differently");
    FUZZ_CHECK(BuildAndCheck(requoted, words) == entries,
               Shown(commandLine) + ": quoted back as " + Shown(requoted) +
                   " it gives other words");
  }
  // Nothing stays allocated once the input is done, so the leak check at
  // exit sees the program's blocks as freed.
  ResetFakeStorage();
  return 0;
}
