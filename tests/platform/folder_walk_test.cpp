#include "platform/folder_walk.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "platform/path_helpers.h"
#include "platform/runtime_error.h"
#include "scripted_dialogs.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;
using testing::ScriptedDialogs;

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

// Root passes every permission check, so refusals are tested in a child process that has
// dropped to the unprivileged uid and gid 65534 (as the current user when not root).
constexpr uid_t kNobody = 65534;
constexpr int kCannotDropPrivileges = 2;
constexpr int kCannotReachFolder = 3;

struct ChildResult {
    int exitCode = -1;
    QByteArray output;
};

void WriteAll(int descriptor, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t step = ::write(descriptor, bytes.constData() + written,
                                     static_cast<size_t>(bytes.size() - written));
        if (step < 0 && errno != EINTR) {
            return;
        }
        written += std::max<ssize_t>(step, 0);
    }
}

QByteArray ReadAll(int descriptor) {
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t step = ::read(descriptor, buffer, sizeof buffer);
        if (step > 0) {
            bytes.append(buffer, step);
        } else if (step == 0 || errno != EINTR) {
            return bytes;
        }
    }
}

// Runs `body` unprivileged in a forked child and returns what it wrote. The child leaves
// with _exit, so nothing of the test program's own state is torn down twice.
ChildResult RunUnprivileged(const QString& mustReach, const std::function<QByteArray()>& body) {
    int ends[2];
    if (::pipe(ends) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(kCannotDropPrivileges);
        }
        if (::access(Native(mustReach).constData(), R_OK | X_OK) != 0) {
            ::_exit(kCannotReachFolder);
        }
        WriteAll(ends[1], body());
        ::_exit(0);
    }
    ::close(ends[1]);
    ChildResult result;
    result.output = ReadAll(ends[0]);
    ::close(ends[0]);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

#define SKIP_UNLESS_CHILD_RAN(result)                                                     \
    if ((result).exitCode == kCannotDropPrivileges) {                                     \
        GTEST_SKIP() << "cannot drop to uid 65534 here, so no permission can be refused"; \
    }                                                                                     \
    if ((result).exitCode == kCannotReachFolder) {                                        \
        GTEST_SKIP() << "the temporary folder is out of reach for uid 65534";             \
    }                                                                                     \
    ASSERT_EQ((result).exitCode, 0)

// Runs `action` once, from the event loop, after something has opened `folder` or an entry
// in it. The walk yields to the event loop right after reading a folder, so a test can change
// the tree at a known point of the walk without waiting for anything.
class AfterFolderOpened {
public:
    AfterFolderOpened(const QString& folder, std::function<void()> action)
        : watch_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), action_(std::move(action)) {
        if (watch_ < 0 ||
            ::inotify_add_watch(watch_, Native(folder).constData(), IN_OPEN | IN_ONLYDIR) < 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(watch_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            notifier_->setEnabled(false);
            action_();
        });
    }
    AfterFolderOpened(const AfterFolderOpened&) = delete;
    AfterFolderOpened& operator=(const AfterFolderOpened&) = delete;
    ~AfterFolderOpened() {
        notifier_.reset();
        if (watch_ >= 0) {
            ::close(watch_);
        }
    }
    bool ready() const { return notifier_ != nullptr; }

private:
    int watch_;
    std::function<void()> action_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

class FolderWalkTest : public ::testing::Test {
protected:
    // Qt cannot remove what it cannot name, so entries whose names are not UTF-8 go first.
    ~FolderWalkTest() override {
        for (auto entry = rawEntries.crbegin(); entry != rawEntries.crend(); ++entry) {
            ::remove(entry->constData());
        }
    }

    QString Root() const { return folder.path() + '/'; }

    // Creates a folder, or an empty file, under a name given as raw bytes.
    void MakeRawEntry(const QByteArray& relativePath, bool isFolder) {
        const QByteArray path = Native(Root()) + relativePath;
        if (isFolder) {
            ASSERT_EQ(::mkdir(path.constData(), 0755), 0);
        } else {
            const int file = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_GE(file, 0);
            ::close(file);
        }
        rawEntries.push_back(path);
    }

    void MakeFolders(const QStringList& relativePaths) const {
        for (const QString& path : relativePaths) {
            ASSERT_TRUE(QDir().mkpath(Root() + path)) << path.toStdString();
        }
    }
    void MakeLink(const QString& target, const QString& relativePath) const {
        ASSERT_EQ(::symlink(Native(target).constData(), Native(Root() + relativePath).constData()),
                  0);
    }
    void SetMode(const QString& relativePath, mode_t mode) const {
        ASSERT_EQ(::chmod(Native(Root() + relativePath).constData(), mode), 0);
    }
    // Expected folder paths, given below the root: "" is the root itself.
    QStringList Under(const QStringList& relativeFolders) const {
        QStringList paths;
        for (const QString& relative : relativeFolders) {
            paths.append(Root() + relative);
        }
        return paths;
    }
    QStringList Walk(QStringList folders, bool recurse) {
        GetSubDirectories2016(folders, recurse, dialogs);
        return folders;
    }

    QTemporaryDir folder;
    ScriptedDialogs dialogs;  // any error report fails the test unless one is queued
    std::vector<QByteArray> rawEntries;
};

struct WalkCase {
    bool recurse;
    QStringList expected;
};

class WalkExampleTest : public FolderWalkTest, public ::testing::WithParamInterface<WalkCase> {};
TEST_P(WalkExampleTest, ListsTheStartThenEachLevelInTurn) {
    MakeFolders({"A/A1", "A/A2", "B/B1"});
    MakeFile(Root() + "A/scan.mdi");
    EXPECT_EQ(Walk({Root()}, GetParam().recurse), Under(GetParam().expected));
}
INSTANTIATE_TEST_SUITE_P(Recursion, WalkExampleTest,
                         ::testing::Values(WalkCase{true,
                                                    {"", "A/", "B/", "A/A1/", "A/A2/", "B/B1/"}},
                                           WalkCase{false, {"", "A/", "B/"}}));

TEST_F(FolderWalkTest, SubfoldersComeInFileManagerOrder) {
    MakeFolders({"page10", "Page2", "page1", "_first"});
    EXPECT_EQ(Walk({Root()}, false), Under({"", "_first/", "page1/", "Page2/", "page10/"}));
}

TEST_F(FolderWalkTest, AMissingStartingFolderStaysUnentered) {
    MakeFolders({"A"});
    EXPECT_EQ(Walk({Root() + "missing/", Root()}, true), Under({"missing/", "", "A/"}));
}

class VanishingFolderTest : public FolderWalkTest, public ::testing::WithParamInterface<bool> {};
TEST_P(VanishingFolderTest, AFolderFoundThatVanishesBeforeItsLevelIsAppendedIsLeftOut) {
    MakeFolders({"A", "B/B1"});
    AfterFolderOpened removeB(Root(), [this] { QDir(Root() + "B").removeRecursively(); });
    ASSERT_TRUE(removeB.ready());
    EXPECT_EQ(Walk({Root()}, GetParam()), Under({"", "A/"}));
    EXPECT_FALSE(QFileInfo::exists(Root() + "B"));  // it did vanish during the walk
}
INSTANTIATE_TEST_SUITE_P(Recursion, VanishingFolderTest, ::testing::Bool());

TEST_F(FolderWalkTest, AStartingFolderThatVanishesBeforeItIsEnteredIsReportedAndDropped) {
    MakeFolders({"R", "S/S1"});
    // R holds nothing, so the next yield after reading it comes before S is examined.
    AfterFolderOpened removeS(Root() + "R", [this] { QDir(Root() + "S").removeRecursively(); });
    ASSERT_TRUE(removeS.ready());
    dialogs.AnswerMessage(MessageAnswer::Ok);

    EXPECT_EQ(Walk(Under({"R/", "S/"}), true), Under({"R/"}));
    ASSERT_EQ(dialogs.messages().size(), 1u);
    EXPECT_TRUE(dialogs.messages()[0].text.startsWith(
        "Path not found\r\nin Brimwold2021/08/31.AddFolder.GetSubDirectories2016 at line 116\r\r"))
        << dialogs.messages()[0].text.toStdString();
    EXPECT_EQ(dialogs.messages()[0].title, "Application Error");
}

QByteArray WalkReport(QStringList folders, bool recurse) {
    ScriptedDialogs dialogs;
    GetSubDirectories2016(folders, recurse, dialogs);
    return (QString::number(dialogs.messages().size()) + '\n' + folders.join('\n')).toUtf8();
}

TEST_F(FolderWalkTest, AFolderWhoseListingIsRefusedIsDroppedSilently) {
    MakeFolders({"A/A1", "B/B1"});
    SetMode("", 0755);
    SetMode("A", 0);
    const ChildResult fromRoot =
        RunUnprivileged(Root(), [&] { return WalkReport({Root()}, true); });
    const ChildResult fromA =
        RunUnprivileged(Root(), [&] { return WalkReport({Root() + "A/"}, false); });
    SetMode("A", 0755);

    SKIP_UNLESS_CHILD_RAN(fromRoot);
    // No error box; A is found as a subfolder but dropped once its listing is refused.
    EXPECT_EQ(QString::fromUtf8(fromRoot.output), "0\n" + Under({"", "B/", "B/B1/"}).join('\n'));
    ASSERT_EQ(fromA.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(fromA.output), "0\n");  // a refused start leaves nothing
}

class PathLimitTest : public FolderWalkTest, public ::testing::WithParamInterface<int> {};
TEST_P(PathLimitTest, AFolderPathOf260CharactersIsNotEntered) {
    const qsizetype length = GetParam();
    const QString padding(length - Root().size() - 1, 'p');  // Root() + padding + "/"
    ASSERT_LE(padding.size(), 255) << "the temporary folder's path is too long for this test";
    MakeFolders({padding + "/c/d"});
    ASSERT_EQ((Root() + padding + '/').size(), length);

    const QStringList found = Walk({Root()}, true);
    if (length < kMaxPathLength) {
        // Entered; its child is listed, but that child's path is too long to enter.
        EXPECT_EQ(found, Under({"", padding + '/', padding + "/c/"}));
    } else {
        EXPECT_EQ(found, Under({"", padding + '/'}));
    }
}
INSTANTIATE_TEST_SUITE_P(Lengths, PathLimitTest, ::testing::Values(259, 260));

TEST_F(FolderWalkTest, SubfoldersWithUnsafeNamesAreLeftOutWithEverythingBelow) {
    MakeFolders({"ok/x", "café/x", "łódź/x", "euro€/x", "what?/x", "tab\tname/x"});
    // Bytes that are not UTF-8 count as their own 8-bit codes: \xff is "ÿ", \x81 is unsafe.
    MakeRawEntry("bad\xff", true);
    MakeRawEntry("bad\xff/x", true);
    MakeRawEntry("bad\x81", true);
    const QString latin1 = PathFromNative("bad\xff/");
    EXPECT_EQ(Walk({Root()}, true),
              Under({"", latin1, "café/", "ok/", latin1 + "x/", "café/x/", "ok/x/"}));
}

TEST_F(FolderWalkTest, HiddenFoldersAndLinksToFoldersAreWalkedButNoLinkBackUp) {
    // Hidden + system + directory (22, or 1046 with the link bit) is what keeps Windows'
    // looping junctions out; the system bit never occurs here, so a hidden folder (18) and a
    // link to a folder (1040) are walked like any other, and loops are caught by identity.
    MakeFolders({".hidden/x", "real/y"});
    MakeLink("real", "link");
    MakeLink("nowhere", "dead");
    MakeLink("..", "real/back");
    MakeFile(Root() + "file.mdi");
    EXPECT_EQ(Walk({Root()}, true),
              Under({"", ".hidden/", "link/", "real/", ".hidden/x/", "link/y/", "real/y/"}));
}

struct NameCase {
    QByteArray name;
    bool walkable;
};

class WalkableNameTest : public ::testing::TestWithParam<NameCase> {};
TEST_P(WalkableNameTest, AcceptsOnlyNamesTheHelperToolsCanBeGiven) {
    EXPECT_EQ(IsWalkableSubfolderName(GetParam().name), GetParam().walkable)
        << GetParam().name.toStdString();
}
INSTANTIATE_TEST_SUITE_P(
    Names, WalkableNameTest,
    ::testing::Values(NameCase{"scan", true}, NameCase{"...", true}, NameCase{".git", true},
                      NameCase{".", false}, NameCase{"..", false},
                      // No file system here stores names this long; the limit stays for
                      // names that come from elsewhere.
                      NameCase{QByteArray(259, 'n'), true}, NameCase{QByteArray(260, 'n'), false},
                      NameCase{QByteArray(130, 'n') + "\xc3\xa9" + QByteArray(128, 'n'), true},
                      NameCase{"a?b", false},
                      NameCase{"\xc5\x82\xc3\xb3"
                               "d\xc5\xba",
                               false},
                      NameCase{"bad\xff", true}, NameCase{"bad\x81", false}));

struct UnsafeCase {
    const char* utf8;
    bool unsafe;
};

class HasUnsafeCharsTest : public ::testing::TestWithParam<UnsafeCase> {};
TEST_P(HasUnsafeCharsTest, JudgesEachCharacterByItsWindows1252Code) {
    const QByteArray bytes(GetParam().utf8);
    EXPECT_EQ(HasUnsafeChars(bytes), GetParam().unsafe) << bytes.toHex().toStdString();
    // The same name as a path text, which keeps each byte that is not UTF-8.
    EXPECT_EQ(HasUnsafeChars(PathFromNative(bytes)), GetParam().unsafe);
}
INSTANTIATE_TEST_SUITE_P(
    Characters, HasUnsafeCharsTest,
    ::testing::Values(UnsafeCase{"scan 2019.mdi", false}, UnsafeCase{"~$note", false},
                      UnsafeCase{"caf\xc3\xa9", false},      // é, 233
                      UnsafeCase{"\xc2\xa0", false},         // no-break space, 160
                      UnsafeCase{"\xc3\xbf", false},         // ÿ, 255
                      UnsafeCase{"a?b", true},               // 63
                      UnsafeCase{"a\x1f", true},             // below 32
                      UnsafeCase{"a\x7f", true},             // 127
                      UnsafeCase{"\xc2\x9f", true},          // U+009F, 159
                      UnsafeCase{"\xe2\x82\xac", true},      // €, 128 in Windows-1252
                      UnsafeCase{"\xe2\x80\x98", true},      // left quote, 145
                      UnsafeCase{"\xc5\x82", true},          // ł, not in Windows-1252
                      UnsafeCase{"\xc4\x80", true},          // U+0100
                      UnsafeCase{"\xf0\x9f\x93\x84", true},  // outside the BMP
                      // Not UTF-8: each such byte is its own code.
                      UnsafeCase{"bad\xff", false},      // 255
                      UnsafeCase{"\xc0\xaf", false},     // 192, 175
                      UnsafeCase{"\xed\xa0\x80", true},  // ..., 128
                      UnsafeCase{"caf\x9f", true}));     // 159

struct WildcardCase {
    const char* name;
    const char* pattern;
    bool matches;
};

class MatchesWildcardTest : public ::testing::TestWithParam<WildcardCase> {};
TEST_P(MatchesWildcardTest, MatchesLikeWindows) {
    EXPECT_EQ(
        MatchesWildcard(QString::fromUtf8(GetParam().name), QString::fromUtf8(GetParam().pattern)),
        GetParam().matches);
}
INSTANTIATE_TEST_SUITE_P(
    Patterns, MatchesWildcardTest,
    ::testing::Values(
        WildcardCase{"SCAN.MDI", "*.mdi", true}, WildcardCase{"scan.mdi", "*.MDI", true},
        WildcardCase{"scan.mdix", "*.mdi", false}, WildcardCase{"scan.mdi.tmp", "*.mdi", false},
        WildcardCase{"README", "*.*", true}, WildcardCase{".hidden", "*.*", true},
        WildcardCase{"a.b.c", "*.*", true}, WildcardCase{"notes", "notes.*", true},
        WildcardCase{"page2.jpg", "page?.jpg", true},
        WildcardCase{"page10.jpg", "page?.jpg", false}, WildcardCase{"x..mdi", "*..mdi", true},
        WildcardCase{"x.mdi", "*..mdi", false},
        WildcardCase{"\xc5\x81\xc3\x93"
                     "D\xc5\xb9.TXT",
                     "\xc5\x82\xc3\xb3"
                     "d\xc5\xba.txt",
                     true},
        WildcardCase{"a*b", "a*b", true}, WildcardCase{"ab", "a*b*", true},
        WildcardCase{"aXbXc", "a*b*c", true}, WildcardCase{"aXbX", "a*b*c", false},
        WildcardCase{"scan.mdi", "", false}, WildcardCase{"x", "*", true}));

struct OrderCase {
    const char* a;
    const char* b;
    bool less;
};

class FileManagerLessTest : public ::testing::TestWithParam<OrderCase> {};
TEST_P(FileManagerLessTest, OrdersAsAFileManagerShowsNames) {
    const QString a = QString::fromUtf8(GetParam().a);
    const QString b = QString::fromUtf8(GetParam().b);
    EXPECT_EQ(FileManagerLess(a, b), GetParam().less);
    if (a != b) {
        EXPECT_NE(FileManagerLess(b, a), GetParam().less);  // a strict, total order
    }
}
INSTANTIATE_TEST_SUITE_P(
    Names, FileManagerLessTest,
    ::testing::Values(OrderCase{"page2", "page10", true}, OrderCase{"page10", "page2", false},
                      OrderCase{"a", "B", true}, OrderCase{"B", "a", false},
                      OrderCase{"A", "a", true},  // equal but for case: byte order decides
                      OrderCase{"file01", "file1", true}, OrderCase{"x", "x", false},
                      OrderCase{"_a", "a", true}, OrderCase{"a", "a1", true},
                      OrderCase{"a9b", "a10a", true}, OrderCase{"a1b", "a1a", false},
                      OrderCase{"n99999999999999999999999", "n100000000000000000000000", true},
                      OrderCase{"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89 2", true},
                      OrderCase{".hidden", "a", true}));

class FolderFilesTest : public FolderWalkTest {
protected:
    void SetUp() override {
        for (const char* name : {"b.mdi", "A.MDI", ".hidden.mdi", "page10.mdi", "page2.mdi",
                                 "notes.txt", "README", "bad\xef\xbf\xbd.mdi"}) {
            MakeFile(Root() + QString::fromUtf8(name));
        }
        // Not UTF-8: listed under a text that gives its bytes back, never as "bad\uFFFD.mdi".
        MakeRawEntry("bad\xff.mdi", false);
        MakeFolders({"sub.mdi"});
        MakeLink("b.mdi", "link.mdi");
        MakeLink("nowhere.mdi", "dead.mdi");
        ASSERT_EQ(::mkfifo(Native(Root() + "pipe.mdi").constData(), 0644), 0);
    }
};

TEST_F(FolderFilesTest, AFolderWithNoMatchingFileGivesTheEmptyList) {
    EXPECT_EQ(GetFolderFiles(Root(), "*.jpg"), QStringList());
    EXPECT_EQ(GetFolderFiles(Root() + "sub.mdi", "*.*"), QStringList());
}

TEST_F(FolderFilesTest, AMissingFolderHoldsNoFiles) {
    EXPECT_EQ(GetFolderFiles(Root() + "missing", "*.*"), QStringList());
    EXPECT_EQ(GetFolderFiles(Root() + "b.mdi", "*.*"), QStringList());
}

struct ListingCase {
    const char* pattern;
    QStringList expected;
};

class FolderFilesPatternTest : public FolderFilesTest,
                               public ::testing::WithParamInterface<ListingCase> {};
TEST_P(FolderFilesPatternTest, ListsMatchingFilesInNaturalOrderWithOrWithoutTheSeparator) {
    const QString pattern = QString::fromUtf8(GetParam().pattern);
    EXPECT_EQ(GetFolderFiles(Root(), pattern), GetParam().expected);
    EXPECT_EQ(GetFolderFiles(folder.path(), pattern), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Patterns, FolderFilesPatternTest,
    ::testing::Values(ListingCase{"*.mdi",
                                  {".hidden.mdi", "A.MDI", "b.mdi", "bad\uFFFD.mdi",
                                   PathFromNative("bad\xff.mdi"), "link.mdi", "page2.mdi",
                                   "page10.mdi"}},
                      ListingCase{"*.*",
                                  {".hidden.mdi", "A.MDI", "b.mdi", "bad\uFFFD.mdi",
                                   PathFromNative("bad\xff.mdi"), "link.mdi", "notes.txt",
                                   "page2.mdi", "page10.mdi", "README"}},
                      ListingCase{"page?.MDI", {"page2.mdi"}}, ListingCase{"*..mdi", {}}));

TEST_F(FolderWalkTest, ARefusedFolderCannotBeListed) {
    MakeFolders({"closed"});
    MakeFile(Root() + "closed/a.mdi");
    SetMode("", 0755);
    SetMode("closed", 0);
    const ChildResult child = RunUnprivileged(Root(), [&]() -> QByteArray {
        try {
            GetFolderFiles(Root() + "closed", "*.*");
            return "listed";
        } catch (const RuntimeError& error) {
            return QByteArray::number(error.number()) + ' ' + error.description().toUtf8();
        }
    });
    SetMode("closed", 0755);
    SKIP_UNLESS_CHILD_RAN(child);
    EXPECT_EQ(child.output, "70 Permission denied");
}

struct ExistingFileCase {
    const char* relativePath;
    bool exists;
};

class IsExistingFileTest : public FolderFilesTest,
                           public ::testing::WithParamInterface<ExistingFileCase> {};
TEST_P(IsExistingFileTest, IsTrueOnlyForARegularFileThatOpens) {
    EXPECT_EQ(IsExistingFile(Root() + QString::fromUtf8(GetParam().relativePath)),
              GetParam().exists);
}
INSTANTIATE_TEST_SUITE_P(
    Entries, IsExistingFileTest,
    ::testing::Values(ExistingFileCase{"b.mdi", true}, ExistingFileCase{".hidden.mdi", true},
                      ExistingFileCase{"link.mdi", true}, ExistingFileCase{"sub.mdi", false},
                      ExistingFileCase{"missing.mdi", false}, ExistingFileCase{"dead.mdi", false},
                      ExistingFileCase{"pipe.mdi", false},  // never blocks
                      ExistingFileCase{"b.mdi/", false}));

TEST_F(FolderFilesTest, IsExistingFileIsFalseForAnEmptyPathOrOneWithANul) {
    EXPECT_FALSE(IsExistingFile(""));
    // The system would see only the text before the NUL, which names a real file.
    EXPECT_FALSE(IsExistingFile(Root() + "b.mdi" + QChar(u'\0') + "junk"));
}

TEST_F(FolderWalkTest, IsExistingFileIsFalseForAFileThatRefusesToOpen) {
    MakeFile(Root() + "open.mdi");
    MakeFile(Root() + "closed.mdi");
    SetMode("", 0755);
    SetMode("open.mdi", 0644);
    SetMode("closed.mdi", 0);
    const ChildResult child = RunUnprivileged(Root(), [&] {
        return QByteArray::number(IsExistingFile(Root() + "open.mdi")) +
               QByteArray::number(IsExistingFile(Root() + "closed.mdi"));
    });
    SKIP_UNLESS_CHILD_RAN(child);
    EXPECT_EQ(child.output, "10");
}

}  // namespace
}  // namespace vellumax
