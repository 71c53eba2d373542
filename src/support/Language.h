// Localised texts of the string table (English and Japanese), in the code
// page that GetAnsiCodePage names. Windows picks the table for the
// user-interface language; natively the language follows LC_ALL /
// LC_MESSAGES / LANG ("ja..." gives Japanese, converted to code page 932 as
// Windows would hand it out).
#pragma once

#include <cstdint>
#include <string>

// The module whose resources hold the table (the program's instance handle).
void SetResourceInstance(void* resourceModule);
void* GetResourceInstance();

// The text of string id, or an empty text when there is none.
std::string LoadResourceString(uint32_t id);

// The text of string id formatted as a Win32 message string: inserts are
// written "%1!s!", "%2!d!" and so on, and take the arguments in order.
std::string FormatResourceString(uint32_t id, ...);

// The code page of the texts above: on Windows the system's ANSI code page
// (GetACP). Natively, where the system has none (platform::WideToAnsi gives
// UTF-8 there), the table's own: 932 while the Japanese table is in use, else
// 1252.
unsigned GetAnsiCodePage();

#ifndef _WIN32
// Native builds only: the table's language, overriding the environment.
enum class ResourceLanguage { FromEnvironment, English, Japanese };
void SetResourceLanguage(ResourceLanguage language);
#endif
