#pragma once

#include <string>

#include "store/data_folder.h"

namespace tavren::app::win32 {

// Runs the tray program until its Exit command; returns the exit status.
// When another start of the same program (same `instanceName`) runs, brings
// its open dialog forward instead and returns 0 at once.
int RunTray(const store::DataFolder& data, const std::wstring& instanceName);

// The program file's name without folder and extension: the instance name.
std::wstring ProgramInstanceName();

}  // namespace tavren::app::win32
