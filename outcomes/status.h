// Errors that are not fatal, as values: a Status is ok or carries the message that says
// what went wrong; a Result<T> is a value or such a message. The message is the text the
// caller shows (after "Error: " or on the step's line); the fatal exits are outcome.h's.
#pragma once

#include <optional>
#include <string>
#include <utility>

class [[nodiscard]] Status {
  public:
    Status() = default;  // ok
    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return message_; }  // empty when ok

  private:
    explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}
    bool failed_ = false;
    std::string message_;
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    // From a failed Status (an ok one would leave no value: taken as a failure too).
    Result(Status failure) : status_(failure.ok() ? Status::failure("no value") : std::move(failure)) {}

    bool ok() const { return status_.ok(); }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return status_.message(); }
    const Status& status() const { return status_; }

    // Only when ok().
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

  private:
    Status status_;
    std::optional<T> value_;
};
