// The one place that knows the compiler, the OS and the architecture velto
// builds for. solver/, bench/ and app/ use these macros, never _WIN32 or
// __GNUC__. velto builds with GCC or clang only (mingw-w64 for Windows).
#pragma once

#if !defined(_WIN32) && !defined(__linux__)
#error "velto builds for Windows and Linux only"
#endif

#if !defined(__i386__) && !defined(__x86_64__)
#error "velto needs an x86 processor"
#endif

#if !defined(__GNUC__)
#error "velto builds with GCC or clang"
#endif

// VELTO_UNROLL(n) before a loop asks the compiler to unroll its machine code n
// times. The source loop, its arithmetic and its order stay as written; only
// the loop's bookkeeping is shared between consecutive iterations.
//
// VELTO_PREFETCH_READ / VELTO_PREFETCH_WRITE hint that the cache line at an
// address will soon be read, or read and written. A hint never faults, so the
// address may lie outside any allocation.
#define VELTO_RESTRICT __restrict__
#define VELTO_PREFETCH_READ(address) __builtin_prefetch((address), 0, 3)
#define VELTO_PREFETCH_WRITE(address) __builtin_prefetch((address), 1, 3)
#define VELTO_PRAGMA(text) _Pragma(#text)
#define VELTO_UNROLL(n) VELTO_PRAGMA(GCC unroll n)

// What a result record says about the build: the OS and architecture the
// program was built for, and the compiler that built it.
#if defined(_WIN32)
#define VELTO_BUILD_OS "windows"
#else
#define VELTO_BUILD_OS "linux"
#endif
#if defined(__x86_64__)
#define VELTO_BUILD_ARCH "x86_64"
#else
#define VELTO_BUILD_ARCH "x86"
#endif
#if defined(__clang__)
#define VELTO_COMPILER_ID "clang"
#else
#define VELTO_COMPILER_ID "gcc"
#endif
#define VELTO_COMPILER_VERSION __VERSION__
