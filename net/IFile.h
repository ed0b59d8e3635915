#pragma once
// The one file operation that Base64 needs from a caller's file class: a
// read with the shape of fread. Callers adapt their own file types to it.

#include <cstddef>

class IFile {
public:
    virtual ~IFile() = default;
    // Reads up to `count` elements of `size` bytes into `buffer`; returns the
    // number of elements read, 0 at the end.
    virtual size_t fread(char* buffer, size_t size, size_t count) const = 0;
};
