#include "components/kes04/index_hook.h"

#include <atomic>

namespace tavrel::kes04 {

namespace {
std::atomic<IndexFactory> g_factory{nullptr};
}  // namespace

void setIndexFactory(IndexFactory factory) { g_factory.store(factory); }

IndexFactory indexFactory() { return g_factory.load(); }

}  // namespace tavrel::kes04
