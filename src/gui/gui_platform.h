#pragma once
// Whether the user interface can run, checked before the QApplication is
// built. Main thread, before any application object.

// False when Qt's xcb platform (the default, or the one named in
// QT_QPA_PLATFORM) cannot reach an X server: Qt would end the process from
// inside the QApplication constructor. Any other platform named in
// QT_QPA_PLATFORM (such as "offscreen") is left to Qt: true.
bool GuiPlatformAvailable();
