#include "conversion/pending_target.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>

#include "conversion/reader_failures.h"
#include "platform/path_helpers.h"

namespace vellumax::reader {

PendingTarget::~PendingTarget() {
    if (!path_.isEmpty()) {
        ::unlink(path_.constData());
    }
}

std::optional<ReaderFailure> PendingTarget::Create(const QString& target) {
    QString folder = QFileInfo(target).path();
    if (folder.isEmpty()) {
        folder = ".";
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = QString(".vellumax-%1.tmp")
                                 .arg(QRandomGenerator::global()->generate(), 8, 16, QChar('0'));
        const QByteArray path = NativePath(folder + "/" + name);
        const int descriptor =
            ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            descriptor_ = FileDescriptor(descriptor);
            path_ = path;
            return std::nullopt;
        }
        if (errno != EEXIST) {
            return AccessError(SystemReason(errno, FileAccess::Write));
        }
    }
    return AccessError(SystemReason(EEXIST, FileAccess::Write));
}

std::optional<ReaderFailure> PendingTarget::Commit(const QString& target) {
    // Not flushed: the file lives for one conversion in the run's own folder, and a crash
    // takes the run with it.
    if (descriptor_.Close() != 0) {
        return AccessError(SystemReason(errno, FileAccess::Write));
    }
    if (::rename(path_.constData(), NativePath(target).constData()) != 0) {
        return AccessError(SystemReason(errno, FileAccess::Write));
    }
    path_.clear();
    return std::nullopt;
}

}  // namespace vellumax::reader
