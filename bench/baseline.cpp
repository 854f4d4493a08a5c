// The floor that the program is measured against: the same listing bytes,
// with exactly one write call per line per stream and nothing else.  Reads
// the item count from standard input and writes the listing to
// ../Tessivolark_.txt, the file's copy of each line first.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written <= 0) std::exit(1);
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

}  // namespace

int main() {
  char input[32] = {};
  if (::read(0, input, sizeof input - 1) <= 0) return 1;
  int count = 0;
  for (const char* digit = input; *digit >= '0' && *digit <= '9'; ++digit) {
    count = count * 10 + (*digit - '0');
    if (count > 10) return 1;
  }
  if (count < 1) return 1;

  const int file = ::open("../Tessivolark_.txt", O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (file < 0) return 1;

  int values[10];
  for (int i = 0; i < count; ++i) values[i] = i + 1;
  long lines = 0;
  char line[32];
  do {
    char* out = line;
    for (int i = 0; i < count; ++i) {
      if (i > 0) *out++ = ',';
      if (values[i] == 10) {
        *out++ = '1';
        *out++ = '0';
      } else {
        *out++ = static_cast<char>('0' + values[i]);
      }
    }
    *out++ = '\n';
    const auto size = static_cast<std::size_t>(out - line);
    write_all(file, line, size);
    write_all(1, line, size);
    ++lines;
  } while (std::next_permutation(values, values + count));

  const int size = std::snprintf(line, sizeof line, "sum=%ld\n", lines);
  write_all(1, line, static_cast<std::size_t>(size));
  write_all(file, line, static_cast<std::size_t>(size));
  return ::close(file) == 0 ? 0 : 1;
}
