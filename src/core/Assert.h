#pragma once
// Programming errors: a failed check raises EAssertionFailed naming the unit,
// so that a caller's handler (or the crash reporter) sees where it happened.
#include <stdexcept>
#include <string>

class EAssertionFailed : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The run-time's abstract-call error: an operation a class does not provide.
class EAbstractError : public std::logic_error {
public:
    EAbstractError() : std::logic_error("Abstract Error") {}
};

inline void Check(bool condition, const char* what, const char* unit)
{
    if (!condition)
        throw EAssertionFailed(std::string(what) + " (" + unit + ")");
}
