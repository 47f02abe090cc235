// The single error type of the core and the result-or-error value that every
// fallible core operation returns. The core never throws across its API and
// never prints; the binding layer turns a QuarloError into a Python exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace quarlo {

// The error kinds, written once: X(kind, display prefix). The enum and the
// table kErrorKinds are both made from this list, in its order; nothing
// outside depends on the numeric values.
#define QUARLO_ERROR_KINDS(X)                       \
  X(InvalidUrl, "invalid URL: ")                    \
  X(InvalidConfig, "invalid configuration: ")       \
  X(InvalidEntity, "invalid entity: ")              \
  X(InvalidSchema, "invalid schema: ")              \
  X(Serialization, "serialization error: ")         \
  X(Contract, "contract error: ")                   \
  X(UrlPolicy, "URL policy error: ")

enum class ErrorKind : std::uint8_t {
#define QUARLO_ERROR_KIND_ENUMERATOR(kind, prefix) kind,
  QUARLO_ERROR_KINDS(QUARLO_ERROR_KIND_ENUMERATOR)
#undef QUARLO_ERROR_KIND_ENUMERATOR
};

struct ErrorKindInfo {
  ErrorKind kind;
  std::string_view name;    // identifier of the kind
  std::string_view prefix;  // display prefix, written before the message
};

inline constexpr ErrorKindInfo kErrorKinds[] = {
#define QUARLO_ERROR_KIND_INFO(kind, prefix) {ErrorKind::kind, #kind, prefix},
    QUARLO_ERROR_KINDS(QUARLO_ERROR_KIND_INFO)
#undef QUARLO_ERROR_KIND_INFO
};

inline constexpr std::size_t kErrorKindCount = std::size(kErrorKinds);

constexpr const ErrorKindInfo& error_kind_info(ErrorKind kind) noexcept {
  return kErrorKinds[static_cast<std::size_t>(kind)];
}

// A kind and an owned message (stored without its display prefix).
class QuarloError {
 public:
  QuarloError(ErrorKind kind, std::string message)
      : kind_(kind), message_(std::move(message)) {}

  static QuarloError invalid_url(std::string m) { return {ErrorKind::InvalidUrl, std::move(m)}; }
  static QuarloError invalid_config(std::string m) { return {ErrorKind::InvalidConfig, std::move(m)}; }
  static QuarloError invalid_entity(std::string m) { return {ErrorKind::InvalidEntity, std::move(m)}; }
  static QuarloError invalid_schema(std::string m) { return {ErrorKind::InvalidSchema, std::move(m)}; }
  static QuarloError serialization(std::string m) { return {ErrorKind::Serialization, std::move(m)}; }
  static QuarloError contract(std::string m) { return {ErrorKind::Contract, std::move(m)}; }
  static QuarloError url_policy(std::string m) { return {ErrorKind::UrlPolicy, std::move(m)}; }

  [[nodiscard]] ErrorKind kind() const noexcept { return kind_; }
  [[nodiscard]] const std::string& message() const noexcept { return message_; }
  [[nodiscard]] std::string_view prefix() const noexcept { return error_kind_info(kind_).prefix; }
  // Prefix immediately followed by the message.
  [[nodiscard]] std::string display() const;

  friend bool operator==(const QuarloError&, const QuarloError&) = default;

 private:
  ErrorKind kind_;
  std::string message_;
};

// Result<T>: either a T or a QuarloError (an expected-like value; C++20 has
// no std::expected). Construct from a T for success, from a QuarloError for
// failure. Result<void> carries only the error, if any.
template <class T>
class [[nodiscard]] Result {
  static_assert(!std::is_same_v<std::remove_cvref_t<T>, QuarloError>);

 public:
  Result(const T& value) : v_(std::in_place_index<0>, value) {}
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(QuarloError error) : v_(std::in_place_index<1>, std::move(error)) {}
  template <class... Args>
  explicit Result(std::in_place_t, Args&&... args)
      : v_(std::in_place_index<0>, std::forward<Args>(args)...) {}

  [[nodiscard]] bool has_value() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  T& value() & noexcept { return *std::get_if<0>(&v_); }
  const T& value() const& noexcept { return *std::get_if<0>(&v_); }
  T&& value() && noexcept { return std::move(*std::get_if<0>(&v_)); }
  T& operator*() & noexcept { return value(); }
  const T& operator*() const& noexcept { return value(); }
  T&& operator*() && noexcept { return std::move(*std::get_if<0>(&v_)); }
  T* operator->() noexcept { return std::get_if<0>(&v_); }
  const T* operator->() const noexcept { return std::get_if<0>(&v_); }

  QuarloError& error() & noexcept { return *std::get_if<1>(&v_); }
  const QuarloError& error() const& noexcept { return *std::get_if<1>(&v_); }
  QuarloError&& error() && noexcept { return std::move(*std::get_if<1>(&v_)); }

 private:
  std::variant<T, QuarloError> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(QuarloError error) : error_(std::move(error)) {}

  [[nodiscard]] bool has_value() const noexcept { return !error_.has_value(); }
  explicit operator bool() const noexcept { return has_value(); }
  QuarloError& error() & noexcept { return *error_; }
  const QuarloError& error() const& noexcept { return *error_; }
  QuarloError&& error() && noexcept { return std::move(*error_); }

 private:
  std::optional<QuarloError> error_;
};

}  // namespace quarlo

// Early return of an error: `QUARLO_TRY(auto x, expr);` binds the value of a
// successful Result to x, otherwise returns the error unchanged.
#define QUARLO_CONCAT_INNER(a, b) a##b
#define QUARLO_CONCAT(a, b) QUARLO_CONCAT_INNER(a, b)
#define QUARLO_TRY_IMPL(tmp, decl, expr) \
  auto tmp = (expr);                     \
  if (!tmp) return std::move(tmp).error(); \
  decl = std::move(tmp).value()
#define QUARLO_TRY(decl, expr) QUARLO_TRY_IMPL(QUARLO_CONCAT(quarlo_try_, __LINE__), decl, expr)
// For Result<void>: return the error, if any.
#define QUARLO_TRY_VOID(expr)                                        \
  do {                                                               \
    auto quarlo_try_void_ = (expr);                                  \
    if (!quarlo_try_void_) return std::move(quarlo_try_void_).error(); \
  } while (0)
