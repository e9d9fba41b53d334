// Errors travel as values: an operation returns its result or one message
// text. Callers pass the message up unchanged or with a prefix; they never
// reword it.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace zeviziz {

// A failure: one UTF-8 message text.
struct Error {
  std::string message;
};

// Makes an Error from a message text.
inline Error make_error(std::string message) { return Error{std::move(message)}; }

// A value of T or an Error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : data_(std::in_place_index<1>, std::move(error)) {}

  // True when a value is held.
  bool ok() const { return data_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // The value; only valid when ok().
  T& value() & { return std::get<0>(data_); }
  const T& value() const& { return std::get<0>(data_); }
  T&& value() && { return std::get<0>(std::move(data_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  // The message; only valid when !ok().
  const std::string& error() const { return std::get<1>(data_).message; }
  // Moves the error out, e.g. to return it from a function of another type.
  Error take_error() { return std::move(std::get<1>(data_)); }

 private:
  std::variant<T, Error> data_;
};

// Success without a value, or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return error_.message; }
  Error take_error() { return std::move(error_); }

 private:
  Error error_;
  bool failed_ = false;
};

using Status = Result<void>;

// Returns the error with `prefix` put in front of its message.
inline Error prefix_error(std::string_view prefix, Error error) {
  error.message.insert(0, prefix);
  return error;
}

}  // namespace zeviziz

// Evaluates `expr` (a Result or Status); on failure returns its Error from the
// enclosing function.
#define ZV_TRY_STATUS(expr)                                        \
  do {                                                             \
    auto zv_status_ = (expr);                                      \
    if (!zv_status_.ok()) return zv_status_.take_error();          \
  } while (0)

#define ZV_CONCAT_INNER(a, b) a##b
#define ZV_CONCAT(a, b) ZV_CONCAT_INNER(a, b)

// Declares `decl` from the value of the Result `expr`, or returns its Error.
// Usage: ZV_TRY(auto text, read_file(path));
#define ZV_TRY(decl, expr) ZV_TRY_IMPL(ZV_CONCAT(zv_result_, __LINE__), decl, expr)
#define ZV_TRY_IMPL(tmp, decl, expr)           \
  auto tmp = (expr);                           \
  if (!tmp.ok()) return tmp.take_error();      \
  decl = std::move(tmp).value()
