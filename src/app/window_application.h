#pragma once

namespace vellumax {

// The application's name and style, set once the QApplication exists. No display name is set:
// under X11 Qt would append it to every window title, and the dialogs' titles must read exactly
// as the program gives them.
void ConfigureWindowApplication();

}  // namespace vellumax
