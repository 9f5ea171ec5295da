#include "platform/path_helpers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/file_attributes.h"
#include "platform/runtime_error.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::MakeFile;

struct TextCase {
    const char* input;
    const char* expected;
};

// Every name the system can give comes back byte for byte; what is UTF-8 reads as itself, and
// what is not shows escaped.
class NativeNameTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(NativeNameTest, GoesBackToItsOwnBytes) {
    const QByteArray native(GetParam().input);
    const QString path = PathFromNative(native);
    EXPECT_EQ(NativePath(path), native);
    EXPECT_EQ(OnOneLine(path), QString::fromUtf8(GetParam().expected));
    EXPECT_EQ(HasForeignBytes(path), OnOneLine(path) != QString::fromUtf8(native));
}
INSTANTIATE_TEST_SUITE_P(Names, NativeNameTest,
                         ::testing::Values(TextCase{"caf\xc3\xa9.mdi", "café.mdi"},
                                           TextCase{"\xf0\x9f\x93\x84", "\xf0\x9f\x93\x84"},
                                           TextCase{"lat\xe9.mdi", "lat\\xe9.mdi"},
                                           TextCase{"\xc0\xaf", "\\xc0\\xaf"},
                                           TextCase{"\xed\xa0\x80", "\\xed\\xa0\\x80"},
                                           TextCase{"cut\xc3", "cut\\xc3"},
                                           TextCase{"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}));

class FileNameOfTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(FileNameOfTest, TakesTheTextAfterTheLastSeparator) {
    EXPECT_EQ(FileNameOf(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Paths, FileNameOfTest,
                         ::testing::Values(TextCase{"/in/scan.mdi", "scan.mdi"},
                                           TextCase{"/in/", ""}, TextCase{"scan.mdi", "scan.mdi"},
                                           TextCase{"//server/share/a.mdi", "a.mdi"}));

class FolderOfTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(FolderOfTest, KeepsTheTextUpToAndWithTheLastSeparator) {
    EXPECT_EQ(FolderOf(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Paths, FolderOfTest,
                         ::testing::Values(TextCase{"/in/scan.mdi", "/in/"},
                                           TextCase{"//server/share/a.mdi", "//server/share/"},
                                           TextCase{"scan.mdi", ""}, TextCase{"/", "/"}));

class StripExtensionTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(StripExtensionTest, CutsOnlyTheLastExtension) {
    EXPECT_EQ(StripExtension(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(Names, StripExtensionTest,
                         ::testing::Values(TextCase{"scan.mdi", "scan"},
                                           TextCase{"scan.2019.mdi", "scan.2019"},
                                           TextCase{"a.b.c", "a.b"}, TextCase{".mdi", ".mdi"},
                                           TextCase{".hidden", ".hidden"},
                                           TextCase{"README", "README"}, TextCase{"", ""},
                                           TextCase{"x.", "x"}));

class NormalizePathTest : public ::testing::TestWithParam<TextCase> {};
TEST_P(NormalizePathTest, CollapsesDoubledSeparatorsInOnePass) {
    EXPECT_EQ(NormalizePath(GetParam().input), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Paths, NormalizePathTest,
    ::testing::Values(TextCase{"out//scan", "out/scan"}, TextCase{"out///scan", "out//scan"},
                      TextCase{"out////scan", "out//scan"}, TextCase{"", ""},
                      // An absolute path stays absolute: a single leading separator is kept.
                      TextCase{"/out/scan", "/out/scan"}, TextCase{"/out//scan", "/out/scan"},
                      TextCase{"/", "/"},
                      // A network path keeps exactly two leading separators.
                      TextCase{"//server//share/x", "//server/share/x"},
                      TextCase{"///server/x", "//server/x"}, TextCase{"////", "//"}));

class FileSystemTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return folder.path() + '/' + name; }
    QTemporaryDir folder;
};

TEST_F(FileSystemTest, PathExistsAndIsFolderTellFilesFoldersAndNothingApart) {
    MakeFile(Path("file.mdi"));
    EXPECT_TRUE(PathExists(Path("file.mdi")));
    EXPECT_TRUE(PathExists(folder.path()));
    EXPECT_FALSE(PathExists(Path("missing")));
    EXPECT_FALSE(PathExists(""));

    EXPECT_FALSE(IsFolder(Path("file.mdi")));
    EXPECT_FALSE(IsFolder(Path("missing")));
    EXPECT_FALSE(IsFolder(""));
    EXPECT_TRUE(IsFolder(folder.path()));
    EXPECT_TRUE(IsFolder(folder.path() + '/'));
}

TEST_F(FileSystemTest, AttributesAreSynthesizedFromTheFileSystem) {
    MakeFile(Path(".hidden"));
    MakeFile(Path(".readonly"));
    ASSERT_EQ(::chmod(QFile::encodeName(Path(".readonly")).constData(), 0444), 0);
    ASSERT_TRUE(QDir().mkdir(Path("sub")));
    ASSERT_EQ(::symlink("sub", QFile::encodeName(Path("link")).constData()), 0);

    EXPECT_EQ(FileAttributes(Path(".hidden")), kHidden | kArchive);                // 34
    EXPECT_EQ(FileAttributes(Path(".readonly")), kReadOnly | kHidden | kArchive);  // 35
    EXPECT_EQ(FileAttributes(Path("sub")), kDirectory);
    EXPECT_EQ(FileAttributes(Path("sub/")), kDirectory);
    EXPECT_EQ(FileAttributes(Path("link")), kReparsePoint | kDirectory);
    EXPECT_THROW(FileAttributes(Path("missing")), RuntimeError);
}

TEST_F(FileSystemTest, WriteTextFileReplacesTheFileWithOneLine) {
    MakeFile(Path("marker.tmp"), "an older and longer content");
    WriteTextFile("Vellumax", Path("marker.tmp"));
    QFile written(Path("marker.tmp"));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("Vellumax\n"));
}

TEST_F(FileSystemTest, WriteTextFileIntoAMissingFolderRaisesPathNotFound) {
    try {
        WriteTextFile("x", Path("missing/marker.tmp"));
        FAIL() << "no error raised";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number(), 76);
        EXPECT_EQ(error.description(), "Path not found");
    }
}

TEST_F(FileSystemTest, WriteBytesIfMissingLeavesAnExistingFileExactlyAsItWas) {
    MakeFile(Path("tool"), "old");
    const QDateTime before = QFileInfo(Path("tool")).lastModified();
    ::usleep(20'000);
    WriteBytesIfMissing("new content", Path("tool"));
    QFile tool(Path("tool"));
    ASSERT_TRUE(tool.open(QIODevice::ReadOnly));
    EXPECT_EQ(tool.readAll(), QByteArray("old"));
    EXPECT_EQ(QFileInfo(Path("tool")).lastModified(), before);

    WriteBytesIfMissing(QByteArray("\0\1\2", 3), Path("fresh"));
    QFile fresh(Path("fresh"));
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    EXPECT_EQ(fresh.readAll(), QByteArray("\0\1\2", 3));
}

TEST_F(FileSystemTest, WriteBytesIfMissingNeverWritesThroughALink) {
    MakeFile(Path("target"), "precious");
    ASSERT_EQ(::symlink("target", QFile::encodeName(Path("link")).constData()), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(Path("dangling")).constData()), 0);
    WriteBytesIfMissing("overwritten", Path("link"));
    WriteBytesIfMissing("created", Path("dangling"));
    QFile target(Path("target"));
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_EQ(target.readAll(), QByteArray("precious"));
    EXPECT_FALSE(QFileInfo::exists(Path("nowhere")));
}

TEST_F(FileSystemTest, DeleteFileQuietlyRemovesFilesAndNeverComplains) {
    MakeFile(Path("plain"));
    MakeFile(Path("readonly"));
    ASSERT_EQ(::chmod(QFile::encodeName(Path("readonly")).constData(), 0444), 0);
    ASSERT_TRUE(QDir().mkdir(Path("folder")));

    DeleteFileQuietly(Path("plain"));
    DeleteFileQuietly(Path("readonly"));
    DeleteFileQuietly(Path("missing"));
    DeleteFileQuietly(Path("folder"));

    EXPECT_FALSE(PathExists(Path("plain")));
    EXPECT_FALSE(PathExists(Path("readonly")));
    EXPECT_TRUE(IsFolder(Path("folder"))) << "a folder is not a file to delete";
}

TEST_F(FileSystemTest, ForceDeleteFileRaisesForAMissingFile) {
    try {
        ForceDeleteFile(Path("missing"));
        FAIL() << "no error raised";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.description(), "File not found");
    }
}

}  // namespace
}  // namespace vellumax
