// What the library's sources need of the language beyond C++98, written so
// that every compiler the library targets has it: Visual Studio 2005 to 2013
// for Windows CE, GCC and clang elsewhere.
#ifndef TASKCLIENT_PORTABLE_H
#define TASKCLIENT_PORTABLE_H

#include <stddef.h>

// Fixed-width integers (and intptr_t): <stdint.h>, which Visual Studio has
// only from 2010 (_MSC_VER 1600) on; before it, from the compiler's own
// sized types (intptr_t comes with <stddef.h> there).
#if defined(_MSC_VER) && _MSC_VER < 1600
typedef signed __int8 int8_t;
typedef unsigned __int8 uint8_t;
typedef signed __int16 int16_t;
typedef unsigned __int16 uint16_t;
typedef signed __int32 int32_t;
typedef unsigned __int32 uint32_t;
typedef signed __int64 int64_t;
typedef unsigned __int64 uint64_t;
#else
#include <stdint.h>
#endif

// A check at compile time, in any language level: a false `condition`
// declares an array of negative size, and the compiler names `what` (an
// identifier saying what must hold) in its error.
#define TASKCLIENT_STATIC_ASSERT(condition, what) typedef char taskclient_check_##what[(condition) ? 1 : -1]

#endif
