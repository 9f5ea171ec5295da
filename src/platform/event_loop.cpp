#include "platform/event_loop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <exception>
#include <memory>

namespace vellumax {

namespace {

bool OnWindowThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

// Short enough that input waits for no noticeable time, long enough not to spin.
constexpr std::chrono::milliseconds kYieldInterval(5);

}  // namespace

void YieldToEventLoop() {
    if (OnWindowThread()) {
        QCoreApplication::processEvents();
    }
}

void WaitYielding(const std::function<bool(std::chrono::milliseconds)>& waitAtMost) {
    while (!waitAtMost(kYieldInterval)) {
        YieldToEventLoop();
    }
}

void RunAside(const std::function<void()>& work) {
    std::exception_ptr failure;
    const std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    thread->start();
    WaitYielding([&](std::chrono::milliseconds limit) {
        return thread->wait(QDeadlineTimer(limit.count()));
    });
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace vellumax
