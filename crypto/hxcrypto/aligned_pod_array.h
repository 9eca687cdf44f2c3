#pragma once
// Owner of a fixed-size array of plain elements in its own allocation with a
// chosen alignment (the chaining words that vector code loads with aligned moves).

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace hxcrypto {

template <typename T, size_t N, size_t Align>
class aligned_pod_array {
    static_assert(std::is_trivial<T>::value, "aligned_pod_array holds plain elements only");
    static_assert(Align >= alignof(T) && (Align & (Align - 1)) == 0, "alignment must be a power of two");

public:
    // Allocates N elements aligned to Align bytes, uninitialised;
    // throws std::bad_alloc when memory runs out.
    aligned_pod_array() : p_(allocate()) {}
    ~aligned_pod_array() { std::free(p_); }

    aligned_pod_array(const aligned_pod_array&) = delete;
    aligned_pod_array& operator=(const aligned_pod_array&) = delete;

    operator T*() { return p_; }
    operator const T*() const { return p_; }
    T* get() { return p_; }
    const T* get() const { return p_; }

    // Releases the array; get() is null afterwards.
    void reset() {
        std::free(p_);
        p_ = nullptr;
    }

    static constexpr size_t size() { return N; }
    static constexpr size_t bytes() { return N * sizeof(T); }

private:
    static T* allocate() {
        void* p = nullptr;
        if (posix_memalign(&p, Align < sizeof(void*) ? sizeof(void*) : Align, N * sizeof(T)) != 0)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }

    T* p_;
};

// Sets n bytes to zero in a way the compiler may not drop as a dead store.
inline void secure_wipe(void* p, size_t n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--)
        *v++ = 0;
}

}  // namespace hxcrypto
