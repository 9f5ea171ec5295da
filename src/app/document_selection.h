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

// The share of the documents that is this shard's: each document once, sorted by its absolute
// path, every count-th from the shard's number on. Machines given the same documents thus
// take disjoint shares that together are all of them, whatever order their walks found them
// in. Entries keep their text as listed.
QStringList ShareOf(const QStringList& documents, Shard shard);

// The paths of a list of files, one a line or, as `find -print0` writes them, each ended by
// a NUL; empty entries are passed over.
QStringList PathsListed(const QByteArray& content, bool nulSeparated);

}  // namespace vellumax
