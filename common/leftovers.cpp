// The record of what the run has made and not removed yet.
#include "common/leftovers.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace kelvomar {
namespace leftovers {

namespace {

constexpr std::size_t kTextSize = 8192;

struct registry {
    std::mutex mutex;
    std::map<std::string, std::string> entries;
    // Two copies of the joined text: a change writes the one not in use, then
    // switches to it, so that a handler reads a whole text.
    char texts[2][kTextSize] = {{0}, {0}};
    std::atomic<int> current{0};
};

// Made before main, so that a signal handler never initialises it.
registry g_registry;

registry& shared()
{
    return g_registry;
}

std::string joined(const std::map<std::string, std::string>& entries)
{
    std::string all;
    for (const auto& entry : entries) {
        if (!all.empty()) {
            all += "; ";
        }
        all += entry.second;
    }
    return all;
}

// Called with the mutex held.
void publish(registry& r)
{
    const int next = 1 - r.current.load();
    const std::string all = joined(r.entries);
    const std::size_t size = all.size() < kTextSize - 1 ? all.size() : kTextSize - 1;
    std::memcpy(r.texts[next], all.data(), size);
    r.texts[next][size] = '\0';
    r.current = next;
}

}  // namespace

void note(const std::string& key, const std::string& text) noexcept
{
    try {
        registry& r = shared();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.entries[key] = text;
        publish(r);
    } catch (...) {
        // Out of memory: the record stays as it was.
    }
}

void forget(const std::string& key) noexcept
{
    try {
        registry& r = shared();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.entries.erase(key) != 0) {
            publish(r);
        }
    } catch (...) {
    }
}

std::string text()
{
    registry& r = shared();
    std::lock_guard<std::mutex> lock(r.mutex);
    return joined(r.entries);
}

const char* signal_text() noexcept
{
    registry& r = shared();
    return r.texts[r.current.load()];
}

}  // namespace leftovers
}  // namespace kelvomar
