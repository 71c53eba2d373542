// The Windows part of a shell start: the window that owns the messages the
// shell shows (none: the desktop). Windows only.
#pragma once

#include <windows.h>

#include "support/Shell.h"

struct CShell::Native {
  HWND owner = nullptr;
};
