// A hash table of absl's whose growth may fail without taking the process with it.
//
//   using Names = GrowthSafe<absl::flat_hash_set<std::string>>;
//   Names names;
//   try {
//     names.emplace(name);           // std::bad_alloc when the larger table cannot be had
//   } catch (const std::bad_alloc&) {
//     // `names` still holds everything inserted before, and can be used and destroyed
//   }
//
// absl's tables (as of the 2022 releases) record a larger capacity before allocating the larger
// table; when that allocation throws, the table keeps its old storage under the new capacity,
// and destroying it reads and frees past what it owns. Here every insert that could grow the
// table moves the elements into a table reserved apart first; if the reserve fails, that empty
// table owns nothing and is left undestroyed, and the original is untouched. Moving the
// elements costs what absl's own growth costs: one transfer per element.
//
// Only the members below are guarded; any other way of inserting (or `rehash`) grows as absl
// does.
#pragma once

#include <cstddef>
#include <iterator>
#include <new>
#include <utility>

namespace korvane {

template <class Table>
class GrowthSafe : public Table {
 public:
  using Table::Table;

  template <class... Args>
  auto emplace(Args&&... args) {
    make_room(1);
    return Table::emplace(std::forward<Args>(args)...);
  }
  template <class... Args>
  auto try_emplace(Args&&... args) {
    make_room(1);
    return Table::try_emplace(std::forward<Args>(args)...);
  }
  template <class... Args>
  auto insert_or_assign(Args&&... args) {
    make_room(1);
    return Table::insert_or_assign(std::forward<Args>(args)...);
  }
  template <class Arg>
  auto insert(Arg&& arg) {
    make_room(1);
    return Table::insert(std::forward<Arg>(arg));
  }
  template <class Key>
  decltype(auto) operator[](Key&& key) {
    make_room(1);
    return Table::operator[](std::forward<Key>(key));
  }
  void reserve(std::size_t n) {
    if (n > room()) grow_apart(n);
  }
  template <class Key>
  auto erase(Key&& key) {
    ++erased_;
    return Table::erase(std::forward<Key>(key));
  }

 private:
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
