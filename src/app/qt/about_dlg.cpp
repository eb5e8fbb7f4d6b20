#include "app/qt/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/qt/app_icon.h"
#include "app/version.h"
#include "ui/qt/dialog_units.h"

namespace tavren::app {
namespace {

// A text laid out by its template rectangle, but never cut short where the
// substituted font runs wider than the one the layout was made for.
QLabel* Text(QWidget* parent, const ui::DialogUnits& du, const QString& text, int x, int y, int w,
             int h) {
    auto* label = new QLabel(text, parent);
    du.Place(label, x, y, w, h);
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    // A fixed box with a caption and a close button, nothing to resize.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("dialog100"));
    setWindowTitle(QStringLiteral("Tavren バージョン情報"));
    setFont(ui::DialogFont(9));
    const ui::DialogUnits du(font());

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    du.Place(icon, 14, 14, 20, 20);
    icon->setPixmap(AppIcon().pixmap(icon->size()));

    Text(this, du, QString::fromUtf8(kVersionText), 42, 14, 114, 8)
        ->setObjectName(QStringLiteral("versionText"));
    Text(this, du, QStringLiteral("Linux デスクトップ版 (Qt %1)").arg(QString::fromLatin1(qVersion())),
         42, 28, 138, 8)
        ->setObjectName(QStringLiteral("secondLine"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button1"));
    du.Place(ok, 84, 48, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    int width = du.X(204);
    for (const QObject* child : children()) {
        if (const auto* w = qobject_cast<const QWidget*>(child)) width = std::max(width, w->geometry().right() + du.X(14));
    }
    setFixedSize(width, du.Y(78));
    if (width > du.X(204)) ok->move((width - ok->width()) / 2, ok->y());
}

}  // namespace tavren::app
