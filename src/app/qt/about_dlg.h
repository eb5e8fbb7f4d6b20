#pragma once

#include <QDialog>

namespace tavren::app {

// The version box: the program's icon, its version line and OK, which
// Enter and Escape press as well.
class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tavren::app
