// The one place that detects the compiler, the OS and the architecture.
// solver/, bench/ and app/ test these macros, never _WIN32 or __GNUC__.
#pragma once

#if defined(_WIN32)
#define VELTO_OS_WINDOWS 1
#elif defined(__linux__)
#define VELTO_OS_LINUX 1
#else
#error "velto builds for Windows and Linux only"
#endif

#if defined(_M_IX86) || defined(__i386__)
#define VELTO_ARCH_X86_32 1
#define VELTO_ARCH_X86 1
#elif defined(_M_X64) || defined(__x86_64__)
#define VELTO_ARCH_X86_64 1
#define VELTO_ARCH_X86 1
#else
#error "velto needs an x86 processor"
#endif

// VELTO_UNROLL(n) before a loop asks the compiler to unroll its machine code n
// times. The source loop, its arithmetic and its order stay as written; only
// the loop's bookkeeping is shared between consecutive iterations.
//
// VELTO_PREFETCH_READ / VELTO_PREFETCH_WRITE hint that the cache line at an
// address will soon be read, or read and written. A hint never faults, so the
// address may lie outside any allocation.
#if defined(_MSC_VER) && !defined(__clang__)
#include <xmmintrin.h>
#define VELTO_COMPILER_MSVC 1
#define VELTO_RESTRICT __restrict
#define VELTO_NOINLINE __declspec(noinline)
#define VELTO_PREFETCH_READ(address) _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0)
#define VELTO_PREFETCH_WRITE(address) _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0)
#define VELTO_UNROLL(n)
#else
#define VELTO_COMPILER_GNU 1
#define VELTO_RESTRICT __restrict__
#define VELTO_NOINLINE __attribute__((noinline))
#define VELTO_PREFETCH_READ(address) __builtin_prefetch((address), 0, 3)
#define VELTO_PREFETCH_WRITE(address) __builtin_prefetch((address), 1, 3)
#define VELTO_PRAGMA(text) _Pragma(#text)
#define VELTO_UNROLL(n) VELTO_PRAGMA(GCC unroll n)
#endif
