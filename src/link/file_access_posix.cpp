// Files by name on POSIX systems.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/file_access.h"

namespace zorvane {

namespace {

std::string not_regular(mode_t mode) {
    const char* kind = S_ISCHR(mode)    ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISDIR(mode)  ? "a directory"
                                        : "something";
    return std::string(kind) + ", not a regular file";
}

FileOutcome system_failure() {
    const int code = errno;
    return {code == ENOENT ? FileStatus::Missing : FileStatus::Failed, std::strerror(code)};
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file a name stands for once its symbolic links are followed (the
// last one may point to a file that does not exist yet).
bool follow_links(std::string& path, FileOutcome& outcome) {
    for (int hop = 0; hop <= 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return true;
            outcome = system_failure();
            return false;
        }
        if (!S_ISLNK(st.st_mode))
            return true;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<size_t>(n) >= link.size()) {
            outcome = system_failure();
            return false;
        }
        link.resize(static_cast<size_t>(n));
        path = link.front() == '/' ? link : folder_of(path) + link;
    }
    outcome = {FileStatus::Failed, std::strerror(ELOOP)};
    return false;
}

// ".NAME.XXXXXX" for mkstemp, cut so that it fits a name of `name_max`
// bytes; a cut never splits a UTF-8 character.
std::string temporary_name(const std::string& base, long name_max) {
    constexpr size_t kAround = 8;  // the leading '.' and ".XXXXXX"
    const size_t room =
        name_max > static_cast<long>(kAround) ? static_cast<size_t>(name_max) - kAround : 0;
    size_t keep = std::min(base.size(), room);
    while (keep > 0 && keep < base.size() &&
           (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
        --keep;
    return "." + base.substr(0, keep) + ".XXXXXX";
}

}  // namespace

FileOutcome open_regular_file(const std::string& path, FileUse use, std::FILE*& file) {
    file = nullptr;
    // Looked at before it is opened: opening a FIFO waits for a writer, and
    // opening a serial line raises its modem lines.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return {FileStatus::NotRegular, not_regular(st.st_mode)};
    } else if (errno != ENOENT || use == FileUse::Read) {
        return system_failure();
    }
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= use == FileUse::Read ? O_RDONLY : O_RDWR | O_APPEND | O_CREAT;
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0)
        return system_failure();
    // The name may have been given to something else in between.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const FileOutcome outcome{FileStatus::NotRegular, not_regular(st.st_mode)};
        ::close(fd);
        return outcome;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file = ::fdopen(fd, use == FileUse::Read ? "rb" : "a+b");
    if (file == nullptr) {
        const FileOutcome outcome = system_failure();
        ::close(fd);
        return outcome;
    }
    return {};
}

FileOutcome write_file_atomically(const std::string& path, std::string_view text) {
    FileOutcome outcome;
    // What the name reaches as it is opened (/dev/stdout reaches a pipe or
    // a terminal through links that are no paths).
    struct stat reached {};
    if (::stat(path.c_str(), &reached) == 0 && !S_ISREG(reached.st_mode))
        return {FileStatus::NotRegular, not_regular(reached.st_mode)};
    std::string target = path;
    if (!follow_links(target, outcome))
        return outcome;
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return {FileStatus::NotRegular, not_regular(st.st_mode)};

    // The temporary file lives in the target's folder, so that the rename is
    // atomic (one file system) and a reader sees the old file or the new one.
    const std::string dir = folder_of(target);
    long name_max = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (name_max <= 0)
        name_max = NAME_MAX;
    std::string temp = dir + temporary_name(target.substr(dir.size()), name_max);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return system_failure();
    // mkstemp makes the file private; a new settings file is an ordinary
    // one, and a replaced one keeps what its owner gave it.
    mode_t mode = 0;
    if (exists) {
        mode = st.st_mode & 07777;
        if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Keeping the owner is a courtesy; the mode below still holds.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok)
        outcome = system_failure();
    if (::close(fd) != 0 && ok) {
        ok = false;
        outcome = system_failure();
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        outcome = system_failure();
    }
    if (!ok) {
        ::unlink(temp.c_str());
        outcome.status = FileStatus::Failed;
    }
    return outcome;
}

}  // namespace zorvane
