// The application object's identity, set once before the window is built.
#pragma once

class QString;

// Names the application "kestrel32" with its version. No display name is set:
// Qt appends a display name to every window title ("Error — ..."), and the
// windows and message boxes carry their own captions.
void SetUpApplication(const QString& version);
