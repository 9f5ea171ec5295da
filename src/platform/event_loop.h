#pragma once

#include <chrono>
#include <functional>

namespace vellumax {

// Lets the window repaint and handle input in the middle of a long operation. Other
// handlers may run inside this call; callers keep their own busy state against that.
// Does nothing off the window's thread.
void YieldToEventLoop();

// Waits until `waitAtMost` (which waits up to the time given and says whether the awaited
// thing is done) says it is done, yielding to the event loop every few milliseconds so the
// window answers meanwhile.
void WaitYielding(const std::function<bool(std::chrono::milliseconds)>& waitAtMost);

// Runs `work` on a thread of its own and waits for it as WaitYielding does; what it throws is
// thrown here.
void RunAside(const std::function<void()>& work);

}  // namespace vellumax
