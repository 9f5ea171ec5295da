#include "platform/product.h"

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

}  // namespace vellumax
