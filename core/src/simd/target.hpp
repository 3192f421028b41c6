// The instruction sets the core's vector kernels are built for, and the
// choice among them at run time.
#pragma once

// A vector-lane kernel compiled for AVX2 and for the baseline, the one to run
// chosen at load time by what the processor has; everything it calls is
// inlined into each clone.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUILLSTONE_LANE_CLONES __attribute__((target_clones("avx2", "default"), flatten))
#else
#define QUILLSTONE_LANE_CLONES
#endif

// The whole column of 3 or 4 pattern words as one AVX2 vector
// (edit/wavefront.hpp): built wherever GCC's target attributes are, run
// where the processor has AVX2.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUILLSTONE_WAVEFRONT 1

namespace quillstone::detail {
inline bool has_wavefront() noexcept { return __builtin_cpu_supports("avx2"); }
}  // namespace quillstone::detail
#endif
