#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace kestrova {

// A finished failure text: UTF-8, no final full stop. The failure box puts it
// into its sentence unchanged.
struct Failure {
  std::string text;
};

// A failure with one of the program's constant texts.
inline Failure TextFailure(std::string_view text) { return Failure{std::string(text)}; }

// The result of a step that yields nothing: no value means success.
using Status = std::optional<Failure>;
inline constexpr std::nullopt_t kSuccess = std::nullopt;

// The result of a step that yields a value or fails with a text.
template <typename T>
class Result {
 public:
  Result(T value) : content_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : content_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return content_.index() == 0; }
  T& value() { return *std::get_if<0>(&content_); }
  const T& value() const { return *std::get_if<0>(&content_); }
  Failure& failure() { return *std::get_if<1>(&content_); }
  const Failure& failure() const { return *std::get_if<1>(&content_); }

 private:
  std::variant<T, Failure> content_;
};

}  // namespace kestrova
