#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

/// A file that appears whole or not at all. The bytes go to a temporary file beside `name`
/// (same folder, so the final rename stays on one file system); commit() flushes and closes it
/// and renames it over `name`. When a step fails, or the object is destroyed before a commit,
/// the temporary file is removed and `name` is left as it was. A name that exists and is not a
/// regular file (a device such as /dev/null, a pipe) is written directly.
/// Writes are unbuffered, so a failing write is seen by the step that makes it.
class OutputFile {
public:
    explicit OutputFile(std::string name);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    bool write(const void* data, std::size_t size);
    /// Closes the file and gives it its name. Returns false (after removing the temporary file)
    /// when the close or the rename fails.
    bool commit();
    /// After a failure: "<name>: <the system's reason>".
    const std::string& error() const { return error_; }

private:
    void fail(int code);
    void discard();

    std::string name_;
    std::string temporary_;  ///< empty when writing directly
    std::FILE* file_ = nullptr;
    std::string error_;
};

/// Checks before any work that `name` can be written: an existing folder that takes a new file
/// (tried by creating and removing a temporary file there), or an existing non-regular file that
/// opens for writing; a folder name is refused. Returns "" or "<name>: <reason>".
std::string outputFileProblem(const std::string& name);
