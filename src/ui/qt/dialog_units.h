#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QButtonGroup;
class QWidget;

namespace tavren::ui {

// The dialogs are laid out in dialog units, as their templates give them:
// a horizontal unit is a quarter of the dialog font's average character
// width, a vertical unit an eighth of its height. Converting through the
// font's real metrics keeps every dialog in proportion with its text,
// whatever font the system substitutes.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    // Places `widget` at the template rectangle within its parent.
    void Place(QWidget* widget, int x, int y, int width, int height) const;

private:
    int baseX_;  // average character width in pixels
    int baseY_;  // character height in pixels
};

// The dialog font at `pointSize`: "MS UI Gothic" where it exists, else the
// Japanese Gothic faces a Linux desktop has.
QFont DialogFont(int pointSize = 9);

// Selects exactly the radio whose id is `value`; a value no radio stands
// for clears them all, which an exclusive group would not allow.
void SetRadios(QButtonGroup* group, int value);

// Enter and Escape inside an editor page neither press a button nor reach
// the editor, where they would confirm or cancel the whole entry. Covers
// the children `page` has when this is called.
void KeepEnterAndEscapeInPage(QWidget* page);

}  // namespace tavren::ui
