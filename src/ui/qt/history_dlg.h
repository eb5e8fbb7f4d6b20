#pragma once

#include <QDialog>
#include <QTimer>

#include "store/data_folder.h"
#include "ui/rules/history.h"

class QComboBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tavren::platform {
class ProcessLauncher;
}

namespace tavren::ui {

// The history window: the activity log of `dataFolder`, newest first, filtered
// by entry. While it shows, it reads the log's new lines every 500 ms.
// Not modal, and it leaves watching alone; closing it only hides it.
class CHistoryDlg final : public QDialog {
    Q_OBJECT

public:
    // `launcher` opens an entry's folder in the desktop's file manager.
    CHistoryDlg(const store::DataFolder& dataFolder, platform::ProcessLauncher& launcher,
                QWidget* parent = nullptr);
    ~CHistoryDlg() override;

    // Reads the lines added to the log since the last read and shows them.
    void Poll();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int ChosenEntry() const;  // 0: every entry
    void FillFilter();
    void FillList();
    QTreeWidgetItem* MakeItem(const store::LogRecord& record) const;
    void OpenFolder(int entry);  // 0: the program's own line, no folder
    void UpdateButton();

    rules::History history_;
    platform::ProcessLauncher& launcher_;
    QComboBox* filter_;
    QTreeWidget* list_;
    QPushButton* open_;
    QTimer timer_;
};

}  // namespace tavren::ui
