#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/io_result.h"
#include "io/output_file.h"

/// Files written together, all or none. Each file is written at once as an OutputFile (under a
/// temporary name in its own directory, permissions from the umask; a device is written
/// directly); commit() then renames every one to its real name. A failed write removes its partial file and
/// reports the path and the system's reason; files not committed are removed when the batch is
/// destroyed, so a run that fails half-way leaves nothing behind and no existing file changed.
class FileBatch {
public:
    FileBatch() = default;
    FileBatch(const FileBatch&) = delete;
    FileBatch& operator=(const FileBatch&) = delete;
    ~FileBatch();

    /// Writes `path`'s content through `write`, which gets the open temporary file. Errors of the
    /// stream (ferror, a failed close) make the write fail.
    IoStatus addText(const std::string& path, const std::function<void(std::FILE*)>& write);

    /// Writes `path`'s content through `write`, which gets a descriptor of the new, empty
    /// temporary file (and takes it over: it must close it) and returns an empty string or the
    /// reason it failed.
    IoStatus addWithDescriptor(const std::string& path,
                               const std::function<std::string(int descriptor)>& write);

    /// Renames every written file to its real name. When a rename fails, the files not yet
    /// renamed are removed and the failing path is reported (those already renamed stay).
    IoStatus commit();

    /// Removes every written file that is not committed yet.
    void discard();

private:
    std::vector<std::unique_ptr<OutputFile>> staged_;
};

/// One file written whole or not at all: a FileBatch of one, committed at once.
IoStatus writeTextFileAtomically(const std::string& path, const std::function<void(std::FILE*)>& write);
