// Byte buffers and the little-endian 32-bit fields of VGM and HES headers.
// Every such field is read and written here, lowest byte first.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace quorvel {

// Leaves new elements uninitialised unless a value is given, so that a buffer about to
// be filled by a read is not first cleared: resize(n) does not write, resize(n, 0) does.
// Large buffers (a song's image) are asked for in huge pages, which the kernel maps 2 MiB
// at a time instead of faulting in every 4 KiB page on first touch.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;
    static constexpr std::size_t kHugeFrom = std::size_t{8} << 20;

    T* allocate(std::size_t n)
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kHugeFrom) return std::allocator<T>::allocate(n);
        void* p = nullptr;
        const std::size_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
        if (posix_memalign(&p, kHugePage, whole) != 0) throw std::bad_alloc();
        madvise(p, whole, MADV_HUGEPAGE); // advice: without it the buffer works the same
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n)
    {
        if (n * sizeof(T) < kHugeFrom) {
            std::allocator<T>::deallocate(p, n);
        } else {
            std::free(p);
        }
    }

    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}

    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using Bytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// Appends `size` bytes in one copy (a range insert would copy them one by one).
inline void appendBytes(Bytes& to, const std::uint8_t* from, std::size_t size)
{
    const std::size_t at = to.size();
    to.resize(at + size);
    if (size != 0) std::memcpy(to.data() + at, from, size);
}

inline std::uint16_t getLe16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t getLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline void setLe32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// Field access by offset; the caller guarantees offset + 4 <= buffer size.
inline std::uint32_t getLe32(const Bytes& buffer, std::size_t offset)
{
    return getLe32(buffer.data() + offset);
}

inline void setLe32(Bytes& buffer, std::size_t offset, std::uint32_t value)
{
    setLe32(buffer.data() + offset, value);
}

} // namespace quorvel
