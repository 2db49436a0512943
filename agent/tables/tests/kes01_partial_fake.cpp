// A stand-in for KES01.DLL without SHAGetHashString, whose SHAFinalize result
// a test can choose, and which counts its live contexts.
#include <cstdint>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int g_live = 0;
int32_t g_finalizeResult = 0;
}  // namespace

FAKE_EXPORT intptr_t SHACreateContext() { return ++g_live > 0 ? 0x1234 : 0; }
FAKE_EXPORT int32_t SHAInitialize(intptr_t) { return 0; }
FAKE_EXPORT int32_t SHAUpdateHash(intptr_t, const void*, int32_t) { return 0; }
FAKE_EXPORT int32_t SHAFinalize(intptr_t) { return g_finalizeResult; }
FAKE_EXPORT int32_t SHADestroyContext(intptr_t) {
    --g_live;
    return 0;
}
FAKE_EXPORT int FakeLiveContexts() { return g_live; }
FAKE_EXPORT void FakeSetFinalizeResult(int32_t result) { g_finalizeResult = result; }
