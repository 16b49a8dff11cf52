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
///
/// Files written together (FileBatch) take the two steps of commit() apart: finish() completes
/// the temporary file, publish() renames it, so that several files are renamed only once every
/// one of them is complete. This is the one place where the project's output files are made.
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
    bool commit() { return finish() && publish(); }
    /// Flushes, syncs and closes the file, keeping it under its temporary name. Returns false
    /// (after removing it) when a step fails.
    bool finish();
    /// Renames a finished file to its name. Returns false (after removing it) when that fails.
    bool publish();
    /// A descriptor of the open file for a writer that takes it over (and closes it): the
    /// writes through it land in this file. -1 (with error() set) when it cannot be had.
    int releaseDescriptor();
    /// After a failure: "<name>: <the system's reason>".
    const std::string& error() const { return error_; }

private:
    void fail(int code);
    void discard();

    std::string name_;
    std::string temporary_;  ///< empty when writing directly
    std::FILE* file_ = nullptr;
    bool finished_ = false;
    std::string error_;
};

/// Checks before any work that `name` can be written: an existing folder that takes a new file
/// (tried by creating and removing a temporary file there), or an existing non-regular file that
/// opens for writing; a folder name is refused. Returns "" or "<name>: <reason>".
std::string outputFileProblem(const std::string& name);

/// Whether two output names denote one file: compared after making them absolute and resolving
/// ".", ".." and the symbolic links of the part that exists ("out/x.png" and "out/./x.png" are
/// one file).
bool sameOutputFile(const std::string& a, const std::string& b);
