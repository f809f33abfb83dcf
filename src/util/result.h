// Result<T, E>: a value or an error, the subset of std::expected this project uses.
//
//   Result<std::string> read(std::string_view path);
//   auto text = read("a.py");
//   if (!text) return Unexpected(text.error());
//   use(*text);
//
// clang 14 cannot compile libstdc++'s <expected>, so this stands in for it. The error type
// defaults to std::string: the exact text a client sees.
#pragma once

#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace korvane {

template <class E>
class Unexpected {
 public:
  explicit Unexpected(E error) : error_(std::move(error)) {}
  E& error() & { return error_; }
  const E& error() const& { return error_; }
  E&& error() && { return std::move(error_); }

 private:
  E error_;
};

template <class E>
Unexpected(E) -> Unexpected<E>;
Unexpected(const char*)->Unexpected<std::string>;

template <class T, class E = std::string>
class [[nodiscard]] Result {
 public:
  using value_type = T;
  using error_type = E;

  template <class U = T, std::enable_if_t<std::is_constructible_v<T, U&&>, int> = 0>
  Result(U&& value) : data_(std::in_place_index<0>, std::forward<U>(value)) {}  // NOLINT
  template <class G>
  Result(Unexpected<G> error)  // NOLINT
      : data_(std::in_place_index<1>, std::move(error).error()) {}

  bool has_value() const { return data_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { return *get_if_or_die<0>(); }
  const T& value() const& { return *get_if_or_die<0>(); }
  T&& value() && { return std::move(*get_if_or_die<0>()); }
  E& error() & { return *get_if_or_die<1>(); }
  const E& error() const& { return *get_if_or_die<1>(); }
  E&& error() && { return std::move(*get_if_or_die<1>()); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  template <class U>
  T value_or(U&& fallback) const& {
    return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
  }

 private:
  template <std::size_t I>
  auto* get_if_or_die() {
    auto* p = std::get_if<I>(&data_);
    if (p == nullptr) std::abort();  // reading the wrong side is a programming error
    return p;
  }
  template <std::size_t I>
  const auto* get_if_or_die() const {
    const auto* p = std::get_if<I>(&data_);
    if (p == nullptr) std::abort();
    return p;
  }

  std::variant<T, E> data_;
};

// Result<void, E>: success carries nothing.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  template <class G>
  Result(Unexpected<G> error) : error_(std::move(error).error()), failed_(true) {}  // NOLINT

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  const E& error() const& {
    if (!failed_) std::abort();
    return error_;
  }
  E&& error() && {
    if (!failed_) std::abort();
    return std::move(error_);
  }

 private:
  E error_{};
  bool failed_ = false;
};

}  // namespace korvane
