// The About dialog (resource IDD_ABOUT): the program's icon, name, version
// and bitmap. Main thread only.
#pragma once

#include <windows.h>

#include <string>

// Runs the dialog modally, owned by owner; returns when the user closes it.
void RunAboutDialog(HINSTANCE instance, HWND owner);

// "Version 2.10.0030.0400" for the file version 2.10.30.400: the minor number
// in two digits, build and revision in four.
std::string FormatVersionText(unsigned major, unsigned minor, unsigned build, unsigned revision);

// The version text of a module's fixed version information ("Version" alone
// when the module has none).
std::string GetModuleVersionText(HMODULE module);
