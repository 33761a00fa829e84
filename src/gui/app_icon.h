#pragma once
// The program's icon, drawn from the SVG in the program's resources at the usual sizes.

#include <QIcon>

namespace quorvel {

QIcon AppIcon();

}  // namespace quorvel
