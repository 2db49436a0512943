// The agent's binding of the database engine KES04.DLL.
//
// The agent never links the engine: the library is loaded by file name when
// the first of its functions is called, and each function is bound by name on
// its own first call (ExportBinding). A library or function that cannot be had
// is logged and answered with a failure value (below), never a crash.
#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "agent/tables/export_binding.h"
#include "components/kes04/kes04.h"  // the functions' declarations only; bound at run time

namespace tavrel::tables {

// Every engine function the agent calls, in one list: the binding is this list.
#define TAVREL_KES04_EXPORTS(X)                                                                  \
    X(code4initVB)                                                                               \
    X(code4close)                                                                                \
    X(code4initUndo) X(code4errorCode) X(code4errorText) X(code4accessMode) X(code4safety)       \
        X(code4errCreate) X(code4errOpen) X(code4errFieldName) X(code4errGo) X(code4errSkip)     \
            X(code4errOff) X(code4errTagName) X(d4open) X(d4close) X(d4create) X(d4top)          \
                X(d4bottom) X(d4skip) X(d4goLow) X(d4recCountDo) X(d4recNo) X(d4eof)             \
                    X(d4numFields) X(d4fieldJ) X(d4field) X(f4name) X(f4type) X(f4len_v)         \
                        X(f4decimals) X(d4appendStart) X(d4blank) X(d4append) X(d4appendBlank)   \
                            X(d4deleted) X(d4delete) X(d4recall) X(d4flush) X(d4unlock)          \
                                X(d4fileName) X(f4ptr) X(f4memoPtr) X(f4memoLen) X(f4memoAssign) \
                                    X(f4assignNVB) X(d4tag) X(d4tagSelect) X(d4seek) X(d4seekNext)

enum class Kes04Export : size_t {
#define TAVREL_KES04_ENUM(name) name,
    TAVREL_KES04_EXPORTS(TAVREL_KES04_ENUM)
#undef TAVREL_KES04_ENUM
};

// The declared type of each export.
template <Kes04Export E>
struct Kes04Signature;
#define TAVREL_KES04_SIGNATURE(name)           \
    template <>                                \
    struct Kes04Signature<Kes04Export::name> { \
        using type = decltype(&::name);        \
    };
TAVREL_KES04_EXPORTS(TAVREL_KES04_SIGNATURE)
#undef TAVREL_KES04_SIGNATURE

// The value a call gives when its function cannot be bound: null for a
// handle or text, -1 for a signed result (a failure to every caller: 0 is the
// engine's success), 0 for an unsigned length.
inline constexpr int kKes04Unavailable = -1;

class Kes04Library {
  public:
    // Binds nothing yet. `fileName` is looked up as the platform looks up
    // libraries by name (beside the program first); a path is taken as it is.
    explicit Kes04Library(LogLine log, std::string fileName = "KES04.DLL");

    // Calls the engine function E with `args`: its own result, or the
    // unavailable value above (logged by the binding) when it cannot be bound.
    template <Kes04Export E, class... A>
    auto call(A&&... args) {
        using Fn = typename Kes04Signature<E>::type;
        using R = std::invoke_result_t<Fn, A...>;
        const auto fn = m_exports.function<Fn>(size_t(E));
        if constexpr (std::is_void_v<R>) {
            if (fn) fn(std::forward<A>(args)...);
        } else {
            if (!fn) return unavailable<R>();
            return R(fn(std::forward<A>(args)...));
        }
    }

    // True when the library loads and has `E` (binds it).
    template <Kes04Export E>
    bool has() {
        return m_exports.address(size_t(E)) != nullptr;
    }

    void log(const std::string& line) const { m_exports.log(line); }
    const std::string& fileName() const { return m_exports.fileName(); }

  private:
    template <class R>
    static R unavailable() {
        if constexpr (std::is_pointer_v<R>) {
            return nullptr;
        } else if constexpr (std::is_unsigned_v<R>) {
            return R(0);
        } else {
            return R(kKes04Unavailable);
        }
    }

    ExportBinding m_exports;
};

// Short spelling for calls: K4(library, d4top, data).
#define K4(library, name, ...) (library).call<::tavrel::tables::Kes04Export::name>(__VA_ARGS__)

}  // namespace tavrel::tables
