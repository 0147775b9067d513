#include "core/cache/object_slot.h"

#include <utility>

namespace quorvane::cache {
namespace {

ObjectSlot::ReleaseHook release_hook = nullptr;

// The slot is updated before the release runs, so whatever the release does
// (it may run arbitrary finalisers) never sees a dangling pointer here.
void release(void* object) {
    if (object != nullptr && release_hook != nullptr) release_hook(object);
}

}  // namespace

void ObjectSlot::set_release_hook(ReleaseHook hook) { release_hook = hook; }

ObjectSlot::ObjectSlot(ObjectSlot&& other) noexcept
    : object_(std::exchange(other.object_, nullptr)), version_(std::exchange(other.version_, 0)) {}

ObjectSlot& ObjectSlot::operator=(ObjectSlot&& other) noexcept {
    if (this != &other) {
        void* previous = std::exchange(object_, std::exchange(other.object_, nullptr));
        version_ = std::exchange(other.version_, 0);
        release(previous);
    }
    return *this;
}

void ObjectSlot::store(void* object, std::uint64_t version) {
    void* previous = std::exchange(object_, object);
    version_ = version;
    release(previous);
}

void ObjectSlot::reset() {
    void* previous = std::exchange(object_, nullptr);
    version_ = 0;
    release(previous);
}

}  // namespace quorvane::cache
