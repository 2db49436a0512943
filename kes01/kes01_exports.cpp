// The exports of KES01.DLL. Each checks the handle, then the context's state,
// then its arguments, and changes nothing when it refuses. Nothing is thrown
// across the C boundary.
#include <cstring>

#include "kes01/context_registry.h"
#include "kes01/hash_context.h"
#include "kes01/kes01.h"

using tavrel::kes01::ContextRegistry;
using tavrel::kes01::ContextState;
using tavrel::kes01::SHAHashContext;

namespace {

SHAHashContext* live(SHAContextHandle handle) { return ContextRegistry::findLive(handle); }

// Runs `body` and turns anything thrown into `onThrow`; the library's own code
// throws nothing, this only keeps the C boundary watertight.
template <class Body>
int32_t guarded(int32_t onThrow, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return onThrow;
    }
}

}  // namespace

extern "C" {

KES01_EXPORT SHAContextHandle KES01_CALL SHACreateContext(void) {
    try {
        return ContextRegistry::instance().create();
    } catch (...) {
        return 0;
    }
}

KES01_EXPORT int32_t KES01_CALL SHAInitialize(SHAContextHandle handle) {
    return guarded(KES01_INVALID_HANDLE, [&] {
        SHAHashContext* context = live(handle);
        if (context == nullptr) return KES01_INVALID_HANDLE;
        tavrel::kes01::startMessage(*context);
        return KES01_SUCCESS;
    });
}

KES01_EXPORT int32_t KES01_CALL SHAUpdateHash(SHAContextHandle handle, const void* data,
                                              int32_t length) {
    return guarded(KES01_INVALID_HANDLE, [&] {
        SHAHashContext* context = live(handle);
        if (context == nullptr) return KES01_INVALID_HANDLE;
        if (context->state != ContextState::kAccepting) return KES01_NOT_ACCEPTING;
        if (length < 0 || (length > 0 && data == nullptr)) return KES01_BAD_LENGTH;
        tavrel::kes01::feedMessage(*context, static_cast<const uint8_t*>(data), size_t(length),
                                   tavrel::kes01::selectedCompressor());
        return KES01_SUCCESS;
    });
}

KES01_EXPORT int32_t KES01_CALL SHAFinalize(SHAContextHandle handle) {
    return guarded(KES01_INVALID_HANDLE, [&] {
        SHAHashContext* context = live(handle);
        if (context == nullptr) return KES01_INVALID_HANDLE;
        if (context->state != ContextState::kAccepting) return KES01_NOT_ACCEPTING;
        tavrel::kes01::finishMessage(*context, tavrel::kes01::selectedCompressor());
        return KES01_SUCCESS;
    });
}

KES01_EXPORT int32_t KES01_CALL SHAGetHashValue(SHAContextHandle handle, int32_t index,
                                                uint32_t* value) {
    return guarded(KES01_INVALID_HANDLE, [&] {
        SHAHashContext* context = live(handle);
        if (context == nullptr) return KES01_INVALID_HANDLE;
        if (context->state != ContextState::kFinalized) return KES01_NOT_FINALIZED;
        if (index < 0 || index > 4 || value == nullptr) return KES01_BAD_ARGUMENT;
        *value = context->digest[index];
        return KES01_SUCCESS;
    });
}

KES01_EXPORT int32_t KES01_CALL SHAGetHashString(SHAContextHandle handle, char* buffer) {
    return guarded(KES01_INVALID_HANDLE, [&] {
        SHAHashContext* context = live(handle);
        if (context == nullptr) return KES01_INVALID_HANDLE;
        if (context->state != ContextState::kFinalized) return KES01_NOT_FINALIZED;
        if (buffer == nullptr) return KES01_BAD_ARGUMENT;
        tavrel::kes01::formatDigestText(context->digest, buffer);
        return KES01_SUCCESS;
    });
}

KES01_EXPORT int32_t KES01_CALL SHADestroyContext(SHAContextHandle handle) {
    return guarded(KES01_INVALID_HANDLE, [&] {
        return ContextRegistry::instance().destroy(handle) ? KES01_SUCCESS : KES01_INVALID_HANDLE;
    });
}

}  // extern "C"
