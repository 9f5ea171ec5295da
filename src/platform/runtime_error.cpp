#include "platform/runtime_error.h"

namespace vellumax {

RuntimeError::RuntimeError(int number, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), description_(description) {}

RuntimeError ErrorFromErrno(int errorNumber, FileAccess access) {
    const ErrnoWording wording = WordingOfErrno(errorNumber, access);
    return RuntimeError(wording.number, QString::fromStdString(wording.description));
}

RuntimeError TypeMismatch() {
    return RuntimeError(13, "Type mismatch");
}
RuntimeError Overflow() {
    return RuntimeError(6, "Overflow");
}
RuntimeError InvalidProcedureCall() {
    return RuntimeError(5, "Invalid procedure call or argument");
}
RuntimeError InvalidPropertyValue() {
    return RuntimeError(380, "Invalid property value");
}

}  // namespace vellumax
