#include "frame/text_channel.h"

#include "frame/text.h"

uint16_t IoStatus;
TextChannel StdOutChannel;
TextChannel StdErrChannel;
uint32_t StandardHandles[kStandardHandleCount];

namespace {

const char kLineEnd[] = "\r\n";
constexpr uint32_t kLineEndLength = 2;

void Call(ChannelRoutine routine, TextChannel *channel) {
  uint16_t status = routine(channel);
  if (status != 0) IoStatus = status;
}

// The buffer is handed over only when more must go in than fits, so a
// write that fills it exactly leaves the hand-over to the next write,
// flush or close.
void Append(TextChannel *channel, const char *chars, uint32_t count) {
  while (IoStatus == 0 && count > kChannelBufferSize - channel->BufferCount) {
    uint32_t part = kChannelBufferSize - channel->BufferCount;
    for (uint32_t i = 0; i < part; ++i)
      channel->Buffer[channel->BufferCount + i] = chars[i];
    channel->BufferCount = kChannelBufferSize;
    chars += part;
    count -= part;
    Call(channel->WriteOut, channel);
  }
  if (IoStatus != 0) return;
  for (uint32_t i = 0; i < count; ++i)
    channel->Buffer[channel->BufferCount + i] = chars[i];
  channel->BufferCount += count;
}

bool ReadyForOutput(TextChannel *channel) {
  if (IoStatus != 0) return false;
  if (channel->Mode == kChannelOutput) return true;
  IoStatus = channel->Mode == kChannelInput ? kIoStatusOpenForInput
                                            : kIoStatusNotOpenForOutput;
  return false;
}

}  // namespace

void WriteText(TextChannel *channel, const char *text, int32_t width) {
  if (!ReadyForOutput(channel)) return;
  int32_t length = TextLength(text);
  static const char kSpace[] = " ";
  for (int32_t pad = width - length; pad > 0; --pad) Append(channel, kSpace, 1);
  Append(channel, text, static_cast<uint32_t>(length));
}

void EndLine(TextChannel *channel) {
  if (!ReadyForOutput(channel)) return;
  Append(channel, kLineEnd, kLineEndLength);
  if (IoStatus == 0 && channel->Flush) Call(channel->Flush, channel);
}

void CloseChannel(TextChannel *channel) {
  if (IoStatus != 0) return;
  if (channel->Mode != kChannelInput && channel->Mode != kChannelOutput &&
      channel->Mode != kChannelAppend) {
    IoStatus = kIoStatusNotOpenForOutput;
    return;
  }
  if (channel->Mode == kChannelOutput) Call(channel->WriteOut, channel);
  bool standard = false;
  for (uint32_t handle : StandardHandles)
    if (channel->Handle == handle) standard = true;
  if (!standard) Call(channel->Close, channel);
  channel->Mode = kChannelClosed;
  channel->BufferCount = 0;
}
