// A flat hash table of absl's that may run out of memory without taking the process with it.
//
//   using Names = GrowthSafe<absl::flat_hash_set<std::string>>;
//   Names names;
//   try {
//     names.emplace(name);           // std::bad_alloc when memory runs out
//   } catch (const std::bad_alloc&) {
//     // `names` still holds everything inserted before, and can be used and destroyed
//   }
//
// absl's tables (as of the 2022 releases) are not safe against a throwing allocation. Growth
// records the larger capacity before allocating the larger table, and an insert claims its slot
// before building the element in it; either failure leaves a table that reads and frees memory
// it does not own when destroyed. Here the element is built first, outside the table, and moved
// in (moves of the key and value types must not throw); and an insert that could grow the table
// first moves the elements into a table reserved apart: if that reserve fails, the empty table
// owns nothing and is left undestroyed, and the original is untouched. Moving the elements costs
// what absl's own growth costs, one transfer per element.
//
// Flat tables only: a node table allocates each element inside its slot, after claiming it. Only
// the members below are guarded; any other way of inserting (or `rehash`) is absl's own.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace korvane {

template <class Table>
class GrowthSafe : public Table {
  static constexpr bool kIsMap = requires { typename Table::mapped_type; };

 public:
  using Table::Table;
  using typename Table::key_type;

  // Sets.
  template <class Key>
  requires(!kIsMap) auto emplace(Key&& key) {
    if (auto it = this->find(key); it != this->end()) return std::pair{it, false};
    key_type made(std::forward<Key>(key));
    return place(std::move(made));
  }
  template <class Key>
  requires(!kIsMap) auto insert(Key&& key) { return emplace(std::forward<Key>(key)); }

  // Maps.
  template <class Key, class... Args>
  requires kIsMap auto try_emplace(Key&& key, Args&&... args) {
    if (auto it = this->find(key); it != this->end()) return std::pair{it, false};
    key_type made_key(std::forward<Key>(key));
    typename Table::mapped_type made_value(std::forward<Args>(args)...);
    return place(std::move(made_key), std::move(made_value));
  }
  template <class Key, class Value>
  requires kIsMap auto emplace(Key&& key, Value&& value) {
    return try_emplace(std::forward<Key>(key), std::forward<Value>(value));
  }
  template <class Key, class Value>
  requires kIsMap auto insert_or_assign(Key&& key, Value&& value) {
    if (auto it = this->find(key); it != this->end()) {
      it->second = std::forward<Value>(value);
      return std::pair{it, false};
    }
    return try_emplace(std::forward<Key>(key), std::forward<Value>(value));
  }
  template <class Key>
  requires kIsMap auto& operator[](Key&& key) {
    return try_emplace(std::forward<Key>(key)).first->second;
  }

  void reserve(std::size_t n) {
    if (n > room()) grow_apart(n);
  }
  // By key: counts only what it removed, as an erase that finds nothing leaves no tombstone (the
  // server asks to erase every request's id from its cancellations). By iterator: one.
  template <class Key>
  auto erase(Key&& key) {
    if constexpr (std::is_void_v<decltype(Table::erase(std::forward<Key>(key)))>) {
      ++erased_;
      Table::erase(std::forward<Key>(key));
    } else {
      const auto removed = Table::erase(std::forward<Key>(key));
      erased_ += removed;
      return removed;
    }
  }

 private:
  template <class... Parts>
  auto place(Parts&&... parts) {
    static_assert(
        (std::is_nothrow_move_constructible_v<std::remove_cvref_t<Parts>> && ...),
        "the element is moved into its claimed slot, where a throw would break the table");
    make_room(1);
    if constexpr (kIsMap) {
      return Table::try_emplace(std::forward<Parts>(parts)...);
    } else {
      return Table::emplace(std::forward<Parts>(parts)...);
    }
  }

  // Elements certain to fit without growth. An erase may leave a tombstone that uses up a slot
  // of the table's allowance, so each counts as one.
  std::size_t room() const {
    const std::size_t capacity = this->capacity();
    // absl grows at 7/8 full; a capacity of 7 holds 6 on narrow control groups.
    const std::size_t growth = capacity - capacity / 8 - (capacity == 7 ? 1 : 0);
    return growth > erased_ ? growth - erased_ : 0;
  }

  void make_room(std::size_t more) {
    if (this->size() + more > room()) grow_apart(this->size() + more);
  }

  void grow_apart(std::size_t n) {
    alignas(Table) unsigned char storage[sizeof(Table)];
    Table* fresh = ::new (static_cast<void*>(storage)) Table();
    // On failure `fresh` is empty and owns nothing, yet absl could not destroy it: it is left.
    fresh->reserve(n < 2 * this->size() ? 2 * this->size() : n);
    // Nothing below allocates: the reserved table takes every element without growing.
    for (auto it = this->begin(); it != this->end();) fresh->insert(Table::extract(it++));
    Table::swap(*fresh);
    fresh->~Table();  // the old storage, now empty
    erased_ = 0;
  }

  std::size_t erased_ = 0;
};

}  // namespace korvane
