// The fuzzers' assertion: a broken property is a finding, reported like a crash.
#pragma once
#include <cstdio>
#include <cstdlib>

#define QLAN_FUZZ_CHECK(condition)                                                               \
  do {                                                                                           \
    if (!(condition)) {                                                                          \
      static_cast<void>(                                                                         \
          std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition)); \
      std::abort();                                                                              \
    }                                                                                            \
  } while (false)
