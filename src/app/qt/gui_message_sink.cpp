#include "app/qt/gui_message_sink.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSpacerItem>
#include <QStyle>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <set>

#include "app/box_cascade.h"
#include "platform/wake_event.h"

namespace tavren::app {
namespace {

QMessageBox* MakeBox(const QString& text) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Tavren3"), text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("engineMessage"));
    box->setWindowFlag(Qt::WindowStaysOnTopHint);  // the program has no window to sit above
    // Each box holds only the worker that asked for it: the icon's menu,
    // the other boxes and the dialogs stay within reach.
    box->setWindowModality(Qt::NonModal);
    // A short text makes a box too narrow for its caption in the title bar.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(240, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());  // the layout owns it
    }
    return box;
}

// Shows `box` in the first place (box_cascade.h) that no open box holds,
// so that boxes of several entries do not hide one another.
void ShowCascaded(QMessageBox* box) {
    const char* const kPlace = "cascadePlace";
    std::set<int> taken;
    int step = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == box || w->objectName() != QLatin1String("engineMessage") || !w->isVisible())
            continue;
        taken.insert(w->property(kPlace).toInt());
        step = std::max(step, w->frameGeometry().height() - w->height());  // title bar, borders
    }
    const int place = FreeBoxPlace(taken);
    box->setProperty(kPlace, place);
    box->show();  // sized and centred: where it opens alone
    const QScreen* screen = box->screen();
    if (place == 0 || !screen) return;
    if (step <= 0) step = box->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QRect alone = box->frameGeometry();
    const QRect area = screen->availableGeometry();
    const BoxRect at = CascadeBox(place, {alone.x(), alone.y(), alone.width(), alone.height()},
                                  {area.x(), area.y(), area.width(), area.height()}, step);
    box->move(at.x, at.y);
}

}  // namespace

GuiMessageSink::GuiMessageSink() {
    setObjectName(QStringLiteral("messageSink"));
}

void GuiMessageSink::ShowMessage(std::string_view text, const platform::WakeEvent& cancel) {
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (QThread::currentThread() == thread()) {
        // Asked by the GUI thread itself (a failed start): show it right here.
        std::unique_ptr<QMessageBox> box(MakeBox(message));
        ShowCascaded(box.get());
        box->exec();
        return;
    }

    // Set once, by whichever comes first: the box finishing, or the box
    // (or the queued request) being destroyed without ever finishing.
    struct Closed {
        std::promise<void> promise;
        std::once_flag once;
        void Set() {
            std::call_once(once, [this] { promise.set_value(); });
        }
    };
    auto done = std::make_shared<Closed>();
    std::future<void> closed = done->promise.get_future();
    QMetaObject::invokeMethod(
        this,
        [message, done] {
            QMessageBox* box = MakeBox(message);
            QObject::connect(box, &QDialog::finished, box, [box, done] {
                done->Set();
                box->deleteLater();
            });
            QObject::connect(box, &QObject::destroyed, [done] { done->Set(); });
            ShowCascaded(box);
            box->raise();
            box->activateWindow();
        },
        Qt::QueuedConnection);

    // The box is the user's; only the end of the program cuts the wait short.
    while (closed.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (cancel.IsSet()) return;
    }
}

void GuiMessageSink::ReportProblem(std::string_view text) {
    const QString message = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QMetaObject::invokeMethod(
        this,
        [message] {
            QMessageBox* box = MakeBox(message);
            box->setAttribute(Qt::WA_DeleteOnClose);
            ShowCascaded(box);
            box->raise();
        },
        Qt::QueuedConnection);
}

void GuiMessageSink::StatusChanged(const engine::WatchStatus&) {
    QMetaObject::invokeMethod(
        this, [this] { emit statusChanged(); }, Qt::QueuedConnection);
}

void GuiMessageSink::CloseAll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("engineMessage")) w->close();
    }
}

}  // namespace tavren::app
