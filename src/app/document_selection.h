#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/path_helpers.h"

namespace vellumax {

// One of `count` equal shares of an archive, numbered from 1.
struct Shard {
    int number = 1;
    int count = 1;

    QString Text() const { return QString::number(number) + '/' + QString::number(count); }
};

// "K/N" with whole numbers 1 <= K <= N; nothing for anything else.
std::optional<Shard> ShardNamed(const QString& text);

// Whether a document falls in the shard, by its share key: the path it was found under, relative
// to the folder given (its file name, for a document given itself). The key's SHA-256, its first
// eight bytes read as a number, leaves the shard's number less one when divided by the count.
// So a document's shard never moves when others are added, removed or found in another order,
// and machines given the same folders take disjoint shares that together are all of them,
// wherever each has the archive mounted.
bool InShard(const QString& shareKey, Shard shard);

// The paths of a list of files, one a line or, as `find -print0` writes them, each ended by
// a NUL; empty entries are passed over.
QStringList PathsListed(const QByteArray& content, bool nulSeparated);

}  // namespace vellumax
