#include "platform/child_capture.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

// Writes all of `data` to `fd`, as far as it takes it.
void CopyTo(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// One stream of the child: the reading end of its pipe and where it goes.
struct Stream {
    int fd = -1;        // ours, to read
    int childFd = -1;   // the child's, closed here once it has started
    std::string* into = nullptr;
    int copy = -1;

    // Takes what is there; false at its end.
    bool Take()
    {
        char buf[65536];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
        if (n <= 0) return false;
        into->append(buf, static_cast<size_t>(n));
        if (copy >= 0) CopyTo(copy, buf, static_cast<size_t>(n));
        return true;
    }
};

// A pipe for one stream, when it is collected; the child's end also into
// `childFd`, where the launch says.
bool OpenStream(std::string* into, int copy, Stream& s, int& childFd)
{
    if (!into) return true;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    into->clear();
    s.fd = fds[0];
    s.childFd = childFd = fds[1];
    s.into = into;
    s.copy = copy;
    return true;
}

} // namespace

ChildEnd RunChildCapturing(const ChildSpec& launch, const ChildCapture& capture)
{
    ChildSpec s = launch;
    Stream streams[2];
    const bool piped = OpenStream(capture.out, -1, streams[0], s.out) &&
                       OpenStream(capture.err, capture.errCopy, streams[1], s.err);
    Child child;
    const int failure = piped ? 0 : errno;
    const bool started = piped && child.Start(s);
    for (Stream& st : streams)
        if (st.childFd >= 0) close(st.childFd);
    while (started) {
        pollfd p[2];
        nfds_t n = 0;
        Stream* which[2];
        for (Stream& st : streams)
            if (st.fd >= 0) {
                p[n] = {st.fd, POLLIN, 0};
                which[n++] = &st;
            }
        if (n == 0) break;
        if (poll(p, n, launch.limit > 0 ? 10 : -1) > 0)
            for (nfds_t i = 0; i < n; ++i)
                if (p[i].revents && !which[i]->Take()) {
                    close(which[i]->fd);
                    which[i]->fd = -1;
                }
        if (launch.limit > 0) child.Poll();
    }
    for (Stream& st : streams)
        if (st.fd >= 0) close(st.fd);
    if (!piped) {
        ChildEnd failed;
        failed.error = failure;
        failed.status = 127;
        return failed;
    }
    child.Wait();
    return child.End();
}

} // namespace platform
