#include "frame/error_box.h"

#include "platform/platform.h"

char ErrorText[kErrorTextCapacity + 1];
uint32_t ErrorTextLength;

const char kErrorBoxCaption[] = "Error";

namespace {

constexpr uint32_t kMbOk = 0;
// A report ends with an empty line: two line ends in a row leave three
// line-end characters at the end of the collected text.
constexpr uint32_t kBreakRun = 3;

const char kNoName[] = "";

bool IsLineEndCharacter(char c) { return c == '\r' || c == '\n'; }

void ShowErrorText() {
  MessageBoxA(nullptr, ErrorText, kErrorBoxCaption, kMbOk);
  ErrorTextLength = 0;
}

bool TextIsComplete() {
  if (ErrorTextLength == kErrorTextCapacity) return true;
  if (ErrorTextLength <= kBreakRun) return false;
  for (uint32_t i = ErrorTextLength - kBreakRun; i < ErrorTextLength; ++i)
    if (!IsLineEndCharacter(ErrorText[i])) return false;
  return true;
}

// Write-out and flush. What does not fit into the collection is dropped.
uint16_t WriteOutErrorBox(TextChannel *channel) {
  uint32_t count = channel->BufferCount;
  if (count > 0) {
    uint32_t room = kErrorTextCapacity - ErrorTextLength;
    if (count > room) count = room;
    for (uint32_t i = 0; i < count; ++i)
      ErrorText[ErrorTextLength + i] = channel->Buffer[i];
    ErrorTextLength += count;
    ErrorText[ErrorTextLength] = 0;
  }
  if (TextIsComplete()) ShowErrorText();
  channel->BufferCount = 0;
  return 0;
}

uint16_t CloseErrorBox(TextChannel *) {
  if (ErrorTextLength > 0) ShowErrorText();
  ErrorTextLength = 0;
  return 0;
}

}  // namespace

void BindErrorBoxChannel(TextChannel *channel) {
  channel->Handle = kNoHandle;
  channel->Mode = kChannelClosed;
  channel->Name = kNoName;
  channel->BufferCount = 0;
}

uint16_t OpenErrorBoxChannel(TextChannel *channel) {
  channel->WriteOut = WriteOutErrorBox;
  channel->Flush = WriteOutErrorBox;
  channel->Close = CloseErrorBox;
  channel->Mode = kChannelOutput;
  channel->BufferCount = 0;
  return 0;
}
