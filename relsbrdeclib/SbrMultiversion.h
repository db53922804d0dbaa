// Hot loops of the enhancement layer built twice on x86-64 Linux with GCC: for the baseline
// processor and for AVX2-class ones, chosen once when the program loads. Both give the same
// results up to float rounding order. Not under the thread sanitizer: the loader runs the
// choosing code before the sanitizer's runtime is up.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define SBR_MULTIVERSION __attribute__((target_clones("arch=x86-64-v3", "default"), noinline))
#else
#define SBR_MULTIVERSION
#endif

// Before a loop whose stores never feed its own loads: GCC then vectorises it without
// run-time overlap checks, which it gives up on past a few store streams.
#if defined(__GNUC__) && !defined(__clang__)
#define SBR_IVDEP _Pragma("GCC ivdep")
#else
#define SBR_IVDEP
#endif
