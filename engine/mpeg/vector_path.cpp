#include "engine/mpeg/vector_path.h"

#include <algorithm>
#include <atomic>

namespace vesperon::mpeg {
namespace {

std::atomic<int> current{-1};

}  // namespace

VectorPath bestVectorPath() {
#if defined(__SSE2__)
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) return VectorPath::Avx2;
#endif
    return VectorPath::Sse2;
#else
    return VectorPath::Portable;
#endif
}

VectorPath vectorPath() {
    int p = current.load(std::memory_order_relaxed);
    if (p < 0) {
        p = static_cast<int>(bestVectorPath());
        current.store(p, std::memory_order_relaxed);
    }
    return static_cast<VectorPath>(p);
}

VectorPath setVectorPath(VectorPath path) {
    const int p = std::min(static_cast<int>(path), static_cast<int>(bestVectorPath()));
    current.store(p, std::memory_order_relaxed);
    return static_cast<VectorPath>(p);
}

}  // namespace vesperon::mpeg
