// The card library's call table: every operation the program calls, with the
// argument widths of the maker's library. The simulated card implements the
// same table, and the program binds it by export name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(_WIN32) && !defined(_WIN64)
#define ADCARD_CALL __stdcall
#else
#define ADCARD_CALL
#endif

// X(name, result, (argument types...))
#define ZQD_CARD_OPERATIONS(X)                                                              \
    X(Initial, std::int32_t, (std::int32_t, std::int32_t, std::int32_t, std::int32_t))     \
    X(StartIntr, std::int32_t,                                                              \
      (std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t,  \
       std::int16_t))                                                                       \
    X(StopIntr, std::int32_t, ())                                                           \
    X(GetLastADError, std::int32_t, ())                                                     \
    X(QueryBuf, std::int32_t, ())                                                           \
    X(ADResult, std::int32_t, (std::int16_t*))                                              \
    X(Zqd_DI, std::int16_t, (std::int16_t, std::int16_t*))                                  \
    X(Zqd_DO, std::int16_t, (std::int16_t, std::int16_t))

namespace zqd::card_ops {

#define ZQD_DECLARE_FN(name, result, args) using name##Fn = result(ADCARD_CALL*) args;
ZQD_CARD_OPERATIONS(ZQD_DECLARE_FN)
#undef ZQD_DECLARE_FN

// Exported only by the simulated card library, which returns 1: the maker's
// library has no such export.
using AdcardSimulatedFn = std::int32_t(ADCARD_CALL*)();

// Bytes an argument takes on the 32-bit stdcall stack: every argument,
// pointers included, fills at least one 4-byte slot.
template <typename A>
constexpr unsigned StackBytes() {
    return std::is_pointer_v<A> ? 4u : static_cast<unsigned>((sizeof(A) + 3) / 4 * 4);
}

// Decorated stdcall export name: "_Initial@16", "_StartIntr@28", "_StopIntr@0".
template <typename R, typename... A>
std::string DecoratedName(std::string_view name, R(ADCARD_CALL*)(A...)) {
    constexpr unsigned bytes = (0u + ... + StackBytes<A>());
    return "_" + std::string(name) + "@" + std::to_string(bytes);
}

// The name an operation is bound by on this platform: decorated on 32-bit
// Windows, the plain C name elsewhere.
template <typename Fn>
std::string ExportName(std::string_view name, Fn fn) {
#if defined(_WIN32) && !defined(_WIN64)
    return DecoratedName(name, fn);
#else
    (void)fn;
    return std::string(name);
#endif
}

}  // namespace zqd::card_ops
