#pragma once

#include <QString>

namespace vellumax {

// The folder for temporary files: $TEMP, else $TMPDIR, else /tmp; made absolute against the
// current folder, without a trailing "/".
QString TemporaryFolder();

// Where a run makes its own folder: the temporary folder, unless others could rename or
// replace what is in it (writable by everybody without the sticky bit, or owned by another
// user); then $XDG_RUNTIME_DIR, then the user's cache folder. Throws RuntimeError when none of
// them is safe.
QString WorkFolderParent();

// A private folder for one run: a fresh unique name that only its owner may enter, so nobody
// else can plant or swap the files a run executes and reads. It stays locked while the object
// lives, which tells later starts that it is in use; it goes, with everything in it, when the
// object goes.
class WorkFolder {
public:
    // Throws RuntimeError, with the reason, when no folder can be made.
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const QString& path() const { return path_; }

private:
    void Remove();

    QString path_;
    int lock_ = -1;
};

// Removes, from `parent`, the folders that earlier runs of this program left behind when they
// were killed: only folders of our own name pattern, owned by this user, holding our lock file,
// and whose lock no live run holds.
void RemoveAbandonedWorkFolders(const QString& parent);

// The same for the folder runs work in now; never reports anything.
void RemoveAbandonedWorkFolders();

inline constexpr char kWorkFolderPrefix[] = "vellumax-";
inline constexpr char kLockFileName[] = "run.lock";

}  // namespace vellumax
