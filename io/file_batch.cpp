#include "io/file_batch.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// "cannot write PATH: REASON" from an OutputFile's "PATH: REASON".
IoStatus cannotWrite(const OutputFile& file) { return IoStatus::failure("cannot write " + file.error()); }
}  // namespace

FileBatch::~FileBatch() { discard(); }

IoStatus FileBatch::addText(const std::string& path, const std::function<void(std::FILE*)>& write) {
    return addWithDescriptor(path, [&](int descriptor) -> std::string {
        std::FILE* file = ::fdopen(descriptor, "wb");
        if (!file) {
            const int error = errno;
            ::close(descriptor);
            return std::strerror(error);
        }
        errno = 0;
        try {
            write(file);
        } catch (...) {
            std::fclose(file);
            throw;
        }
        int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
        if (std::fflush(file) != 0 && !error) error = errno ? errno : EIO;
        if (std::fclose(file) != 0 && !error) error = errno ? errno : EIO;
        return error ? std::strerror(error) : std::string();
    });
}

IoStatus FileBatch::addWithDescriptor(const std::string& path,
                                      const std::function<std::string(int descriptor)>& write) {
    if (path.empty()) return IoStatus::failure("cannot write a file with an empty name");
    auto file = std::make_unique<OutputFile>(path);
    if (!file->isOpen()) return cannotWrite(*file);
    const int descriptor = file->releaseDescriptor();
    if (descriptor < 0) return cannotWrite(*file);
    std::string reason;
    try {
        reason = write(descriptor);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (!reason.empty()) return IoStatus::failure("cannot write " + path + ": " + reason);
    if (!file->finish()) return cannotWrite(*file);
    staged_.push_back(std::move(file));
    return {};
}

IoStatus FileBatch::commit() {
    IoStatus status;
    size_t i = 0;
    for (; i < staged_.size(); ++i)
        if (!staged_[i]->publish()) {
            status = cannotWrite(*staged_[i]);
            break;
        }
    staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(i));
    discard();
    return status;
}

void FileBatch::discard() { staged_.clear(); }

IoStatus writeTextFileAtomically(const std::string& path, const std::function<void(std::FILE*)>& write) {
    FileBatch batch;
    if (IoStatus status = batch.addText(path, write); !status) return status;
    return batch.commit();
}
