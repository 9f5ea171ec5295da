#include "app/startup.h"

#include <QStandardPaths>

#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

QString DefaultOutputFolder() {
    // The desktop folder the system names (XDG_DESKTOP_DIR); many desktops have none, and a
    // first Start into a folder that is not there would only be refused.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!IsFolder(folder)) {
        folder = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    }
    if (folder.isEmpty()) {
        throw InvalidProcedureCall();
    }
    return folder.endsWith('/') ? folder : folder + '/';
}

QString QualityCaption(int quality) {
    return "Output JPG image quality: " + QString::number(quality) + "%";
}

bool DrawOpensVendorSite(double randomFraction) {
    const int drawn = static_cast<int>(randomFraction * 100) + 1;
    return drawn == 7;
}

}  // namespace vellumax
