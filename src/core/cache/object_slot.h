// An owned reference to an object the binding layer built from cache data,
// stamped with the change counter it was built from. The cache never looks
// inside: it only releases the reference, through a hook the binding layer
// installs once, when the slot is refilled or its record is dropped.
#pragma once

#include <cstdint>

namespace quorvane::cache {

class ObjectSlot {
public:
    using ReleaseHook = void (*)(void* object);

    // Process-wide; without a hook, released objects are simply forgotten.
    static void set_release_hook(ReleaseHook hook);

    ObjectSlot() = default;
    ObjectSlot(ObjectSlot&& other) noexcept;
    ObjectSlot& operator=(ObjectSlot&& other) noexcept;
    ObjectSlot(const ObjectSlot&) = delete;
    ObjectSlot& operator=(const ObjectSlot&) = delete;
    ~ObjectSlot() { reset(); }

    void* get() const { return object_; }
    std::uint64_t version() const { return version_; }

    // Takes over one reference to `object` and releases the previous one.
    void store(void* object, std::uint64_t version);
    // Releases the object; the slot is empty with stamp 0 again.
    void reset();

private:
    void* object_ = nullptr;
    std::uint64_t version_ = 0;
};

}  // namespace quorvane::cache
