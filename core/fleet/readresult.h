#pragma once

#include <QString>

#include <optional>

namespace qeln::fleet {

// What reading a file gives: the value, or the refusal as "FILE:LINE: what is wrong".
template <typename T>
struct ReadResult {
    std::optional<T> value;
    QString error;

    explicit operator bool() const { return value.has_value(); }
};

} // namespace qeln::fleet
