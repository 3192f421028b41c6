// The instruction sets the core's vector kernels are built for, and the
// choice among them at run time.
#pragma once

#include <cstdlib>
#include <cstring>

// Vector kernels in GCC's target attributes: the whole column's strips of
// pattern words (edit/wavefront.hpp) and the nibble lanes, built for AVX2
// and for AVX-512 and run where the processor has them.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUILLSTONE_WAVEFRONT 1
#endif

// The lane kernels written in portable vector types (run_lane_kernel) are
// built for each target too, on x86-64 with GCC; elsewhere for the baseline.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUILLSTONE_LANE_TARGETS 1
#endif

// AVX-512 here means the foundation with the 256-bit (VL), doubleword and
// quadword (DQ) and byte and word (BW) instructions, as the kernels use them.
#define QUILLSTONE_AVX512 "avx2,avx512f,avx512vl,avx512dq,avx512bw"

namespace quillstone::detail {

enum class VectorTarget { kBaseline, kAvx2, kAvx512 };

// The best target the processor runs.
inline VectorTarget detected_target() noexcept {
#if defined(QUILLSTONE_WAVEFRONT)
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw")) {
    return VectorTarget::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return VectorTarget::kAvx2;
#endif
  return VectorTarget::kBaseline;
}

// The target the kernels run: the processor's best, unless the environment
// variable QUILLSTONE_VECTOR_TARGET ("baseline", "avx2" or "avx512") names a
// lower one, so that the tests can run every kernel a machine has. It is
// read once, at the first kernel chosen; a name above what the processor
// runs, or unknown, changes nothing.
inline VectorTarget vector_target() noexcept {
  static const VectorTarget chosen = [] {
    const VectorTarget best = detected_target();
    const char* name = std::getenv("QUILLSTONE_VECTOR_TARGET");
    if (name == nullptr) return best;
    const VectorTarget asked = std::strcmp(name, "baseline") == 0 ? VectorTarget::kBaseline
                               : std::strcmp(name, "avx2") == 0   ? VectorTarget::kAvx2
                                                                  : VectorTarget::kAvx512;
    return asked < best ? asked : best;
  }();
  return chosen;
}

// Whether the kernels of `target` run here.
inline bool runs(VectorTarget target) noexcept { return target <= vector_target(); }

// Runs kernel() compiled for one target: everything it calls is inlined
// into one copy per target, so that code in portable vector types takes that
// target's instructions. AVX-512 runs 256-bit vectors with its three-input
// logic and compares into masks, and 512-bit ones where a kernel has them.
#if defined(QUILLSTONE_WAVEFRONT)
template <class Kernel>
[[gnu::target(QUILLSTONE_AVX512), gnu::flatten]] void run_avx512(const Kernel& kernel) noexcept {
  kernel();
}
template <class Kernel>
[[gnu::target("avx2"), gnu::flatten]] void run_avx2(const Kernel& kernel) noexcept {
  kernel();
}
#endif
template <class Kernel>
[[gnu::flatten]] void run_baseline(const Kernel& kernel) noexcept {
  kernel();
}

// kernel() for the chosen target.
template <class Kernel>
void run_lane_kernel(const Kernel& kernel) noexcept {
#if defined(QUILLSTONE_LANE_TARGETS)
  switch (vector_target()) {
    case VectorTarget::kAvx512: return run_avx512(kernel);
    case VectorTarget::kAvx2: return run_avx2(kernel);
    case VectorTarget::kBaseline: break;
  }
#endif
  run_baseline(kernel);
}

}  // namespace quillstone::detail
