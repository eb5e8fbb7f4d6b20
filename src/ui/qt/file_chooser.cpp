#include "ui/qt/file_chooser.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QListView>
#include <QPointer>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace tavren::ui {
namespace {

void FitPlaces(QFileDialog& dialog) {
    auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
    auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
    if (!places || !splitter || splitter->count() < 2) return;
    const int needed = places->sizeHintForColumn(0) + 2 * places->frameWidth() +
                       places->verticalScrollBar()->sizeHint().width();
    QList<int> sizes = splitter->sizes();
    if (sizes[0] >= needed) return;
    sizes[1] = std::max(0, sizes[1] - (needed - sizes[0]));
    sizes[0] = needed;
    splitter->setSizes(sizes);
}

// Every column but the name gets what its header and its texts need; the
// name takes the rest of the view, at least what its header needs.
void FitColumns(QFileDialog& dialog) {
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!view || !view->model()) return;
    QHeaderView* header = view->header();
    const QAbstractItemView* cells = view;  // where sizeHintForColumn() is public
    int others = 0;
    for (int i = 1; i < header->count(); ++i) {
        if (header->isSectionHidden(i)) continue;
        const int width = std::max(
            {header->sectionSize(i), header->sectionSizeHint(i), cells->sizeHintForColumn(i)});
        header->resizeSection(i, width);
        others += width;
    }
    header->resizeSection(0,
                          std::max(header->sectionSizeHint(0), view->viewport()->width() - others));
}

void Fit(QFileDialog& dialog) {
    FitPlaces(dialog);
    FitColumns(dialog);
}

// Fits the dialog once it is laid out on screen; the folder's rows come
// later, from another thread, each time a folder is shown.
class ChooserFitter final : public QObject {
public:
    explicit ChooserFitter(QFileDialog& dialog) : QObject(&dialog), dialog_(dialog) {
        dialog.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Show) {
            if (!model_) {
                model_ = dialog_.findChild<QFileSystemModel*>();
                if (model_) {
                    connect(model_, &QFileSystemModel::directoryLoaded, this,
                            [this] { Fit(dialog_); });
                }
            }
            QTimer::singleShot(0, this, [this] { Fit(dialog_); });
        }
        return false;
    }

private:
    QFileDialog& dialog_;
    QPointer<QFileSystemModel> model_;
};

}  // namespace

void PrepareChooser(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    new ChooserFitter(dialog);  // owned by the dialog
}

}  // namespace tavren::ui
