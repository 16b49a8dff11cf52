#pragma once

// A function built once per vector width (AVX-512, AVX2 and the baseline), the widest the
// processor has chosen when the program loads. Where it is used the arithmetic is integer or
// exact, so every build gives the same numbers. Other compilers build the baseline only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PULSEBENCH_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define PULSEBENCH_CLONES
#endif
