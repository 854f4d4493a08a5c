#include "app/host.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace {

#ifndef _WIN32
// Descriptors are handed out lowest first, so with 0 .. fd - 1 open the null
// device lands on fd itself.
void open_if_closed(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  const int null_fd = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  if (null_fd != fd && null_fd != -1) close(null_fd);
}

// Caught rather than ignored: the write that raised the signal still fails,
// with EPIPE or EFBIG, and the stream it belongs to goes bad; and unlike an
// ignored signal, a caught one is reset to its default by exec, so the pause's
// command processor starts as it would anywhere else.
void catch_signal(int /*signal*/) {}

void fail_writes_instead(int signal) {
  struct sigaction action = {};
  action.sa_handler = catch_signal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}
#endif

}  // namespace

void prepare_host() {
#ifndef _WIN32
  open_if_closed(STDIN_FILENO);
  open_if_closed(STDOUT_FILENO);
  open_if_closed(STDERR_FILENO);
  fail_writes_instead(SIGPIPE);
  fail_writes_instead(SIGXFSZ);
#endif
}
