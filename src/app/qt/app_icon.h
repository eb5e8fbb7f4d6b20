#pragma once

#include <QIcon>

namespace tavren::app {

// The program's icon, from its resources in every size it has, falling
// back to the desktop theme's icon of the same name.
QIcon AppIcon();

// The same, greyed: the icon while watching is stopped.
QIcon StoppedIcon();

}  // namespace tavren::app
