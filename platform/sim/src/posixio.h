// Writes on POSIX descriptors that the simulated platform's file code shares.
#pragma once

#include <errno.h>
#include <unistd.h>

#include <cstddef>

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

}  // namespace vorksim
