// The error-box channel: text written to a standard channel is collected
// and shown in "Error" message boxes. The process has no console.
#pragma once

#include <stdint.h>

#include "frame/text_channel.h"

constexpr uint32_t kErrorTextCapacity = 1024;

// Shared by every error-box channel; zero-terminated.
extern char ErrorText[kErrorTextCapacity + 1];
extern uint32_t ErrorTextLength;

extern const char kErrorBoxCaption[];

// No platform handle, closed, unnamed, empty buffer.
void BindErrorBoxChannel(TextChannel *channel);
// Installs the error-box routines and opens for output. Returns 0.
uint16_t OpenErrorBoxChannel(TextChannel *channel);
