#include "ui/qt/program_file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

#include "ui/qt/file_chooser.h"

namespace tavren::ui {
namespace {

// Between the dialog's file system model and its views: hides the files
// that cannot be executed while `active`. Folders always stay, so the user
// can still walk the tree.
class ExecutableFilesProxy final : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void SetActive(bool active) {
        if (active == active_) return;
        active_ = active;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (!active_) return true;
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }

private:
    bool active_ = false;
};

}  // namespace

void SetUpProgramFileDialog(QFileDialog& dialog, const QStringList& filters) {
    PrepareChooser(dialog);
    // Every pattern is "*": the filter's name says what it shows.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);

    auto* proxy = new ExecutableFilesProxy(&dialog);
    dialog.setProxyModel(proxy);
    // The dialog reports the chosen filter with or without its pattern
    // part, depending on where the choice came from.
    const QString programFilter = filters.value(0);
    const QString programName = programFilter.section(u'(', 0, 0).trimmed();
    const auto follow = [proxy, programFilter, programName](const QString& selected) {
        proxy->SetActive(selected == programFilter || selected.trimmed() == programName);
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, proxy, follow);
    follow(dialog.selectedNameFilter());
}

std::optional<QString> RunProgramFileDialog(QWidget* parent, const QString& title,
                                            const QStringList& filters, const QString& start) {
    QFileDialog dialog(parent, title, start);
    SetUpProgramFileDialog(dialog, filters);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front();
}

}  // namespace tavren::ui
