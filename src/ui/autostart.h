#pragma once

#include <QString>

namespace tavren::ui {

// Starting with the desktop session. The choice is kept as "nStart" in
// group "Tavren" of the program's settings (organisation "QUORVALE",
// application "Tavren3"); the session starts the program through the XDG
// autostart entry Tavren.desktop.

// The stored choice; 0 when none is stored. Other values than 0 and 1 are
// returned as they are.
int ReadStartSetting();

// Stores `enabled` (0 or 1) first, then creates the autostart entry for the
// running executable or deletes it. Failures are silent: the choice stays
// stored and the list dialog closes as usual.
void ApplyStartSetting(int enabled);

// $XDG_CONFIG_HOME/autostart/Tavren.desktop, with ~/.config when the
// variable is unset or not absolute.
QString AutostartFilePath();

// `program` as the Exec= value of a desktop entry: quoted and escaped where
// it holds characters that the entry's command-line rules reserve.
QString DesktopExecValue(const QString& program);

// The whole text of the autostart entry that starts `program`.
QString AutostartEntryText(const QString& program);

}  // namespace tavren::ui
