#pragma once

#include <string>

// No Qt here: the document reader, which is built without it, words its failures with this.
namespace vellumax {

// What an errno value means to a user, in the classic run-time wording where one fits.
// A missing entry reads "File not found" when a file was opened for reading and
// "Path not found" when the folder to write into is missing.
enum class FileAccess { Read, Write };

struct ErrnoWording {
    int number;
    std::string description;
};

ErrnoWording WordingOfErrno(int errorNumber, FileAccess access);

}  // namespace vellumax
