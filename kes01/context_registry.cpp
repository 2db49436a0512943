#include "kes01/context_registry.h"

#include <atomic>
#include <new>

namespace tavrel::kes01 {

namespace {

std::atomic<ContextRegistry*> g_registry{nullptr};

// Releases the registry when the library is unloaded or the process ends.
struct ReleaseAtUnload {
    ~ReleaseAtUnload() { delete g_registry.exchange(nullptr); }
} g_releaseAtUnload;

}  // namespace

constinit thread_local ContextRegistry::LastFound ContextRegistry::t_lastFound;
std::atomic<uint64_t> ContextRegistry::g_destroyed{0};

ContextRegistry& ContextRegistry::instance() {
    ContextRegistry* registry = g_registry.load(std::memory_order_acquire);
    if (registry != nullptr) return *registry;
    auto* fresh = new ContextRegistry;
    if (g_registry.compare_exchange_strong(registry, fresh, std::memory_order_acq_rel)) {
        return *fresh;
    }
    delete fresh;  // another thread was first
    return *registry;
}

ContextRegistry::~ContextRegistry() {
    g_destroyed.fetch_add(1, std::memory_order_acq_rel);
    for (auto& [handle, context] : m_live) wipeContext(*context);
}

SHAContextHandle ContextRegistry::create() {
    std::unique_ptr<SHAHashContext> context(new (std::nothrow) SHAHashContext{});
    if (!context) return 0;
    startMessage(*context);
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        uintptr_t handle;
        do {
            handle = ++m_lastHandle;
        } while (handle == 0 || m_live.count(handle) != 0);
        m_live.emplace(handle, std::move(context));
        return SHAContextHandle(handle);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

SHAHashContext* ContextRegistry::find(SHAContextHandle handle) {
    if (handle == 0) return nullptr;
    LastFound& last = t_lastFound;
    if (last.handle == uintptr_t(handle) &&
        last.destroyed == g_destroyed.load(std::memory_order_acquire)) {
        return last.context->marker == kLiveMarker ? last.context : nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_live.find(uintptr_t(handle));
    if (it == m_live.end()) return nullptr;
    SHAHashContext* context = it->second.get();
    if (context->marker != kLiveMarker) return nullptr;
    // Read under the lock: a destroy, which bumps the count under it too,
    // cannot fall between the lookup and the remembering.
    last = {uintptr_t(handle), context, g_destroyed.load(std::memory_order_acquire)};
    return context;
}

bool ContextRegistry::destroy(SHAContextHandle handle) {
    if (handle == 0) return false;
    std::unique_ptr<SHAHashContext> context;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_live.find(uintptr_t(handle));
        if (it == m_live.end()) return false;
        context = std::move(it->second);
        m_live.erase(it);
        g_destroyed.fetch_add(1, std::memory_order_acq_rel);
    }
    wipeContext(*context);
    return true;
}

size_t ContextRegistry::size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_live.size();
}

}  // namespace tavrel::kes01
