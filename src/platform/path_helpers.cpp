#include "platform/path_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

#include <utility>

#include "platform/event_loop.h"
#include "platform/file_attributes.h"
#include "platform/file_descriptor.h"
#include "platform/runtime_error.h"

namespace vellumax {

namespace {

QByteArray Native(const QString& path) {
    return NativePath(path);
}

constexpr char16_t kForeignByteBase = 0xDC00;

bool IsForeignByte(QChar c) {
    return c.unicode() >= kForeignByteBase + 0x80 && c.unicode() <= kForeignByteBase + 0xFF;
}

// The same codes are the second halves of some surrogate pairs ("📄" is D83D DCC4).
bool IsForeignByteAt(const QString& text, qsizetype at) {
    return IsForeignByte(text[at]) && (at == 0 || !text[at - 1].isHighSurrogate());
}

// The length of the well-formed UTF-8 sequence at `at`, or 0 when the byte there starts none.
qsizetype Utf8SequenceAt(const QByteArray& bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    qsizetype length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (qsizetype i = at + 2; i < at + length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

QString CollapseDoubledSeparators(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        result += text[i];
        if (text[i] == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            ++i;  // the pair counts as one; a third "/" starts the next pair
        }
    }
    return result;
}

// Owns a file descriptor for the length of one call.
class FileHandle {
public:
    explicit FileHandle(int descriptor) : descriptor_(descriptor) {}
    FileHandle(FileHandle&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle& operator=(FileHandle&&) = delete;
    ~FileHandle() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    int get() const { return descriptor_; }
    // Closes now, so that a late write error (a full disk on a network share) is seen.
    int Close() {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result;
    }

private:
    int descriptor_;
};

void WriteAll(int descriptor, const QByteArray& bytes) {
    if (!WriteFully(descriptor, bytes.constData(), static_cast<size_t>(bytes.size()))) {
        throw ErrorFromErrno(errno, FileAccess::Write);
    }
}

FileHandle OpenForWriting(const QString& path, int openFlags) {
    FileHandle file(::open(Native(path).constData(), openFlags | O_WRONLY | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        throw ErrorFromErrno(errno, FileAccess::Write);
    }
    return file;
}

void WriteAndClose(FileHandle& file, const QByteArray& bytes) {
    WriteAll(file.get(), bytes);
    if (file.Close() != 0) {
        throw ErrorFromErrno(errno, FileAccess::Write);
    }
}

}  // namespace

QString PathFromNative(const QByteArray& native) {
    QString path;
    path.reserve(native.size());
    for (qsizetype at = 0; at < native.size();) {
        const qsizetype length = Utf8SequenceAt(native, at);
        if (length == 0) {
            path += QChar(char16_t(kForeignByteBase + static_cast<unsigned char>(native[at])));
            ++at;
            continue;
        }
        path += QString::fromUtf8(native.constData() + at, length);
        at += length;
    }
    return path;
}

QByteArray NativePath(const QString& path) {
    QByteArray native;
    native.reserve(path.size());
    qsizetype plainFrom = 0;
    const auto flushPlain = [&](qsizetype to) {
        native += QStringView(path).mid(plainFrom, to - plainFrom).toUtf8();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (IsForeignByteAt(path, i)) {
            flushPlain(i);
            native += static_cast<char>(path[i].unicode() - kForeignByteBase);
            plainFrom = i + 1;
        }
    }
    flushPlain(path.size());
    return native;
}

bool HasForeignBytes(const QString& path) {
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (IsForeignByteAt(path, i)) {
            return true;
        }
    }
    return false;
}

std::optional<unsigned char> ForeignByteAt(const QString& path, qsizetype at) {
    if (!IsForeignByteAt(path, at)) {
        return std::nullopt;
    }
    return static_cast<unsigned char>(path[at].unicode() - kForeignByteBase);
}

QString AbsolutePath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

bool PathExists(const QString& path) {
    struct stat info {};
    return !path.isEmpty() && ::lstat(Native(path).constData(), &info) == 0;
}

bool IsFolder(const QString& path) {
    try {
        return (FileAttributes(path) & kDirectory) != 0;
    } catch (...) {
        return false;
    }
}

QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

QString FolderOf(const QString& path) {
    return path.left(path.lastIndexOf('/') + 1);
}

QString StripExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot >= 1 ? name.left(dot) : name;
}

QString NormalizePath(const QString& path) {
    if (!path.startsWith('/')) {
        return CollapseDoubledSeparators(path);
    }
    qsizetype firstAfterRun = 1;
    while (firstAfterRun < path.size() && path[firstAfterRun] == '/') {
        ++firstAfterRun;
    }
    const QString lead = firstAfterRun == 1 ? "/" : "//";
    return lead + CollapseDoubledSeparators(path.mid(firstAfterRun));
}

void WriteTextFile(const QString& text, const QString& path) {
    FileHandle file = OpenForWriting(path, O_CREAT | O_TRUNC);
    WriteAndClose(file, (text + '\n').toLocal8Bit());
}

void WriteBytesIfMissing(const QByteArray& bytes, const QString& path) {
    YieldToEventLoop();
    if (PathExists(path)) {
        return;
    }
    // O_EXCL: never write through something that appeared since the test, such as a link.
    FileHandle file = OpenForWriting(path, O_CREAT | O_EXCL);
    try {
        WriteAndClose(file, bytes);
    } catch (const RuntimeError&) {
        ::unlink(Native(path).constData());
        throw;
    }
}

bool MakeFolders(const QString& path) {
    const QByteArray native = NativePath(path);
    for (qsizetype end = native.indexOf('/', 1); end >= 0; end = native.indexOf('/', end + 1)) {
        ::mkdir(native.left(end).constData(), 0777);
    }
    ::mkdir(native.constData(), 0777);
    return IsFolder(path);
}

void DeleteFileQuietly(const QString& path) {
    YieldToEventLoop();
    if (::unlink(Native(path).constData()) == 0) {
        return;
    }
    try {
        ForceDeleteFile(path);
    } catch (...) {
        // Deleting never reports; a file that stays is the only trace.
    }
}

void ForceDeleteFile(const QString& path) {
    const QByteArray native = Native(path);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0) {
        throw ErrorFromErrno(errno, FileAccess::Read);
    }
    if (S_ISDIR(info.st_mode)) {
        throw ErrorFromErrno(ENOENT, FileAccess::Read);  // a folder is not a file
    }
    if (!S_ISLNK(info.st_mode)) {
        ::chmod(native.constData(), info.st_mode | S_IWUSR);
    }
    if (::unlink(native.constData()) != 0) {
        throw ErrorFromErrno(errno, FileAccess::Write);
    }
}

QString OnOneLine(const QString& text) {
    QString line;
    line.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            line += "\\x" + QString::number(c.unicode(), 16).rightJustified(2, '0');
        } else if (IsForeignByteAt(text, i)) {
            line += "\\x" + QString::number(c.unicode() - kForeignByteBase, 16);
        } else {
            line += c;
        }
    }
    return line;
}

}  // namespace vellumax
