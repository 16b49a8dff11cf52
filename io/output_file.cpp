#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {
std::string reason(const std::string& name, int code) {
    return name + ": " + std::strerror(code);
}

// The folder a temporary file beside `name` goes into, with its trailing slash ("" for the
// current folder).
std::string folderOf(const std::string& name) {
    const size_t slash = name.find_last_of('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

bool isOtherThanRegularFile(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

// Creates a new temporary file beside `name`; returns its descriptor (and its name) or -1.
int createTemporary(const std::string& name, std::string& temporary) {
    const size_t slash = name.find_last_of('/');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    temporary = folderOf(name) + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return -1;
    // The permissions a newly created file gets (mkstemp makes it private).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}
}  // namespace

OutputFile::OutputFile(std::string name) : name_(std::move(name)) {
    if (name_.empty() || name_.back() == '/') {
        fail(EISDIR);
        return;
    }
    if (isOtherThanRegularFile(name_)) {
        struct stat info {};
        if (::stat(name_.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            fail(EISDIR);
            return;
        }
        file_ = std::fopen(name_.c_str(), "wb");
        if (!file_) fail(errno);
    } else {
        const int fd = createTemporary(name_, temporary_);
        if (fd < 0) {
            const int code = errno;
            temporary_.clear();
            fail(code);
            return;
        }
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            const int code = errno;
            ::close(fd);
            fail(code);
            return;
        }
    }
    if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::fail(int code) {
    if (error_.empty()) error_ = reason(name_, code);
    discard();
}

void OutputFile::discard() {
    if (file_) std::fclose(std::exchange(file_, nullptr));
    if (!temporary_.empty()) ::unlink(std::exchange(temporary_, std::string()).c_str());
    finished_ = false;
}

bool OutputFile::write(const void* data, std::size_t size) {
    if (!file_) return false;
    if (size == 0) return true;
    errno = 0;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    fail(errno ? errno : EIO);
    return false;
}

bool OutputFile::finish() {
    if (!file_) return false;
    // A full disk may show only when the data reach it: flush, then sync a file of our own.
    int code = 0;
    if (std::fflush(file_) != 0) code = errno ? errno : EIO;
    if (!code && !temporary_.empty() && ::fsync(::fileno(file_)) != 0) code = errno;
    if (std::fclose(std::exchange(file_, nullptr)) != 0 && !code) code = errno ? errno : EIO;
    if (code) {
        fail(code);
        return false;
    }
    finished_ = true;
    return true;
}

bool OutputFile::publish() {
    if (!finished_) return false;
    if (!temporary_.empty() && ::rename(temporary_.c_str(), name_.c_str()) != 0) {
        fail(errno);
        return false;
    }
    temporary_.clear();
    finished_ = false;
    return true;
}

int OutputFile::releaseDescriptor() {
    if (!file_) return -1;
    const int descriptor = ::dup(::fileno(file_));
    if (descriptor < 0) fail(errno);
    return descriptor;
}

std::string outputFileProblem(const std::string& name) {
    if (name.empty()) return reason(name, ENOENT);
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return reason(name, EISDIR);
    if (name.back() == '/') return reason(name, EISDIR);
    if (isOtherThanRegularFile(name)) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return reason(name, errno);
        ::close(fd);
        return {};
    }
    std::string temporary;
    const int fd = createTemporary(name, temporary);
    if (fd < 0) return reason(name, errno);
    ::close(fd);
    ::unlink(temporary.c_str());
    return {};
}

bool sameOutputFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const auto resolved = [](const std::string& name) {
        std::error_code error;
        std::filesystem::path path = std::filesystem::absolute(name, error);
        if (error) return std::filesystem::path(name).lexically_normal();
        std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
        return error ? path.lexically_normal() : canonical;
    };
    return resolved(a) == resolved(b);
}
