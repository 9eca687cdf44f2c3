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

// The entries, made on first use (a static initialiser of another file may
// already note one).
struct registry {
    std::mutex mutex;
    std::map<std::string, std::string> entries;
};

registry& shared()
{
    static registry instance;
    return instance;
}

// Two copies of the joined text: a change writes the one not in use, then
// switches to it, so that a handler reads a whole text. Constant-initialised:
// a handler never has anything to construct.
char g_texts[2][kTextSize] = {{0}, {0}};
std::atomic<int> g_current{0};

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
    const int next = 1 - g_current.load();
    const std::string all = joined(r.entries);
    const std::size_t size = all.size() < kTextSize - 1 ? all.size() : kTextSize - 1;
    std::memcpy(g_texts[next], all.data(), size);
    g_texts[next][size] = '\0';
    g_current = next;
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
    return g_texts[g_current.load()];
}

}  // namespace leftovers
}  // namespace kelvomar
