#pragma once

#include <QList>
#include <QString>

namespace vellumax {

// Puts a finished page of the document `source` (an absolute path) at its final name: renamed
// there when both are on one file system, else copied into a fresh file beside the final name
// and renamed onto it. Either way its content is on the disk before it takes the name (its
// folder entry is, after SyncFolder); the page is there whole or not at all. The page carries its
// document's path in the extended attribute "user.vellumax.source", where the file system keeps
// them. A link, an old page of the same document or an unmarked file at the final name is replaced,
// never what a link points to; a page marked for another document stays, and `owner` then names
// that document. Returns 0, or the errno of the failure (EEXIST with `owner`).
int DeliverPage(const QString& page, const QString& target, const QString& source, QString& owner);

// Puts the entries of the folder on the disk, so that the names given there last survive a
// power cut. Returns 0, or EIO when the disk failed; a file system that cannot sync a folder
// is no failure.
int SyncFolder(const QString& folder);

// Removes from `folder` the files that runs killed while copying a page there left behind: only
// names of the copy's own pattern, regular files owned by this user, and not locked by the live
// run that writes them.
void RemoveAbandonedCopies(const QString& folder);

// The page number in a name the page converter gives ("document-0003.jpg" is page 3 for the
// stem "document" and the extension "jpg"), or 0 for any other name.
int ConverterPageNumber(const QString& name, const QString& stem, const QString& extension);

}  // namespace vellumax
