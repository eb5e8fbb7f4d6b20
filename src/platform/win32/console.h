#pragma once

#include <string>
#include <vector>

namespace tavren::platform::win32 {

// The program's arguments in UTF-8, read from the wide command line: the
// narrow argv of a Windows program is in the ANSI code page and loses
// every character that the code page lacks. The first is the program.
std::vector<std::string> CommandLineArguments();

// Makes a console show the UTF-8 text the program prints. Output that goes
// to a file or a pipe is not touched and stays UTF-8, as on Linux.
void UseUtf8Console();

// Starts `program`, a file in this program's own folder, with this
// program's arguments as they were typed, and does not wait for it. It
// inherits the standard handles. False when it could not be started.
bool StartBesideWithSameArguments(const wchar_t* program);

}  // namespace tavren::platform::win32
