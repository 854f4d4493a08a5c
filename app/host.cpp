#include "app/host.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#endif

namespace {

#ifndef _WIN32
constexpr int STANDARD_FDS = 3;

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

// The status flags of each standard descriptor's open file as the program
// found them, where it had to clear O_NONBLOCK in place; -1 where it did not.
int flags_to_give_back[STANDARD_FDS] = {-1, -1, -1};

void give_back_flags() {
  for (int fd = 0; fd < STANDARD_FDS; ++fd) {
    if (flags_to_give_back[fd] != -1) fcntl(fd, F_SETFL, flags_to_give_back[fd]);
  }
}

// Puts a new, blocking open file of the same pipe or terminal in fd's place;
// false, with fd unchanged, where there is none to be had.  The stream
// buffers cannot retry a write that would block: they do not say how much of
// it went out, and a terminal can take part of a line.  Reopened, the file is
// the program's alone, so its flag can be cleared without reaching the parent
// or anyone else who shares the old one.
bool reopen_blocking(int fd) {
  // Reopening anything else could have effects of its own: a regular file
  // would lose its offset, and a device could reset.  Neither a regular file
  // nor a directory ever answers "try again".
  struct stat status = {};
  if (fstat(fd, &status) != 0 || !(S_ISFIFO(status.st_mode) || isatty(fd) == 1)) return false;

  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1) return false;
  char path[] = "/proc/self/fd/N";
  path[sizeof path - 2] = static_cast<char>('0' + fd);
  // Opened non-blocking, so that a pipe whose other end has gone fails at
  // once instead of waiting for a new partner; the terminal is not adopted as
  // the controlling one.
  const int fresh = open(path, (flags & O_ACCMODE) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fresh == -1) return false;
  const int fresh_flags = fcntl(fresh, F_GETFL);
  bool done = fresh_flags != -1 && fcntl(fresh, F_SETFL, fresh_flags & ~O_NONBLOCK) != -1;
  // Where opening the path gives back the same open file rather than a new
  // one, as /dev/fd does on some systems, clearing the flag on it has cleared
  // the shared one.
  const int old_flags = fcntl(fd, F_GETFL);
  done = done && old_flags != -1 && (old_flags & O_NONBLOCK) != 0 && dup2(fresh, fd) == fd;
  close(fresh);
  return done;
}

// Where the file cannot be reopened, the flag is cleared in place, but only
// if it can be given back at exit.
void make_blocking(int fd, bool can_give_back) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || (flags & O_NONBLOCK) == 0 || reopen_blocking(fd)) return;
  if (!can_give_back || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) return;
  flags_to_give_back[fd] = flags;
}
#endif

}  // namespace

void prepare_host() {
#ifndef _WIN32
  for (int fd = 0; fd < STANDARD_FDS; ++fd) open_if_closed(fd);
  // At exit, after the pause and the last write to the console.
  const bool can_give_back = std::atexit(give_back_flags) == 0;
  for (int fd = 0; fd < STANDARD_FDS; ++fd) make_blocking(fd, can_give_back);
  fail_writes_instead(SIGPIPE);
  fail_writes_instead(SIGXFSZ);
#endif
}
