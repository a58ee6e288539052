// The result of a core operation that can fail: a value, or an error that says what failed and,
// when the system gave the reason, its errno. No exceptions: the caller makes the message.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <utility>

struct TError {
    std::string Text;  // what failed and why
    int Errno = 0;     // the system's errno, 0 when the failure is not the system's
};

// "what: the system's reason", with the errno.
inline TError SystemError(const std::string& what, int error) {
    return TError{what + ": " + std::strerror(error), error};
}

// A value, or an error of type E (TError, or a type derived from it that says more). The value
// is there only when Ok; the error of a result that is Ok is an empty one.
template <typename T, typename E = TError>
class [[nodiscard]] TResult {
  public:
    TResult(T value) : value_(std::move(value)) {}
    TResult(E error) : error_(std::move(error)) {}
    bool Ok() const { return value_.has_value(); }
    explicit operator bool() const { return Ok(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }
    const E& Error() const { return error_; }

  private:
    std::optional<T> value_;
    E error_;
};

// Success without a value, or an error.
template <typename E>
class [[nodiscard]] TResult<void, E> {
  public:
    TResult() = default;
    TResult(E error) : error_(std::move(error)), failed_(true) {}
    bool Ok() const { return !failed_; }
    explicit operator bool() const { return Ok(); }
    const E& Error() const { return error_; }

  private:
    E error_;
    bool failed_ = false;
};

using TStatus = TResult<void>;
