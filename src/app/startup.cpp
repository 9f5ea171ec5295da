#include "app/startup.h"

#include <QStandardPaths>

#include "platform/runtime_error.h"

namespace vellumax {

QString DefaultOutputFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty()) {
        throw InvalidProcedureCall();
    }
    return desktop + '/';
}

QString QualityCaption(int quality) {
    return "Output JPG image quality: " + QString::number(quality) + "%";
}

bool DrawOpensVendorSite(double randomFraction) {
    const int drawn = static_cast<int>(randomFraction * 100) + 1;
    return drawn == 7;
}

}  // namespace vellumax
