#pragma once

namespace vellumax {

// Lets the window repaint and handle input in the middle of a long operation. Other
// handlers may run inside this call; callers keep their own busy state against that.
void YieldToEventLoop();

}  // namespace vellumax
