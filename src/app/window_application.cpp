#include "app/window_application.h"

#include <QApplication>

namespace vellumax {

void ConfigureWindowApplication() {
    QApplication::setApplicationName("vellumax");
    QApplication::setStyle("Fusion");
}

}  // namespace vellumax
