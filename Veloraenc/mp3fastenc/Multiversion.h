// Hot loops of the encoder built twice on x86-64 Linux with GCC: for the baseline processor
// and for AVX2 ones, chosen once when the program loads. Only the vector width differs, and
// the loops so marked keep the order of their operations, so both give the same results.
// Not under the thread sanitizer: the loader runs the choosing code before the sanitizer's
// runtime is up.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define VELORA_ENC_MULTIVERSION __attribute__((target_clones("avx2", "default"), noinline))
#else
#define VELORA_ENC_MULTIVERSION
#endif
