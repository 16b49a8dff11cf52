#pragma once

#include <cstddef>
#include <memory>
#include <new>

// The engine reports a failed allocation with its own message and result, never with an
// exception; these two make an owned record or array and give an empty pointer when memory ran
// out, so every caller checks one pointer instead of catching.

/// A value-initialised (zeroed) array of `n` elements, or an empty pointer when it cannot be
/// allocated.
template <class T>
std::unique_ptr<T[]> tryMakeArray(std::size_t n) noexcept {
    try {
        return std::make_unique<T[]>(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

/// A default-constructed record, or an empty pointer when it cannot be allocated.
template <class T>
std::unique_ptr<T> tryMakeRecord() noexcept {
    try {
        return std::make_unique<T>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
