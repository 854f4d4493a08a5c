// The index stack: the permutation under construction, kept as a bounded
// last-in-first-out list of item indices with one in-use flag per index.
//
// Invariants, as long as callers push only free indices:
//   - 0 <= top <= STACK_SIZE; stack[0] is the bottom, stack[top - 1] the top,
//     and entries at top and above are stale.
//   - stack[0] .. stack[top - 1] are distinct, and used[i] is 1 exactly for
//     those values and 0 for every other index; no other values occur.
// The state is program-wide and starts zeroed: an empty stack, every flag
// clear.
#ifndef ENGINE_INDEX_STACK_H_
#define ENGINE_INDEX_STACK_H_

constexpr int STACK_SIZE = 10;

extern int stack[STACK_SIZE];
extern int top;
extern int used[STACK_SIZE];

// Pushes |index| and marks it used.  A full stack prints "stack full." and
// drops the push; an index outside 0 .. STACK_SIZE - 1 is dropped silently,
// since it has no flag.  Neither tells the caller.
void push(int index);

// Pops the top index, clears its flag and returns it; returns 0 and changes
// nothing on an empty stack.
int pop();

#endif  // ENGINE_INDEX_STACK_H_
