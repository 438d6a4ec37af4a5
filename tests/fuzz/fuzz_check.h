// The fuzz targets' own invariant check: a broken invariant is a crash the
// fuzzer (or the replay runner) reports with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                           \
  do {                                                                                             \
    if (!(cond)) {                                                                                 \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond);            \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

// For the targets' own checking loops: coverage feedback from them would only
// slow the fuzzer down (each comparison is traced) and teach it nothing.
#if defined(__clang__)
#define FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define FUZZ_NO_COVERAGE
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize);
