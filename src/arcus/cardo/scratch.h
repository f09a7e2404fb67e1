// cardo: the scratch memory of one call.
#pragma once

#include <cstddef>
#include <new>

namespace cardo {

// `count` elements of T for the duration of one call: inside the object up to
// N (no allocation for the small sizes of the evaluation paths), from the heap
// beyond, released on every exit path. Never throws: ok() is false when the
// heap allocation failed, and the routine then returns the status NO_MEMORY.
// A request of 0 elements yields a valid pointer that is not used.
template <typename T, std::size_t N = 0>
class Scratch {
public:
    explicit Scratch(std::size_t count)
        : heap_(count > N ? new (std::nothrow) T[count] : nullptr),
          data_(count > N ? heap_ : local_) {}
    ~Scratch() { delete[] heap_; }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    bool ok() const { return data_ != nullptr; }
    T* data() const { return data_; }
    T& operator[](std::size_t i) const { return data_[i]; }

private:
    T local_[N > 0 ? N : 1];
    T* heap_;
    T* data_;
};

}  // namespace cardo
