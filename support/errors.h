// Failures that carry a number for the unexpected-error report, and the
// mapping of standard exceptions to those numbers.
#pragma once

#include <QString>
#include <exception>
#include <stdexcept>

// Numbers follow the classic run-time error codes so a report reads the same
// whatever part of the program failed: 5 bad argument, 7 out of memory, ...
enum ErrorNumber : int {
    kErrInvalidArgument = 5,
    kErrOverflow = 6,
    kErrOutOfMemory = 7,
    kErrOutOfRange = 9,
    kErrDivisionByZero = 11,
    kErrTypeMismatch = 13,
    kErrFileNotFound = 53,
    kErrFileAccess = 75,
    kErrPathNotFound = 76,
    kErrInvalidPicture = 481,
    kErrGeneric = 1,
};

class RunError : public std::runtime_error {
public:
    RunError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

// A file library's refusal (OpenEXR, libavif), carrying the library's own
// message for the user.
class LibraryError : public std::runtime_error {
public:
    explicit LibraryError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

struct ErrorInfo {
    int number = 0;
    QString description;
};

// Number and description of an exception; a null pointer gives 0 and "".
ErrorInfo describeException(std::exception_ptr e);
