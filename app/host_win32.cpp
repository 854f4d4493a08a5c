// The Windows host, as app/host.h describes it.
#include <iostream>

#include "app/host.h"

void prepare_host() {
  // Nothing here uses C stdio, so the standard streams need not stay in step
  // with it: std::cout then writes through a buffer of its own, one call per
  // flush, instead of through stdout's.
  std::ios::sync_with_stdio(false);
}
