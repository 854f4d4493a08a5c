#include "engine/index_stack.h"

#include <iostream>

int stack[STACK_SIZE];
int top;
int used[STACK_SIZE];

void push(int index) {
  if (top >= STACK_SIZE) {
    std::cout << "stack full." << std::endl;
    return;
  }
  if (index < 0 || index >= STACK_SIZE) return;
  stack[top] = index;
  used[index] = 1;
  ++top;
}

int pop() {
  if (top <= 0) return 0;
  --top;
  const int index = stack[top];
  used[index] = 0;
  return index;
}
