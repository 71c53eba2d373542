// The codec runtime's process-wide error hook: every runtime component reports
// its messages here, and whoever installed the hook last receives them.
#pragma once

// Receives one message (at most 255 characters) with the installer's context.
using CodecErrorFunction = void (*)(void* context, const char* message);

// Replaces the process-wide function and context; a null function installs
// one that does nothing. Returns only when no report is in progress, so that
// after uninstalling the caller may free its context.
void ErrorHook_Install(CodecErrorFunction function, void* context);

// Copies the message (cut to 255 characters) into the process-wide buffer and
// hands it to the installed function.
void ErrorHook_Report(const char* message);

// Reports `prefix` and `text` joined into one message.
void ErrorHook_Report(const char* prefix, const char* text);
