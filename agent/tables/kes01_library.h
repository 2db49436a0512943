// The agent's binding of the SHA-1 library KES01.DLL.
//
// The library is loaded by file name through the platform's library search
// when the first of its functions is called, and each function is bound by
// name on its own first call. A library or function that cannot be had is
// logged and reported to the caller as `Kes01Result::kUnavailable`, never a
// crash; the next call tries again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "agent/tables/export_binding.h"
#include "kes01/kes01.h"  // the functions' declarations only; the library is bound at run time

namespace tavrel::tables {

// A KES01 context handle: a pointer-sized integer, 0 for none.
using Kes01Handle = SHAContextHandle;

// Results of the library's functions; the values are the library's own.
enum class Kes01Result : int32_t {
    kSuccess = 0,          // done
    kUnavailable = -1,     // the library or the function could not be bound (the agent's own)
    kInvalidHandle = 200,  // handle is 0 or not a live context
    kNotAccepting = 201,   // context already finalized
    kBadArgument = 202,    // word index outside 0..4, or a null output
    kNotFinalized = 203,   // digest not available yet
    kBadLength = 204,      // negative length, or null data
};

class Kes01Library {
  public:
    // Binds nothing yet. `fileName` is the library's file name, looked up as
    // the platform looks up libraries by name (beside the program first).
    // `log` receives a line for every call that cannot be made.
    explicit Kes01Library(LogLine log, std::string fileName = "KES01.DLL");
    ~Kes01Library();
    Kes01Library(const Kes01Library&) = delete;
    Kes01Library& operator=(const Kes01Library&) = delete;

    // The library's functions under their own names. SHACreateContext gives 0
    // when the library is unavailable (or out of memory); the others give the
    // library's result, or kUnavailable. `buffer` of SHAGetHashString must
    // hold 45 bytes.
    Kes01Handle SHACreateContext();
    Kes01Result SHAInitialize(Kes01Handle handle);
    Kes01Result SHAUpdateHash(Kes01Handle handle, const void* data, int32_t length);
    Kes01Result SHAFinalize(Kes01Handle handle);
    Kes01Result SHAGetHashString(Kes01Handle handle, char* buffer);
    Kes01Result SHADestroyContext(Kes01Handle handle);

    // Writes a line to the log this binding was given.
    void log(const std::string& line) const;

    const std::string& fileName() const { return m_exports.fileName(); }

  private:
    ExportBinding m_exports;
};

// Characters of a checksum text.
inline constexpr size_t kChecksumLength = 40;

// The record checksum text of `text`: the SHA-1 digest of its bytes (one byte
// per character, as stored in the tables) as 40 lower-case hexadecimal digits,
// the digest words in the order H4, H2, H0, H3, H1. Each call uses its own
// hashing context (see ChecksumMaker for runs). nullopt when the library
// cannot be bound or one of its calls fails; the reason is logged.
std::optional<std::string> MakeChecksumText(Kes01Library& library, std::string_view text);

// MakeChecksumText for many texts in a row (a run over a table): one hashing
// context, started afresh for each text, serves them all. A failed call
// gives up the context; the next text gets a new one.
class ChecksumMaker {
  public:
    explicit ChecksumMaker(Kes01Library& library) : m_library(library) {}
    ~ChecksumMaker();
    ChecksumMaker(const ChecksumMaker&) = delete;
    ChecksumMaker& operator=(const ChecksumMaker&) = delete;

    // As MakeChecksumText(library, text).
    std::optional<std::string> make(std::string_view text);
    // The same into `checksum`, kChecksumLength bytes (no terminating zero);
    // false when no checksum was made (the reason is logged).
    bool make(std::string_view text, char* checksum);

  private:
    Kes01Library& m_library;
    Kes01Handle m_handle = 0;
};

}  // namespace tavrel::tables
