#pragma once

#include <QIcon>

namespace tavren::app {

// The program's icon, from its resources in every size it has, falling
// back to the desktop theme's icon of the same name.
QIcon AppIcon();

}  // namespace tavren::app
