#include "io/file_batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {
std::string systemReason(int error) { return std::strerror(error); }

// ".NAME.tmp-PID-N" beside NAME, so that the rename stays inside one file system.
std::string temporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const auto slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return dir + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}
}  // namespace

FileBatch::~FileBatch() { discard(); }

IoStatus FileBatch::create(const std::string& path, std::string& temporary, int& descriptor) {
    if (path.empty()) return IoStatus::failure("cannot write a file with an empty name");
    if (path.back() == '/') return IoStatus::failure("cannot write " + path + ": " + systemReason(EISDIR));
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(path);
        descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) return {};
        if (errno != EEXIST) return IoStatus::failure("cannot write " + path + ": " + systemReason(errno));
    }
    return IoStatus::failure("cannot write " + path + ": " + systemReason(EEXIST));
}

IoStatus FileBatch::addText(const std::string& path, const std::function<void(std::FILE*)>& write) {
    return addWithDescriptor(path, [&](int descriptor) -> std::string {
        std::FILE* file = ::fdopen(descriptor, "wb");
        if (!file) {
            const int error = errno;
            ::close(descriptor);
            return systemReason(error);
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
        return error ? systemReason(error) : std::string();
    });
}

IoStatus FileBatch::addWithDescriptor(const std::string& path,
                                      const std::function<std::string(int descriptor)>& write) {
    std::string temporary;
    int descriptor = -1;
    if (IoStatus status = create(path, temporary, descriptor); !status) return status;
    std::string reason;
    try {
        reason = write(descriptor);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    if (!reason.empty()) {
        ::unlink(temporary.c_str());
        return IoStatus::failure("cannot write " + path + ": " + reason);
    }
    staged_.push_back({path, temporary});
    return {};
}

IoStatus FileBatch::commit() {
    IoStatus status;
    size_t i = 0;
    for (; i < staged_.size(); ++i)
        if (::rename(staged_[i].temporary.c_str(), staged_[i].path.c_str()) != 0) {
            status = IoStatus::failure("cannot write " + staged_[i].path + ": " + systemReason(errno));
            break;
        }
    staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(i));
    discard();
    return status;
}

void FileBatch::discard() {
    for (const Staged& s : staged_) ::unlink(s.temporary.c_str());
    staged_.clear();
}

IoStatus writeTextFileAtomically(const std::string& path, const std::function<void(std::FILE*)>& write) {
    FileBatch batch;
    if (IoStatus status = batch.addText(path, write); !status) return status;
    return batch.commit();
}
