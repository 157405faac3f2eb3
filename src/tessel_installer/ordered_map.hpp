// An insertion-ordered mapping: the catalogue, the selection and the per-package outcomes keep the
// order in which names first appeared, and a key set again keeps its place and takes the new value.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessel_installer {

template <typename Value>
class OrderedMap {
public:
    using value_type = std::pair<std::string, Value>;
    using const_iterator = typename std::vector<value_type>::const_iterator;

    OrderedMap() = default;
    OrderedMap(std::initializer_list<value_type> items) {
        for (const auto& item : items) set(item.first, item.second);
    }

    // Sets key to value: a new key goes last, an existing one keeps its position.
    void set(const std::string& key, Value value) {
        const auto [slot, inserted] = index_.try_emplace(key, items_.size());
        if (!inserted) {
            items_[slot->second].second = std::move(value);
            return;
        }
        items_.emplace_back(key, std::move(value));
    }

    bool contains(const std::string& key) const { return find(key) != nullptr; }

    const Value* find(const std::string& key) const {
        const auto slot = index_.find(key);
        return slot == index_.end() ? nullptr : &items_[slot->second].second;
    }

    std::optional<Value> get(const std::string& key) const {
        const Value* v = find(key);
        return v ? std::optional<Value>(*v) : std::nullopt;
    }

    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        out.reserve(items_.size());
        for (const auto& item : items_) out.push_back(item.first);
        return out;
    }

    std::size_t size() const noexcept { return items_.size(); }
    bool empty() const noexcept { return items_.empty(); }
    const_iterator begin() const noexcept { return items_.begin(); }
    const_iterator end() const noexcept { return items_.end(); }

    friend bool operator==(const OrderedMap& a, const OrderedMap& b) { return a.items_ == b.items_; }

private:
    std::vector<value_type> items_;
    // Key to position in items_, so that a reply with many names is read in linear time.
    std::unordered_map<std::string, std::size_t> index_;
};

// Package name to product-kind text ("base", "bundle" or whatever the service sent).
using PackageKinds = OrderedMap<std::string>;
// Package text to whether its child process succeeded.
using PackageStatus = OrderedMap<bool>;

}  // namespace tessel_installer
