// Writes on POSIX descriptors that the simulated platform's file code shares.
#pragma once

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>

namespace vorksim {

// All of `size` bytes, through interrupted and partial writes; false on an error.
inline bool WriteAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, at + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The start of a new file's name beside `target`: its folder, a dot and its
// name cut so that a tag and ".part" after it stay within a folder entry's
// 255 bytes however long the name is.
inline std::string SiblingPrefix(const std::string& target) {
    const size_t slash = target.find_last_of('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, base) + "." + target.substr(base, 200) + ".";
}

// Gives a new file the owner and mode of the one it replaces, before it takes
// the name. Owner first: a change of owner clears the set-ID bits. A writer that
// may not give the file back to its owner fails rather than take it over, which
// could shut the owner out of the file.
inline bool GiveOwnerAndMode(int fd, const struct stat& old) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    if ((st.st_uid != old.st_uid || st.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0) return false;
    return fchmod(fd, old.st_mode & 07777) == 0;
}

}  // namespace vorksim
