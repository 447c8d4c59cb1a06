// Buffered text sinks. Failures are reported only through IoStatus; while
// it is non-zero every channel operation does nothing.
#pragma once

#include <stdint.h>

constexpr uint32_t kNoHandle = 0xFFFFFFFF;
constexpr uint32_t kChannelBufferSize = 256;

constexpr uint16_t kIoStatusNotOpenForOutput = 103;
constexpr uint16_t kIoStatusOpenForInput = 105;

enum ChannelMode : uint8_t {
  kChannelClosed,
  kChannelInput,
  kChannelOutput,
  kChannelAppend,
};

struct TextChannel;
// Returns 0, or the IoStatus value to fail with.
typedef uint16_t (*ChannelRoutine)(TextChannel *channel);

struct TextChannel {
  uint32_t Handle;
  ChannelMode Mode;
  const char *Name;
  uint32_t BufferCount;
  char Buffer[kChannelBufferSize];
  // Hands the buffered characters over and empties the buffer.
  ChannelRoutine WriteOut;
  ChannelRoutine Flush;  // may be null
  ChannelRoutine Close;
};

extern uint16_t IoStatus;
extern TextChannel StdOutChannel;
extern TextChannel StdErrChannel;

// Input, output and error, as GetStdHandle reported them at start-up.
constexpr int kStandardHandleCount = 3;
extern uint32_t StandardHandles[kStandardHandleCount];

// Appends `text` (zero-terminated), padded on the left with spaces to
// `width` characters.
void WriteText(TextChannel *channel, const char *text, int32_t width);
// Appends carriage return and line feed, then flushes.
void EndLine(TextChannel *channel);
void CloseChannel(TextChannel *channel);
