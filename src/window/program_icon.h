// The program icon (the red letters IPTV between striped arcs), 32x32 and
// 16x16, from the window's resources.
#pragma once

#include <QIcon>

QIcon ProgramIcon();
