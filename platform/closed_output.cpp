#include "platform/closed_output.h"

#include <poll.h>

namespace platform {

ClosedOutputGuard::ClosedOutputGuard()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    saved = sigaction(SIGPIPE, &ignore, &replaced) == 0;
}

ClosedOutputGuard::~ClosedOutputGuard()
{
    if (saved) sigaction(SIGPIPE, &replaced, nullptr);
}

bool OutputGone(int fd)
{
    pollfd p{fd, 0, 0};   // POLLERR, POLLHUP and POLLNVAL come unasked
    if (poll(&p, 1, 0) != 1) return false;
    return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

} // namespace platform
