#include "platform/event_loop.h"

#include <QCoreApplication>

namespace vellumax {

void YieldToEventLoop() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents();
    }
}

}  // namespace vellumax
