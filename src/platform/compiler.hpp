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

#if defined(_MSC_VER) && !defined(__clang__)
#define VELTO_COMPILER_MSVC 1
#define VELTO_RESTRICT __restrict
#define VELTO_NOINLINE __declspec(noinline)
#else
#define VELTO_COMPILER_GNU 1
#define VELTO_RESTRICT __restrict__
#define VELTO_NOINLINE __attribute__((noinline))
#endif
