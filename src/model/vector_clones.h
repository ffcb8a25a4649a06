#pragma once

// Marks a function of plain loops to be built twice: for x86-64 processors with AVX2 and for
// every other, the program taking the one the processor can run when it starts. Both give the
// same results (the loops are integer or exact). Elsewhere the function is built once.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define VANTO_WITH_AVX2_CLONE __attribute__((target_clones("avx2", "default")))
#else
#define VANTO_WITH_AVX2_CLONE
#endif
