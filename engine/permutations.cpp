#include "engine/permutations.h"

#include <charconv>
#include <iostream>

#include "engine/index_stack.h"

// A line is built in a fixed buffer sized for numbers of at most two digits.
static_assert(STACK_SIZE <= 99, "listing values must fit in two digits");

int n;
int sum;
std::fstream listing;

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

void print_permutation() {
  // Two digits and a comma for each of at most STACK_SIZE positions.
  char line[3 * STACK_SIZE];
  char* const end = line + sizeof line;
  char* out = std::to_chars(line, end, stack[0] + 1).ptr;
  for (int i = 1; i < n; ++i) {
    *out++ = ',';
    out = std::to_chars(out, end, stack[i] + 1).ptr;
  }
  const auto length = static_cast<std::streamsize>(out - line);

  // One formatting pass and one write per stream keep each line a single
  // write to each file, with the listing's copy flushed first.
  listing.write(line, length) << std::endl;
  std::cout.write(line, length) << std::endl;
  ++sum;
}
