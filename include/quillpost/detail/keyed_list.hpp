// The ordered item list inside every collection: 1-based positions, optional
// text keys compared without regard to letter case, shared items. Installed
// because the collections hold one; not part of the interface.
#pragma once

#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>
#include <quillpost/enumerator.hpp>
#include <quillpost/variant.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillpost {

template <class T>
class KeyedList {
public:
    struct Entry {
        std::shared_ptr<T> item;
        std::optional<std::string> key;  // folded to lower case
    };

    class const_iterator {
    public:
        using inner = typename std::vector<Entry>::const_iterator;
        using value_type = std::shared_ptr<T>;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        explicit const_iterator(inner at) : at_(at) {}
        const std::shared_ptr<T>& operator*() const { return at_->item; }
        const std::shared_ptr<T>* operator->() const { return &at_->item; }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) {
            auto old = *this;
            ++at_;
            return old;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        inner at_{};
    };

    std::int32_t Count() const noexcept { return static_cast<std::int32_t>(entries_.size()); }

    // Appends at position Count + 1. A key already present (in any letter
    // case) raises 457 and leaves the list as it was.
    void Add(std::shared_ptr<T> item, std::optional<std::string_view> key = std::nullopt) {
        if (!key) {
            entries_.push_back(Entry{std::move(item), std::nullopt});
            return;
        }
        std::string folded = FoldCase(*key);
        if (byKey_.contains(folded)) raise(Err::DuplicateKey);
        auto inserted = byKey_.emplace(folded, item).first;
        try {
            entries_.push_back(Entry{std::move(item), std::move(folded)});
        } catch (...) {
            byKey_.erase(inserted);
            throw;
        }
    }

    // A number selects by position (1 to Count, else 9); a text selects by
    // key, without walking the list (no entry carrying it: 5).
    const std::shared_ptr<T>& Item(const Variant& index) const {
        const Variant resolved = Resolve(index);
        if (resolved.is_text()) {
            const auto found = byKey_.find(FoldCase(resolved.text()));
            if (found == byKey_.end()) raise(Err::InvalidProcedureCall);
            return found->second;
        }
        return entries_[Position(resolved)].item;
    }

    void Remove(const Variant& index) {
        const Variant resolved = Resolve(index);
        std::size_t at = 0;
        if (resolved.is_text()) {
            const auto found = byKey_.find(FoldCase(resolved.text()));
            if (found == byKey_.end()) raise(Err::InvalidProcedureCall);
            while (entries_[at].item != found->second) ++at;
        } else {
            at = Position(resolved);
        }
        if (entries_[at].key) byKey_.erase(*entries_[at].key);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    }

    std::shared_ptr<Enumerator> NewEnum() const {
        std::vector<std::shared_ptr<Dispatch>> items;
        items.reserve(entries_.size());
        for (const Entry& e : entries_) items.push_back(e.item);
        return std::make_shared<Enumerator>(std::move(items));
    }

    const_iterator begin() const noexcept { return const_iterator(entries_.begin()); }
    const_iterator end() const noexcept { return const_iterator(entries_.end()); }

private:
    // An object index stands for its default value.
    static Variant Resolve(const Variant& index) {
        return index.is_object() ? index.ToObject()->DefaultValue() : index;
    }

    std::size_t Position(const Variant& index) const {
        if (index.is_missing()) raise(Err::ArgumentNotOptional);
        if (!index.is_numeric() && !index.is_empty()) {
            if (index.is_null()) raise(Err::InvalidUseOfNull);
            raise(Err::TypeMismatch);
        }
        std::int32_t position = 0;
        try {
            position = index.ToInt32();
        } catch (const Error& e) {
            if (e.number() != error_info(Err::Overflow).number) throw;
            raise(Err::SubscriptOutOfRange);  // far outside the list
        }
        if (position < 1 || position > Count()) raise(Err::SubscriptOutOfRange);
        return static_cast<std::size_t>(position - 1);
    }

    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::shared_ptr<T>> byKey_;
};

}  // namespace quillpost
