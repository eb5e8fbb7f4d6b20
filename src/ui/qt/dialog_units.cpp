#include "ui/qt/dialog_units.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QStringList>
#include <QWidget>

namespace tavren::ui {
namespace {

// Rounded a*b/c, as the system's own conversion does it.
int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

class PageKeyFilter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const { return MulDiv(units, baseX_, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, baseY_, 8); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return {X(x), Y(y), X(width), Y(height)};
}

QSize DialogUnits::Size(int width, int height) const { return {X(width), Y(height)}; }

void DialogUnits::Place(QWidget* widget, int x, int y, int width, int height) const {
    widget->setGeometry(Rect(x, y, width, height));
}

QFont DialogFont(int pointSize) {
    QFont font;
    font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      QStringLiteral("VL Gothic"), QStringLiteral("TakaoPGothic"),
                      QStringLiteral("Sans Serif")});
    font.setPointSize(pointSize);
    return font;
}

void SetRadios(QButtonGroup* group, int value) {
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) button->setChecked(group->id(button) == value);
    group->setExclusive(true);
}

void KeepEnterAndEscapeInPage(QWidget* page) {
    auto* filter = new PageKeyFilter(page);
    for (QWidget* child : page->findChildren<QWidget*>()) child->installEventFilter(filter);
}

}  // namespace tavren::ui
