#include "app/document_selection.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
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

QStringList ShareOf(const QStringList& documents, Shard shard) {
    // Sorted by absolute path, so that "scan.mdi" and "./scan.mdi" count once; the first
    // entry for a path is the one converted.
    QMap<QString, QString> byPath;
    for (const QString& document : documents) {
        const QString path = AbsolutePath(document);
        if (!byPath.contains(path)) {
            byPath.insert(path, document);
        }
    }
    QStringList share;
    qsizetype position = 0;
    for (const QString& document : std::as_const(byPath)) {
        if (position++ % shard.count == shard.number - 1) {
            share << document;
        }
    }
    return share;
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
