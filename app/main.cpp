// The program's entry: opens the listing file, asks for the item count, lists
// every ordering once and closes the listing with its summary line.
#include <cstdlib>
#include <iostream>
#include <locale>

#include "app/host.h"
#include "app/messages.h"
#include "engine/index_stack.h"
#include "engine/permutations.h"

constexpr char LISTING_PATH[] = "../Tessivolark_.txt";
constexpr int MAX_N = 10;
static_assert(MAX_N <= STACK_SIZE, "the stack must hold a whole ordering of MAX_N items");

namespace {

// Drops what is left of a token that could not be read as a count, so that
// the next read starts on fresh input instead of failing on it forever.
void discard_token() {
  using traits = std::istream::traits_type;
  const auto& ctype = std::use_facet<std::ctype<char>>(std::cin.getloc());
  for (auto c = std::cin.peek(); !traits::eq_int_type(c, traits::eof()); c = std::cin.peek()) {
    if (ctype.is(std::ctype_base::space, traits::to_char_type(c))) return;
    std::cin.ignore();
  }
}

// Prompts until a count from 1 to MAX_N is read into n; false if the input
// ends or breaks first.
bool read_count() {
  for (;;) {
    std::cout << "Input N(1-" << MAX_N << ") : ";
    if (std::cin >> n) {
      if (n >= 1 && n <= MAX_N) return true;
      continue;
    }
    if (std::cin.eof() || std::cin.bad()) return false;
    // Not a number, or one beyond the range of n.
    std::cin.clear();
    discard_token();
  }
}

// Every line was flushed as it was written, so a failed write has already
// marked the stream; the close adds its own failure, if any.
void close_listing() {
  listing.close();
  if (listing.fail()) report(Failure::WRITE, LISTING_PATH);
}

}  // namespace

int main() {
  prepare_host();

  listing.open(LISTING_PATH, std::ios::out);
  if (listing.fail()) {
    report(Failure::OPEN, LISTING_PATH);
    return 0;
  }

  if (!read_count()) {
    // Leave the console on a fresh line rather than after the prompt.
    std::cout << std::endl;
    close_listing();
    return 0;
  }

  permute();
  std::cout << "sum=" << sum << std::endl;
  listing << "sum=" << sum << std::endl;
  close_listing();

  // The pause holds the console window open; a host without the command
  // changes nothing that matters.  The command is fixed text, so no input
  // reaches the shell.
  [[maybe_unused]] const int pause_status = std::system("pause");  // NOLINT(cert-env33-c)
  return 0;
}
