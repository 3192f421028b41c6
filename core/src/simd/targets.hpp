// Which vector instruction sets this processor runs: the one place that asks.
// Kernels are compiled for each target they have; the dispatchers choose
// among them with this.
#pragma once

namespace quillstone::detail {

enum class VectorTarget { kBaseline, kAvx2, kAvx512 };

// AVX-512 here means the foundation with the 256-bit (VL), doubleword and
// quadword (DQ) and byte and word (BW) instructions, as the kernels use them.
inline VectorTarget vector_target() noexcept {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
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
