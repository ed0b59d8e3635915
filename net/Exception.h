#pragma once
// The socket library's exception: thrown only where set-up cannot go on
// (descriptor creation, a UDP bind over a whole port range, select() with bad
// arguments). Carries a description and the call stack at construction.
// Thrown by value, caught by reference; not derived from std::exception.

#include <string>

class Exception {
public:
    explicit Exception(const std::string& description);
    virtual ~Exception();

    virtual std::string ToString() const;  // the description
    virtual std::string Stack() const;     // Utility::Stack() taken at construction

private:
    std::string m_description;
    std::string m_stack;
};
