#include "engine/permutations.h"

#include <iostream>

#include "engine/index_stack.h"

// A line is built in a fixed buffer sized for numbers of at most two digits.
static_assert(STACK_SIZE < 100, "listing values must fit in two digits");

int n;
int sum;
// Constructing a closed file stream allocates nothing and cannot fail.
std::fstream listing;  // NOLINT(cert-err58-cpp)

void permute() {
  // The stack is empty on entry as well as at the end, so the test that ends
  // the walk comes after the first ordering.
  do {
    // The free indices in ascending order complete the smallest ordering
    // that begins with the prefix on the stack.
    for (int i = 0; i < n; ++i) {
      if (used[i] == 0) push(i);
    }
    print_permutation();

    // The last position of a complete ordering has no free alternative.
    pop();

    // Replace the deepest position that has a larger free index with the
    // smallest such index; a popped index is free again, so the scan sees
    // every index released below it.
    while (top > 0) {
      int next = pop() + 1;
      while (next < n && used[next] == 1) ++next;
      if (next < n) {
        push(next);
        break;
      }
    }
  } while (top > 0);
}

namespace {

// Listing values run from 1 to STACK_SIZE: one or two digits.
char* put_value(char* out, int value) {
  if (value >= 10) {
    *out++ = static_cast<char>('0' + value / 10);
    value %= 10;
  }
  *out++ = static_cast<char>('0' + value);
  return out;
}

// Writes a whole line and flushes it, as ostream::write and flush would, but
// straight to the stream buffer: neither stream has a tie or unitbuf for a
// sentry to honour, and the two sentries per stream are over a fifth of the
// work between write calls (callgrind, N = 8, g++ 12, 2026-12-11, at 5bf04e9:
// 648 user-space instructions per line as here, 836 with write and flush, 191
// for the write-call floor of bench/baseline.cpp).  A failure marks the
// stream bad; a stream that is not good is left alone.
void put_line(std::ostream& stream, const char* line, std::streamsize length) {
  if (!stream.good()) return;
  std::streambuf& buffer = *stream.rdbuf();
  if (buffer.sputn(line, length) != length || buffer.pubsync() != 0) {
    stream.setstate(std::ios::badbit);
  }
}

}  // namespace

void print_permutation() {
  // Two digits and a separator or newline for each of at most STACK_SIZE
  // positions.
  char line[3 * STACK_SIZE];
  char* out = line;
  for (int i = 0; i < n; ++i) {
    out = put_value(out, stack[i] + 1);
    *out++ = ',';
  }
  // The separator after the last value becomes the end of the line.
  out[-1] = '\n';
  const auto length = static_cast<std::streamsize>(out - line);

  // One formatting pass and one flushed write per stream keep each line a
  // single write call to each file, the listing's first.
  put_line(listing, line, length);
  put_line(std::cout, line, length);
  ++sum;
}
