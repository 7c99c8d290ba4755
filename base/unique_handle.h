#pragma once
// One owner per handle: a move-only holder over a handle type and its close function. Everything that
// owns a GDI object (and whatever else needs closing) is a name for an instance of this template, so a
// copy that would close a handle twice cannot be written.
#include <type_traits>
#include <utility>

namespace Base {

// Traits name the handle type, its empty value and how it is closed:
//   struct Traits { using Handle = ...; static Handle Empty() noexcept; static void Close(Handle) noexcept; };
template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    bool IsEmpty() const noexcept { return handle_ == Traits::Empty(); }
    explicit operator bool() const noexcept { return !IsEmpty(); }

    // Closes what is held and takes the new handle.
    void Reset(Handle handle = Traits::Empty()) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty() && old != handle) Traits::Close(old);
    }

    // For a call that hands back a new handle through a pointer: what is held is closed first, so reusing
    // an owner for another call never leaks the previous handle.
    Handle* Put() noexcept {
        Reset();
        return &handle_;
    }

    // Gives the handle up without closing it.
    Handle Release() noexcept { return std::exchange(handle_, Traits::Empty()); }

private:
    Handle handle_ = Traits::Empty();
};

// Proof that an owner type can only be moved: used next to every owner's definition.
template <class Owner>
inline constexpr bool kIsMoveOnly = !std::is_copy_constructible_v<Owner> && !std::is_copy_assignable_v<Owner> &&
                                    std::is_nothrow_move_constructible_v<Owner> &&
                                    std::is_nothrow_move_assignable_v<Owner>;

}  // namespace Base
