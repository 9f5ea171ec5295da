#pragma once

#include <QString>
#include <stdexcept>

#include "platform/errno_wording.h"

namespace vellumax {

// An error with a run-time style number and description ("53", "File not found"). Thrown
// only to reach the standard error report or a caller that turns it into a failure text.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString& description);

    int number() const { return number_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString description_;
};

// What an errno value means to a user: see WordingOfErrno.
RuntimeError ErrorFromErrno(int errorNumber, FileAccess access);

// The errors the program raises itself.
RuntimeError TypeMismatch();
RuntimeError Overflow();
RuntimeError InvalidProcedureCall();
RuntimeError InvalidPropertyValue();

}  // namespace vellumax
