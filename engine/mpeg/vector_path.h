#pragma once
// Which vector instructions the decoder's transforms use: the best this processor has, unless a
// test asks for a lesser one to compare them. Every path gives the same bits.

namespace vesperon::mpeg {

enum class VectorPath { Portable = 0, Sse2 = 1, Avx2 = 2 };

// The best path this build and processor can run.
VectorPath bestVectorPath();
// The path in use.
VectorPath vectorPath();
// Uses `path` from now on, or the best one when it asks for more; returns the path in use.
VectorPath setVectorPath(VectorPath path);

}  // namespace vesperon::mpeg
