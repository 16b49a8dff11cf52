#pragma once

#include <string>
#include <utility>

// Every reader and writer of io/ reports a failure as a value, never as an exception: no
// exception leaves io/ (allocation failures and library errors are caught inside and turned into
// messages). A message is one line for the user that names the file, and the line and the
// offending text where they apply, e.g. `signal.csv:12: malformed number "1.2.3"`.

/// Success (empty `error`) or the reason of a failure.
struct IoStatus {
    std::string error;

    bool ok() const { return error.empty(); }
    explicit operator bool() const { return ok(); }
    static IoStatus failure(std::string message) { return IoStatus{std::move(message)}; }
};

/// A value, or the reason it could not be had (then `value` is default-constructed).
template <class T>
struct IoResult {
    T value{};
    std::string error;

    bool ok() const { return error.empty(); }
    explicit operator bool() const { return ok(); }
    static IoResult failure(std::string message) {
        IoResult result;
        result.error = std::move(message);
        return result;
    }
    static IoResult success(T v) {
        IoResult result;
        result.value = std::move(v);
        return result;
    }
};
