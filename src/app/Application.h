// The program's entry, start-up, message loop and shutdown (Windows).
#pragma once

#include <windows.h>

struct StartupSystem;

// Runs the program; system: the start-up steps' system calls.
int RunApplication(HINSTANCE instance, const StartupSystem& system);
