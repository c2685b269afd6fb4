#include "encoders/ringtone_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "pipeline/encoder.h"

namespace tolvane {

RingtoneFile::~RingtoneFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RingtoneFile::create(const std::string& path) {
    if (path.empty() || path.size() > kMaxRingtonePath)
        return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // Other programs may read the ringtone while it is written, but not write it. The old
    // contents go only once the lock is ours.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool RingtoneFile::write(const void* data, std::size_t count) {
    if (fd_ < 0)
        return false;
    const auto* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t n = ::write(fd_, bytes, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace tolvane
