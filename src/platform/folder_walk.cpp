#include "platform/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error_report.h"
#include "platform/event_loop.h"
#include "platform/file_attributes.h"
#include "platform/path_helpers.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

// The characters' codes, where a byte of a name that is not UTF-8 stands for itself: old disks
// wrote names in the 8-bit set the helper tools see them through.
QList<uint> EightBitCodes(const QString& name) {
    QList<uint> codes;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (const auto byte = ForeignByteAt(name, i)) {
            codes << *byte;
        } else if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            codes << QChar::surrogateToUcs4(c, name[++i]);
        } else {
            codes << c.unicode();
        }
    }
    return codes;
}

constexpr int kPermissionDenied = 70;
constexpr int kPathNotFound = 76;

// Windows marks the junctions it keeps for old programs, which point back up the tree,
// hidden + system; a walk must not enter them. The system bit never occurs here.
constexpr int kHiddenSystemFolder = kHidden | kSystem | kDirectory;           // 22
constexpr int kHiddenSystemFolderLink = kHiddenSystemFolder | kReparsePoint;  // 1046

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};

struct DirectoryEntry {
    QByteArray name;
    unsigned char type;  // as readdir tells it; DT_UNKNOWN on some file systems
};

struct Subfolder {
    QByteArray nativeName;
    std::optional<FolderId> id;  // none when the folder cannot be examined
};

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};
using DirectoryHandle = std::unique_ptr<DIR, DirectoryCloser>;

// A NUL would end the path early and name some other entry.
bool IsPassable(const QString& path) {
    return !path.contains(QChar(u'\0'));
}

RuntimeError ListingError(int errorNumber) {
    if (errorNumber == ENOENT || errorNumber == ENOTDIR) {
        return RuntimeError(kPathNotFound, "Path not found");
    }
    return ErrorFromErrno(errorNumber, FileAccess::Read);
}

// Every entry of the folder except "." and "..", in the file system's order.
// Throws RuntimeError: 76 for a missing folder, 70 for a refused one.
std::vector<DirectoryEntry> ReadDirectory(const QString& folder) {
    if (folder.isEmpty() || !IsPassable(folder)) {
        throw ListingError(ENOENT);
    }
    const DirectoryHandle directory(::opendir(NativePath(folder).constData()));
    if (!directory) {
        throw ListingError(errno);
    }
    std::vector<DirectoryEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());
        if (entry == nullptr) {
            break;
        }
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") {
            entries.push_back({name, entry->d_type});
        }
    }
    if (errno != 0) {
        throw ListingError(errno);
    }
    return entries;
}

std::optional<FolderId> FolderIdOf(const QByteArray& nativePath) {
    struct stat info {};
    if (::stat(nativePath.constData(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return FolderId{info.st_dev, info.st_ino};
}

// Links to folders count as subfolders, as junctions do on Windows.
std::optional<Subfolder> AsSubfolder(const QByteArray& nativeFolder, const DirectoryEntry& entry) {
    if (entry.type != DT_DIR && entry.type != DT_LNK && entry.type != DT_UNKNOWN) {
        return std::nullopt;
    }
    if (const std::optional<FolderId> id = FolderIdOf(nativeFolder + entry.name)) {
        return Subfolder{entry.name, id};
    }
    // A folder that cannot be examined is still listed; the walk then finds it cannot enter.
    if (entry.type == DT_DIR) {
        return Subfolder{entry.name, std::nullopt};
    }
    return std::nullopt;
}

std::vector<Subfolder> ListSubfolders(const QString& folder) {
    const QByteArray nativeFolder = NativePath(folder);
    std::vector<Subfolder> subfolders;
    for (const DirectoryEntry& entry : ReadDirectory(folder)) {
        if (std::optional<Subfolder> subfolder = AsSubfolder(nativeFolder, entry)) {
            subfolders.push_back(std::move(*subfolder));
        }
    }
    std::sort(subfolders.begin(), subfolders.end(), [](const Subfolder& a, const Subfolder& b) {
        return FileManagerLess(PathFromNative(a.nativeName), PathFromNative(b.nativeName));
    });
    return subfolders;
}

// The folder and every folder its path passes through.
QList<FolderId> FolderIdsAlong(const QString& folder) {
    const QByteArray native = NativePath(folder);
    QList<FolderId> ids;
    for (qsizetype end = native.indexOf('/'); end >= 0; end = native.indexOf('/', end + 1)) {
        if (const std::optional<FolderId> id = FolderIdOf(native.left(end + 1))) {
            ids.append(*id);
        }
    }
    if (const std::optional<FolderId> id = FolderIdOf(native)) {
        ids.append(*id);
    }
    return ids;
}

void Note(QStringList* unentered, const QString& folder, const QString& reason) {
    if (unentered != nullptr) {
        unentered->append(OnOneLine(folder) + ": " + reason);
    }
}

// Reads the subfolders of `folder` and appends the walkable ones to `nextLevel`.
// Throws RuntimeError when the folder cannot be listed; nothing is appended then.
void AppendSubfolders(const QString& folder, QStringList& nextLevel, QStringList* unentered) {
    const std::vector<Subfolder> subfolders = ListSubfolders(folder);
    const QList<FolderId> above = FolderIdsAlong(folder);
    for (const Subfolder& subfolder : subfolders) {
        YieldToEventLoop();
        if (subfolder.nativeName == "." || subfolder.nativeName == "..") {
            continue;
        }
        if (!IsWalkableSubfolderName(subfolder.nativeName)) {
            Note(unentered, folder + PathFromNative(subfolder.nativeName),
                 "its name is too long or has characters that cannot be passed on");
            continue;
        }
        // A link back to this folder or one above it would be walked again under an ever
        // longer path, and two such links double the work at every level.
        if (subfolder.id && above.contains(*subfolder.id)) {
            continue;
        }
        nextLevel.append(folder + PathFromNative(subfolder.nativeName) + '/');
    }
}

bool IsRootFolder(const QString& folder) {
    return !folder.isEmpty() && folder.count('/') == folder.size();
}

// Throws RuntimeError when the folder cannot be examined.
bool MayEnter(const QString& folder) {
    if (IsRootFolder(folder)) {
        return true;
    }
    int attributes = 0;
    try {
        attributes = FileAttributes(folder);
    } catch (const RuntimeError& error) {
        if (error.number() == 53) {
            throw RuntimeError(kPathNotFound, "Path not found");  // it is a folder that is gone
        }
        throw;
    }
    return attributes != kHiddenSystemFolder && attributes != kHiddenSystemFolderLink;
}

QList<uint> CaseFolded(const QString& text) {
    QList<uint> codes = text.toUcs4();
    for (uint& code : codes) {
        code = QChar::toCaseFolded(static_cast<char32_t>(code));
    }
    return codes;
}

bool MatchesFolded(const QList<uint>& name, const QList<uint>& pattern) {
    qsizetype n = 0;
    qsizetype p = 0;
    // Backtracking to the last "*" only is enough: an earlier one could not match more.
    qsizetype lastStar = -1;
    qsizetype nameAtStar = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            lastStar = p++;
            nameAtStar = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (lastStar >= 0) {
            p = lastStar + 1;
            n = ++nameAtStar;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool IsDigit(uint code) {
    return code >= '0' && code <= '9';
}

qsizetype DigitRunEnd(const QList<uint>& codes, qsizetype start) {
    qsizetype end = start;
    while (end < codes.size() && IsDigit(codes[end])) {
        ++end;
    }
    return end;
}

// Compares the values of two digit runs digit by digit, so that no run is too long.
int CompareDigitRuns(const QList<uint>& a, qsizetype aStart, qsizetype aEnd, const QList<uint>& b,
                     qsizetype bStart, qsizetype bEnd) {
    while (aStart < aEnd && a[aStart] == '0') {
        ++aStart;
    }
    while (bStart < bEnd && b[bStart] == '0') {
        ++bStart;
    }
    if (aEnd - aStart != bEnd - bStart) {
        return aEnd - aStart < bEnd - bStart ? -1 : 1;
    }
    for (; aStart < aEnd; ++aStart, ++bStart) {
        if (a[aStart] != b[bStart]) {
            return a[aStart] < b[bStart] ? -1 : 1;
        }
    }
    return 0;
}

int CompareNaturally(const QList<uint>& a, const QList<uint>& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const qsizetype aEnd = DigitRunEnd(a, i);
            const qsizetype bEnd = DigitRunEnd(b, j);
            if (const int order = CompareDigitRuns(a, i, aEnd, b, j, bEnd); order != 0) {
                return order;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        }
        ++i;
        ++j;
    }
    return (i < a.size()) - (j < b.size());
}

}  // namespace

bool WalkWatch::Counted(bool folder) {
    ++(folder ? folders : files);
    if (progress) {
        progress(folders, files);
    }
    return Stopped();
}

void GetSubDirectories2016(QStringList& folders, bool recurse, Dialogs& dialogs,
                           QStringList* unentered, WalkWatch* watch) {
    ErrorReport report(dialogs, FolderWalkLocation());
    QStringList nextLevel;
    // Refused folders are dropped from `folders` along the way; walk the list as it came.
    const QStringList startingFolders = folders;
    for (const QString& folder : startingFolders) {
        if (!IsFolder(folder)) {
            continue;  // stays in the list, unentered
        }
        if (folder.size() >= kMaxPathLength) {
            Note(unentered, folder, "its path is too long to search below it");
            continue;
        }
        YieldToEventLoop();
        if (watch != nullptr && watch->Counted(true)) {
            return;
        }
        if (!report.Holds(116, [&] { return MayEnter(folder); })) {
            continue;
        }
        try {
            AppendSubfolders(folder, nextLevel, unentered);
        } catch (const RuntimeError& error) {
            Note(unentered, folder, error.description());
            // A folder that cannot be listed, or is gone, is no folder to take files from.
            // After any other failure it stays, though nothing below it was found.
            if (error.number() == kPermissionDenied || error.number() == kPathNotFound) {
                folders.removeOne(folder);
            }
        }
    }
    // One nested call per level, not per folder: it walks the whole next level and appends
    // the levels below it.
    if (recurse && !nextLevel.isEmpty()) {
        GetSubDirectories2016(nextLevel, true, dialogs, unentered, watch);
    }
    for (const QString& found : nextLevel) {
        if (!IsFolder(found)) {
            continue;  // vanished since it was found
        }
        YieldToEventLoop();
        if (report.Holds(158, [&] { return MayEnter(found); })) {
            folders.append(found);
        }
    }
}

QStringList GetFolderFiles(const QString& folder, const QString& pattern) {
    const QString prefix = folder.endsWith('/') ? folder : folder + '/';
    std::vector<DirectoryEntry> entries;
    try {
        entries = ReadDirectory(prefix);
    } catch (const RuntimeError& error) {
        if (error.number() == kPathNotFound) {
            return {};  // a folder that is not there holds no files
        }
        throw;
    }
    QStringList names;
    for (const DirectoryEntry& entry : entries) {
        const QString name = PathFromNative(entry.name);
        if (MatchesWildcard(name, pattern) && IsExistingFile(prefix + name)) {
            names.append(name);
        }
    }
    std::sort(names.begin(), names.end(), FileManagerLess);
    return names;
}

bool IsExistingFile(const QString& path) {
    if (path.isEmpty() || !IsPassable(path)) {
        return false;
    }
    const QByteArray native = NativePath(path);
    struct stat info {};
    // A FIFO or device is no document, and opening one may block or have side effects.
    if (::stat(native.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    // Non-blocking, in case a FIFO has taken the file's place since the test.
    const int descriptor = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (descriptor < 0) {
        return false;
    }
    ::close(descriptor);
    return true;
}

bool HasUnsafeChars(const QString& name) {
    // Windows-1252 keeps U+00A0 to U+00FF at the same codes, puts its other letters (the
    // euro sign, curly quotes, ...) at 128 to 159, and turns what it cannot represent into
    // "?" (63). Codes below 32, from 127 to 159, and 63 are unsafe, so what survives is
    // printable ASCII other than "?" and U+00A0 to U+00FF.
    const QList<uint> codes = EightBitCodes(name);
    return std::any_of(codes.begin(), codes.end(), [](uint code) {
        const bool printableAscii = code >= 32 && code <= 126 && code != '?';
        const bool upperLatin1 = code >= 0xA0 && code <= 0xFF;
        return !printableAscii && !upperLatin1;
    });
}

bool HasUnsafeChars(const QByteArray& nativeName) {
    return HasUnsafeChars(PathFromNative(nativeName));
}

bool IsWalkableSubfolderName(const QByteArray& nativeName) {
    if (nativeName == "." || nativeName == ".." || HasUnsafeChars(nativeName)) {
        return false;
    }
    return PathFromNative(nativeName).size() < kMaxPathLength;
}

bool MatchesWildcard(const QString& name, const QString& pattern) {
    if (MatchesFolded(CaseFolded(name), CaseFolded(pattern))) {
        return true;
    }
    return pattern.endsWith(".*") && MatchesWildcard(name, pattern.chopped(2));
}

bool FileManagerLess(const QString& a, const QString& b) {
    if (const int order = CompareNaturally(CaseFolded(a), CaseFolded(b)); order != 0) {
        return order < 0;
    }
    return a.toUcs4() < b.toUcs4();  // code point order, which is the order of the UTF-8 bytes
}

}  // namespace vellumax
