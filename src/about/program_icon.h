// The program's pictures, compiled in from data/icons: its icon (a seismogram
// trace in the lamp's green) at 16 to 256 pixels, and the digitizer.
#pragma once

#include <QIcon>

// The icon of the window, its dialogs and the desktop entry.
QIcon ProgramIcon();
// The digitizer, at 32 pixels and twice that.
QIcon DigitizerIcon();
