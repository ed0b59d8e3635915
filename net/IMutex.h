#pragma once
// Lock interface shared by handlers and their users.

class IMutex {
public:
    virtual ~IMutex() = default;
    virtual int Lock() const = 0;    // the POSIX result
    virtual int Unlock() const = 0;
};
