#pragma once

namespace vellumax {

class Dialogs;

// The "Help" button: where the imaging component comes from, and its support article on request.
void ShowImagingHelp(Dialogs& dialogs);

}  // namespace vellumax
