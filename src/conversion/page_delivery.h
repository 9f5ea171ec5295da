#pragma once

#include <QList>
#include <QString>

namespace vellumax {

// Puts a finished page at its final name: renamed there when both are on one file system,
// else copied into a fresh file beside the final name and renamed onto it. Either way it is
// flushed to the disk first; a link or an old page at the final name is replaced, never what a
// link points to, and the page is there whole or not at all. Returns 0, or the errno of the
// failure.
int DeliverPage(const QString& page, const QString& target);

// Removes from `folder` the files that runs killed while copying a page there left behind: only
// names of the copy's own pattern, regular files owned by this user, and not locked by the live
// run that writes them.
void RemoveAbandonedCopies(const QString& folder);

// The page number in a name the page converter gives ("document-0003.jpg" is page 3 for the
// stem "document" and the extension "jpg"), or 0 for any other name.
int ConverterPageNumber(const QString& name, const QString& stem, const QString& extension);

// Whether the two paths name one and the same file.
bool IsSameFile(const QString& a, const QString& b);

// How many pages the TIFF file holds; 0 when it cannot be read.
int PagesInTiff(const QString& path);

// "page 3", "pages 3, 4": the pages named in a failure line.
QString PageNumbersText(const QList<int>& pages);

}  // namespace vellumax
