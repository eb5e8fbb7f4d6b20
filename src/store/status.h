#pragma once

#include <string>
#include <utility>

namespace tavren::store {

// Outcome of a store operation: success, or a message that can be shown to
// the user as it stands ("cannot write file X: reason").
class Status {
public:
    Status() = default;
    static Status Error(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& message() const { return message_; }

private:
    explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}
    bool failed_ = false;
    std::string message_;
};

}  // namespace tavren::store
