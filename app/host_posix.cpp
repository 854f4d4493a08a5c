// The POSIX host, as app/host.h describes it.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <iostream>
#include <new>
#include <streambuf>

#include "app/host.h"

namespace {

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

// Waits until |fd| is ready for |events|; false where it never will be, as
// when the other side has hung up and the call would fail anyway.
bool wait_until_ready(int fd, short events) {
  pollfd entry = {fd, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, -1);
    if (ready > 0) return (entry.revents & events) != 0;
    if (ready == -1 && errno != EINTR) return false;
  }
}

// Whether a read or write call on |fd| that has just failed should be made
// again: a signal interrupted it, or it would have blocked and the
// descriptor is ready for |events| now.
bool call_again(int fd, short events) {
  if (errno == EINTR) return true;
  return (errno == EAGAIN || errno == EWOULDBLOCK) && wait_until_ready(fd, events);
}

// Standard output's buffer: holds what is written until a flush, then hands
// all of it to the descriptor, in one write call where the descriptor takes
// it whole.
class OutputBuffer final : public std::streambuf {
 public:
  explicit OutputBuffer(int fd) : fd_(fd) { setp(data_, data_ + sizeof data_); }

 protected:
  int sync() override {
    const bool written = write_all(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(data_, data_ + sizeof data_);
    return written ? 0 : -1;
  }

  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }

 private:
  bool write_all(const char* data, std::size_t size) const {
    while (size > 0) {
      const ssize_t written = write(fd_, data, size);
      if (written > 0) {
        data += written;
        size -= static_cast<std::size_t>(written);
      } else if (written == 0 || !call_again(fd_, POLLOUT)) {
        return false;
      }
    }
    return true;
  }

  int fd_;
  // Far longer than any line, which therefore leaves in one piece.
  char data_[4096];
};

// Standard input's buffer: reads what the descriptor has, waiting until it
// has something.
class InputBuffer final : public std::streambuf {
 public:
  explicit InputBuffer(int fd) : fd_(fd) { setg(data_, data_, data_); }

 protected:
  // End of input and read errors alike end the input.
  int_type underflow() override {
    ssize_t got = 0;
    do {
      got = read(fd_, data_, sizeof data_);
    } while (got == -1 && call_again(fd_, POLLIN));
    if (got <= 0) return traits_type::eof();
    setg(data_, data_, data_ + got);
    return traits_type::to_int_type(*gptr());
  }

 private:
  int fd_;
  char data_[4096];
};

// Built in place and never destroyed: the standard library flushes std::cout
// once more at the very end of the process, after static objects of ours
// would have been destroyed.
alignas(InputBuffer) unsigned char input_storage[sizeof(InputBuffer)];
alignas(OutputBuffer) unsigned char output_storage[sizeof(OutputBuffer)];

}  // namespace

void prepare_host() {
  for (int fd = 0; fd < STANDARD_FDS; ++fd) fill_if_closed(fd);
  fail_writes_instead(SIGPIPE);
  fail_writes_instead(SIGXFSZ);
  std::cin.rdbuf(new (input_storage) InputBuffer(STDIN_FILENO));
  std::cout.rdbuf(new (output_storage) OutputBuffer(STDOUT_FILENO));
}
