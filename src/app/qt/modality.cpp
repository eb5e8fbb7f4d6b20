#include "app/qt/modality.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace tavren::app {

bool ParentModality::eventFilter(QObject* watched, QEvent* event) {
    // The show event comes before the window is mapped, while its modality
    // can still be changed.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->windowModality() == Qt::ApplicationModal) {
            const Qt::WindowModality modality =
                widget->parentWidget() ? Qt::WindowModal : Qt::NonModal;
            widget->setWindowModality(modality);
            if (QWindow* window = widget->windowHandle()) window->setModality(modality);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tavren::app
