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

// The whole column's strips of pattern words in 256-bit vectors
// (edit/wavefront.hpp): built wherever GCC's target attributes are, for AVX2
// and for AVX-512, run where the processor has them.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUILLSTONE_WAVEFRONT 1
#endif

namespace quillstone::detail {

enum class VectorTarget { kBaseline, kAvx2, kAvx512 };

// The best target this processor runs. AVX-512 here means the foundation
// with the 256-bit (VL), doubleword and quadword (DQ) and byte and word (BW)
// instructions, as the kernels use them.
inline VectorTarget vector_target() noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw")) {
    return VectorTarget::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return VectorTarget::kAvx2;
#endif
  return VectorTarget::kBaseline;
}

// Whether this processor runs the kernels of `target`.
inline bool runs(VectorTarget target) noexcept { return target <= vector_target(); }

}  // namespace quillstone::detail
