#include "app/startup.h"

#include <QStandardPaths>

#include "platform/runtime_error.h"

namespace vellumax {

QString ShortenedTitle(const QString& productName) {
    QString title = productName;
    do {
        const qsizetype lastBlank = title.lastIndexOf(' ');
        if (lastBlank < 0) {
            break;
        }
        title.truncate(lastBlank);
    } while (title.size() > 40);
    return title;
}

QString ApplicationTitle() {
    return ShortenedTitle(kProductName);
}

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
