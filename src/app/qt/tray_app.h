#pragma once

#include "store/data_folder.h"

namespace tavren::app {

// True when a graphical session can be reached (X11, Wayland, or a Qt
// platform chosen explicitly).
bool HasDisplay();

// Runs the tray program until its Exit command. Returns the exit status.
int RunTray(int& argc, char** argv, const store::DataFolder& data);

}  // namespace tavren::app
