#pragma once

namespace qeln {

// One single-register write: the register address and the 16-bit value it gets.
struct RegisterWrite {
    int address = 0;
    int value = 0;
    friend bool operator==(const RegisterWrite &, const RegisterWrite &) = default;
};

} // namespace qeln
