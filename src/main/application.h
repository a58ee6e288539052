// The application object's identity, set once before the window is built.
#pragma once

class QString;
class QWidget;

// Names the application "kestrel32" with its version, gives every window the
// program's icon and names the desktop entry (kestrel32.desktop) that shows
// it. No display name is set: Qt appends a display name to every window title
// ("Error — ..."), and the windows and message boxes carry their own captions.
void SetUpApplication(const QString& version);

// SIGINT, SIGTERM and SIGHUP end the program as closing the window does. The
// handlers only write a byte to a socket; call this before the application
// object exists, so that a signal that comes early is kept.
void InstallTerminationSignals();
// Closes `window` in the event loop when one of those signals has come.
void CloseOnTerminationSignal(QWidget* window);
