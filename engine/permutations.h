// The permutation generator: walks every ordering of the items 0 .. n - 1 in
// lexicographic order by backtracking on the index stack, and writes each as
// one listing line to standard output and to |listing|, counting the lines in
// |sum|.
//
// A listing line holds stack[0] + 1, .., stack[n - 1] + 1 in decimal,
// separated by "," and ended by a newline.  Each stream is flushed as soon as
// it holds a whole line, the listing first, so that both are up to date line
// by line.  The listing ends with the summary line "sum=" and the count; the
// driver writes that one.
#ifndef ENGINE_PERMUTATIONS_H_
#define ENGINE_PERMUTATIONS_H_

#include <fstream>

// The item count, 1 .. STACK_SIZE while the generator runs.
extern int n;
// Listing lines written so far; n! after one full run.
extern int sum;
// The listing file.  The driver opens and closes it; the generator only
// writes lines to it while it is open.
extern std::fstream listing;

// Writes every ordering of n items once and adds n! to sum.  Expects
// 1 <= n <= STACK_SIZE and an empty stack with every flag clear, and leaves
// the stack so again.
void permute();

// Writes the listing line for the complete ordering of n items on the stack
// and counts it.
void print_permutation();

#endif  // ENGINE_PERMUTATIONS_H_
