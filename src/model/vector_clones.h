#pragma once

// Marks a function of plain loops to be built twice: for x86-64 processors with AVX2 and for
// every other, the program taking the one the processor can run when it starts. Both give the
// same results (the loops are integer or exact). Elsewhere the function is built once, and so
// it is under ThreadSanitizer, whose runtime is not yet there when the choice is made.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VANTO_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define VANTO_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(VANTO_THREAD_SANITIZER)
#define VANTO_WITH_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define VANTO_WITH_AVX2_CLONE
#endif
