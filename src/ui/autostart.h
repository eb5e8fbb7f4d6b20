#pragma once

#include <QString>
#include <QStringList>

namespace tavren::ui {

// Starting with the desktop session. The choice is kept as "nStart" in
// group "Tavren" of the program's settings (organisation "QUORVALE",
// application "Tavren3"); the session starts the program through the XDG
// autostart entry Tavren.desktop.

// The stored choice; 0 when none is stored. Other values than 0 and 1 are
// returned as they are.
int ReadStartSetting();

// The arguments the entry passes to the program, so that the session starts
// it as this run was started: "--data-dir DIR" when this run was given its
// data folder. None until set, at start-up.
void SetStartArguments(const QStringList& arguments);

// Stores `enabled` (0 or 1) first, then creates the autostart entry for the
// running executable and the start arguments, or deletes it. Failures are
// silent: the choice stays stored and the list dialog closes as usual.
void ApplyStartSetting(int enabled);

// $XDG_CONFIG_HOME/autostart/Tavren.desktop, with ~/.config when the
// variable is unset or not absolute.
QString AutostartFilePath();

// `command` (the program, then its arguments) as the Exec= value of a
// desktop entry: each argument quoted where it holds characters that the
// entry's command-line rules reserve, '%' doubled, and the whole escaped as
// a string value.
QString DesktopExecValue(const QStringList& command);
QString DesktopExecValue(const QString& program);

// The icon the entry names for the program in `programFolder`: the name
// "tavren3" when installed where the desktop looks for icons; else the full
// path of the icon installed beside it, or of the copy the build puts next
// to the program; else the name.
QString AutostartIcon(const QString& programFolder);

// The whole text of the autostart entry that runs `command`.
QString AutostartEntryText(const QStringList& command, const QString& icon);

}  // namespace tavren::ui
