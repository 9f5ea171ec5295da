#include "app/document_selection.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace vellumax {

std::optional<Shard> ShardNamed(const QString& text) {
    static const QRegularExpression form("^([0-9]{1,9})/([0-9]{1,9})$");
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const Shard shard{match.captured(1).toInt(), match.captured(2).toInt()};
    if (shard.number < 1 || shard.number > shard.count) {
        return std::nullopt;
    }
    return shard;
}

bool InShard(const QString& shareKey, Shard shard) {
    const QByteArray hash =
        QCryptographicHash::hash(NativePath(shareKey), QCryptographicHash::Sha256);
    quint64 number = 0;
    for (int byte = 0; byte < 8; ++byte) {
        number = number << 8 | static_cast<unsigned char>(hash[byte]);
    }
    return number % static_cast<quint64>(shard.count) == static_cast<quint64>(shard.number - 1);
}

QStringList PathsListed(const QByteArray& content, bool nulSeparated) {
    QStringList paths;
    for (const QByteArray& entry : content.split(nulSeparated ? '\0' : '\n')) {
        if (!entry.isEmpty()) {
            paths << PathFromNative(entry);
        }
    }
    return paths;
}

}  // namespace vellumax
