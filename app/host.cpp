#include "app/host.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdlib>
#endif

namespace {

#ifndef _WIN32
constexpr int STANDARD_FDS = 3;

// Descriptors are handed out lowest first, so with 0 .. fd - 1 open, whatever
// opens next lands on fd itself.  A bare chroot or container may have no
// /dev/null; a pipe needs no file system.
void fill_if_closed(int fd) {
  if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) return;
  const bool input = fd == STDIN_FILENO;
  const int null_fd = open("/dev/null", input ? O_RDONLY : O_WRONLY);
  if (null_fd == fd) return;
  if (null_fd != -1) close(null_fd);

  int ends[2];
  if (pipe(ends) != 0) return;
  const int kept = input ? ends[0] : ends[1];
  if (kept != fd) dup2(kept, fd);
  for (const int end : ends) {
    if (end != fd) close(end);
  }
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

// Which standard descriptors had O_NONBLOCK cleared in place, on an open file
// that the parent shares; read by a signal handler.
volatile std::sig_atomic_t cleared_in_place[STANDARD_FDS];

// Sets O_NONBLOCK again, and nothing else: the parent may have changed other
// flags of the open file meanwhile.  Async-signal-safe.
void give_back_flags() {
  for (int fd = 0; fd < STANDARD_FDS; ++fd) {
    if (cleared_in_place[fd] == 0) continue;
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  }
}

// Ends the process by |signal| itself, so that the parent sees the same end
// as without the handler.  The signal stays blocked until the handler
// returns, and then takes its default action.  Async-signal-safe.
void give_back_and_end(int signal) {
  give_back_flags();
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  static_cast<void>(std::raise(signal));
}

constexpr int ENDING_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM};

// A signal that the parent has the program ignore ends nothing, and stays
// ignored.  Installing the handler again changes nothing.
void give_back_on_ending_signals() {
  struct sigaction action = {};
  action.sa_handler = give_back_and_end;
  sigemptyset(&action.sa_mask);
  for (const int signal : ENDING_SIGNALS) sigaddset(&action.sa_mask, signal);
  for (const int signal : ENDING_SIGNALS) {
    struct sigaction current = {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

#ifdef __linux__
// Whether a fresh open of fd's file is bound to be the same pipe or terminal,
// which its identity can then prove.  Linux's alternate terminal devices,
// major 5 (/dev/tty, /dev/console, /dev/ptmx), stand for a terminal chosen at
// each open: the opener's controlling one, the console, a new pseudo-terminal.
// Reopening anything else could have effects of its own: a regular file
// would lose its offset, and a device could reset.  Neither a regular file
// nor a directory ever answers "try again".
bool can_reopen(int fd, const struct stat& status) {
  if (S_ISFIFO(status.st_mode)) return true;
  return S_ISCHR(status.st_mode) && isatty(fd) == 1 && major(status.st_rdev) != 5;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_rdev == b.st_rdev;
}

// Puts a new, blocking open file of the same pipe or terminal in fd's place;
// false, with fd unchanged, where there is none to be had.  The stream
// buffers cannot retry a write that would block: they do not say how much of
// it went out, and a terminal can take part of a line.  Reopened, the file is
// the program's alone, so its flag can be cleared without reaching the parent
// or anyone else who shares the old one.
bool reopen_blocking(int fd) {
  struct stat status = {};
  if (fstat(fd, &status) != 0 || !can_reopen(fd, status)) return false;
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1) return false;

  char path[] = "/proc/self/fd/N";
  path[sizeof path - 2] = static_cast<char>('0' + fd);
  // Opened non-blocking, so that a pipe whose other end has gone fails at
  // once instead of waiting for a new partner; the terminal is not adopted as
  // the controlling one.
  const int fresh = open(path, (flags & O_ACCMODE) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fresh == -1) return false;
  struct stat fresh_status = {};
  const int fresh_flags = fcntl(fresh, F_GETFL);
  bool done = fstat(fresh, &fresh_status) == 0 && same_file(status, fresh_status) &&
              fresh_flags != -1 && fcntl(fresh, F_SETFL, fresh_flags & ~O_NONBLOCK) != -1;
  // Where opening the path gives back the same open file rather than a new
  // one, clearing the flag on it has cleared the shared one.
  const int old_flags = fcntl(fd, F_GETFL);
  done = done && old_flags != -1 && (old_flags & O_NONBLOCK) != 0 && dup2(fresh, fd) == fd;
  close(fresh);
  return done;
}
#else
// Elsewhere, opening /dev/fd or /proc may give back the very open file.
bool reopen_blocking(int /*fd*/) { return false; }
#endif

// Where the file cannot be reopened, the flag is cleared in place, but only
// if it can be given back.
void make_blocking(int fd, bool can_give_back) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || (flags & O_NONBLOCK) == 0 || reopen_blocking(fd) || !can_give_back) return;
  // Ready before the flag is cleared, so that a signal at any moment finds
  // the flag to give back.  Setting a flag that is still set does no harm.
  give_back_on_ending_signals();
  cleared_in_place[fd] = 1;
  if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) cleared_in_place[fd] = 0;
}
#endif

}  // namespace

void prepare_host() {
#ifndef _WIN32
  for (int fd = 0; fd < STANDARD_FDS; ++fd) fill_if_closed(fd);
  // At exit, after the pause and the last write to the console.
  const bool can_give_back = std::atexit(give_back_flags) == 0;
  for (int fd = 0; fd < STANDARD_FDS; ++fd) make_blocking(fd, can_give_back);
  fail_writes_instead(SIGPIPE);
  fail_writes_instead(SIGXFSZ);
#endif
}
