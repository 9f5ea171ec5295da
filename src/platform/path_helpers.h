#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace vellumax {

// Path texts use "/" as separator and are compared exactly, case-sensitively.

// File names are bytes here, and old archives hold names that are not UTF-8 (Latin-1, code
// pages). A path text keeps every such byte as a character of its own, U+DC80 to U+DCFF, so
// that any name the system gives goes back to it unchanged: PathFromNative and NativePath are
// exact inverses, where Qt's own file-name conversion replaces such bytes for good.
QString PathFromNative(const QByteArray& native);
QByteArray NativePath(const QString& path);
// Whether the path text holds a byte that is not UTF-8.
bool HasForeignBytes(const QString& path);
// The byte the character at `at` of a path text stands for, when it is one that is not UTF-8.
std::optional<unsigned char> ForeignByteAt(const QString& path, qsizetype at);

bool PathExists(const QString& path);  // anything at all is there; never throws
bool IsFolder(const QString& path);    // a folder (or a link to one); never throws

// The path made absolute and clean, as reports and marks name files.
QString AbsolutePath(const QString& path);

QString FileNameOf(const QString& path);      // text after the last "/"
QString FolderOf(const QString& path);        // text up to and including the last "/"
QString StripExtension(const QString& name);  // "scan.2019.mdi" -> "scan.2019"; ".mdi" stays

// Collapses the doubled separators left by joining a folder that ends in "/" with "/" and a
// name, in one left-to-right pass ("//" -> "/", "///" -> "//"). A leading run of two or more
// separators (a network path) becomes exactly two; a single leading one stays single.
QString NormalizePath(const QString& path);

// The text with its control characters written as C escapes (a line break as \n), so that a
// name holding a line break stays on one line of a report; a byte of a name that is not UTF-8
// is written as \x and its two hex digits.
QString OnOneLine(const QString& text);

// Makes the folder and the folders above it that are missing; true when it is there.
bool MakeFolders(const QString& path);

// Creates or truncates the file and writes the text and one line end. Throws RuntimeError.
void WriteTextFile(const QString& text, const QString& path);

// Writes the bytes to a new file, unless something already exists at the path, which is
// then left exactly as it is. Yields to the event loop first. Throws RuntimeError; a file
// it created but could not finish is removed again, so no truncated copy is left behind.
void WriteBytesIfMissing(const QByteArray& bytes, const QString& path);

// Deletes a file, falling back to ForceDeleteFile; never reports anything. Yields first.
void DeleteFileQuietly(const QString& path);

// Deletes a file even when it is write-protected. Throws RuntimeError.
void ForceDeleteFile(const QString& path);

}  // namespace vellumax
