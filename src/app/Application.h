// The program's entry, start-up, message loop and shutdown (Windows).
#pragma once

#include <windows.h>

int RunApplication(HINSTANCE instance);
