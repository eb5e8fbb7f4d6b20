#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QFileDialog;
class QWidget;

namespace tavren::ui {

// The chooser for a watch entry's program. Linux programs carry no
// extension to filter on, so while the first name filter is selected the
// dialog lists, besides the folders, only the files the user may execute;
// the other filters list what their patterns say.
//
// This needs Qt's own file dialog: a desktop's native one takes name
// patterns only.
void SetUpProgramFileDialog(QFileDialog& dialog, const QStringList& filters);

// Runs such a dialog modally: the chosen file, or nullopt when cancelled.
std::optional<QString> RunProgramFileDialog(QWidget* parent, const QString& title,
                                            const QStringList& filters, const QString& start);

}  // namespace tavren::ui
