// Marks a printf-style function so that the compiler checks its calls:
// fmt is the position of the format argument, args that of the first value
// (counting "this" as 1 in member functions). GCC is told the GNU rules,
// which MinGW would otherwise take for Microsoft's.
#pragma once

#if defined(__clang__)
#define VELSEND_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define VELSEND_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define VELSEND_PRINTF(fmt, args)
#endif
