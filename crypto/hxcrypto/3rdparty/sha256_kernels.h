#pragma once
// Vector kernels of the SHA-256 block function. Each compresses consecutive
// 64-byte blocks into the eight chaining words in place, exactly as the
// portable function does; a count or length of 0 leaves the words unchanged.
// Each is compiled for its own instruction set only: call one only when the
// processor (and, for sha256_rorx, the operating system) supports it.

#include <cstddef>
#include <cstdint>

namespace hxcrypto {

// Needs SSE4.1. Compresses `blocks` blocks from `data` (any alignment).
void sha256_sse4(const void* data, uint32_t* state, uint64_t blocks);

// Needs AVX2 and BMI2 (and the OS saving 256-bit registers). Works on two
// blocks at a time in 256-bit registers and finishes an odd last block alone.
void sha256_rorx(const void* data, uint32_t* state, uint64_t blocks);

// Needs SSE2. `length` is in bytes, a multiple of 64; `state` must be 16-byte
// aligned (read and written with aligned vector moves); `data` may be unaligned.
void X86_SHA256_HashBlocks(uint32_t* state, const uint32_t* data, size_t length);

}  // namespace hxcrypto
