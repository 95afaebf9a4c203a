// The enumerator that every collection hands out (NewEnum): an automation
// object that walks the collection's items.
#pragma once

#include <quillpost/variant.hpp>

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace quillpost {

// Walks a snapshot of a collection taken when it was made, so a collection
// changed during a walk neither invalidates it nor shows half a change.
class Enumerator : public Dispatch {
public:
    explicit Enumerator(std::vector<std::shared_ptr<Dispatch>> items) : items_(std::move(items)) {}

    // The next item, or false when none is left.
    bool Next(Variant& item) {
        if (position_ >= items_.size()) return false;
        item = Variant(items_[position_++]);
        return true;
    }
    // Skips up to `count` items; false when fewer were left.
    bool Skip(std::size_t count) {
        const std::size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left;
    }
    void Reset() noexcept { position_ = 0; }
    std::shared_ptr<Enumerator> Clone() const {
        auto copy = std::make_shared<Enumerator>(items_);
        copy->position_ = position_;
        return copy;
    }

private:
    std::vector<std::shared_ptr<Dispatch>> items_;
    std::size_t position_ = 0;
};

}  // namespace quillpost
