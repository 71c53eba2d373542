// String and path helpers. Paths are UTF-8 and use "\" or "/" as separators;
// UTF-8 never puts those bytes inside a character, so splitting a path at them
// is splitting at characters (unlike code page 932, whose second bytes may be
// 0x5C). MakeAbsolute and ExpandEnvironmentText read process-wide state (the
// program's own path, the environment at start) rather than anything handed
// in; the classes that use them have a way around them for tests
// (docs/architecture.md, "Objects receive what they use").
#pragma once

#include <cstdint>
#include <string>

// Decimal text of a number.
std::string NumberToString(int32_t value);
// The path up to and including its last "\" or "/"; empty when it has none.
std::string GetDirectory(const std::string& path);
// The text after the last "\" or "/"; the whole path when it has none.
std::string GetFileName(const std::string& path);
// The text after the last "." anywhere in the path (the search does not stop
// at separators: "C:\dir.d\file" gives "d\file"); empty when there is no "."
// or the only one is the first character.
std::string GetExtension(const std::string& path);
// A relative path is taken relative to the program's own folder; an absolute
// one is returned unchanged. "" gives the program's folder with its separator.
std::string MakeAbsolute(const std::string& path);
// Replaces each %NAME% by the value of the variable NAME in the environment
// the process started with; unknown names stay as they are. Inserted values
// are not expanded again, so the expansion always ends.
std::string ExpandEnvironmentText(const std::string& text);
// The name of the first %NAME% reference still in text, as an expansion
// leaves a variable that is not set; false when there is none.
bool FindUnexpandedVariable(const std::string& text, std::string* name);
// Wide text in the system's ANSI code page (natively UTF-8; see
// platform::WideToAnsi).
std::string WideToAnsi(const wchar_t* text);
// Every line feed not preceded by a carriage return becomes CR LF.
void ConvertLineEnds(std::string& text);
// A control's or menu item's text as it is drawn: each "&" that marks the
// mnemonic removed, "&&" as one "&". Byte-wise, so also for code page 932
// texts ("&" and "(" are never second bytes there).
std::string RemoveMnemonicMarks(const std::string& text);
// The text without its mnemonic, for a caption or a window class name: also
// the "(&X)" that Japanese texts end in.
std::string WithoutMnemonic(const std::string& text);
