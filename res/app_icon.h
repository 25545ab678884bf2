#pragma once

#include <QIcon>

// Icon 128: a small camera, drawn at the sizes window managers ask for.
QIcon LoadAppIcon();
