// The registry of live hashing contexts.
//
// Handles are numbers handed out by the registry, not addresses: a handle is
// looked up before its context is touched, so a destroyed handle, or any value
// that never was one, is recognised without reading freed or foreign memory.
// A destroyed handle is not handed out again until the handle numbers wrap
// around (2^64 contexts later; 2^32 where handles are 32 bits wide).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "kes01/hash_context.h"
#include "kes01/kes01.h"

namespace tavrel::kes01 {

class ContextRegistry {
  public:
    // The process-wide registry. It is released, with every context still
    // live, when the library is unloaded or the process ends; a call after
    // that (from another library's shutdown) gets a fresh, empty registry.
    static ContextRegistry& instance();

    // Wipes and releases every live context.
    ~ContextRegistry();
    ContextRegistry(const ContextRegistry&) = delete;
    ContextRegistry& operator=(const ContextRegistry&) = delete;

    // Makes a new context, started for a message. Its handle, or 0 when memory
    // is exhausted (then nothing stays allocated).
    SHAContextHandle create();

    // The live context behind `handle`, or null. The pointer stays valid until
    // the handle is destroyed; using one context from two threads at once is
    // the caller's fault, as documented in kes01.h.
    SHAHashContext* find(SHAContextHandle handle);

    // find() for the calls of one handle after another (initialise, update,
    // finalise, read, for every record of a table): the context this thread
    // found last is taken without the lock or the map while nothing was
    // destroyed since.
    static SHAHashContext* findLive(SHAContextHandle handle) {
        const LastFound& last = t_lastFound;
        if (handle != 0 && last.handle == uintptr_t(handle) &&
            last.destroyed == g_destroyed.load(std::memory_order_acquire)) {
            return last.context->marker == kLiveMarker ? last.context : nullptr;
        }
        return instance().find(handle);
    }

    // Wipes and releases the context. False when `handle` is not live.
    bool destroy(SHAContextHandle handle);

    // Number of live contexts.
    size_t size();

  private:
    ContextRegistry() = default;

    struct LastFound {
        uintptr_t handle = 0;
        SHAHashContext* context = nullptr;
        uint64_t destroyed = 0;
    };
    static constinit thread_local LastFound t_lastFound;
    // Bumped whenever a context is destroyed or the registry released, so that
    // a thread's remembered context is trusted only while nothing was destroyed.
    static std::atomic<uint64_t> g_destroyed;

    std::mutex m_mutex;
    std::unordered_map<uintptr_t, std::unique_ptr<SHAHashContext>> m_live;
    uintptr_t m_lastHandle = 0;
};

}  // namespace tavrel::kes01
