// Invariant check for the fuzz targets: a broken invariant stops the run like a crash would.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                          \
  do {                                                                                                                 \
    if (!(condition)) {                                                                                                \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition);                           \
      std::abort();                                                                                                    \
    }                                                                                                                  \
  } while (0)
