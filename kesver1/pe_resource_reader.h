// Finding the version resource of a PE image (32-bit or 64-bit, EXE or DLL).
//
// Plain code without Qt: reads the headers, the section table and the resource
// directory of a PE file through a ByteSource and returns the raw bytes of its
// version resource, the way the platform's version functions locate it: resource
// type 16 (RT_VERSION), name 1, the first language entry found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kesver1/byte_source.h"

namespace tavrel::kesver1 {

// Why a file yields no version resource. Values are fixed; never renumber.
enum class PeError : int {
    kNone = 0,                  // the resource was found
    kNotPe = 1,                 // no "MZ" header, no "PE\0\0" signature, or headers cut short
    kBadOptionalHeader = 2,     // unknown optional-header magic or header too short
    kNoResources = 3,           // the image has no resource directory
    kBadSection = 4,            // an address that no section's file data holds
    kBadResourceDirectory = 5,  // a directory table or entry outside the resources
    kNoVersionResource = 6,     // no RT_VERSION type, no name 1, or no language entry
    kBadResourceData = 7,       // the resource's data entry or bytes lie outside the file
};

// The outcome of `readVersionResource`.
struct PeReadResult {
    PeError error = PeError::kNone;
    // File offset of the structure that failed (0 when not applicable).
    uint64_t offset = 0;
    // The version resource's bytes, empty unless error is kNone. Cut to the
    // largest size a version tree can describe (65535 bytes).
    std::vector<uint8_t> bytes;
};

// Locates and reads the version resource of the PE image in `source`. Never
// reads outside the source; every structure is checked before it is trusted.
PeReadResult readVersionResource(const ByteSource& source);

// A short English description of `error` for diagnostics.
std::string describe(PeError error);

}  // namespace tavrel::kesver1
