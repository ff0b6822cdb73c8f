// Owners for the C resources the library hands around: heap blocks from malloc and streams
// from fopen, released when the owner goes.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

struct QapFree {
    void operator()(void *p) const { free(p); }
};
// A malloc'd block, freed with free().
template <class T> using QapHeap = std::unique_ptr<T, QapFree>;
using QapHeapText = QapHeap<char>;

struct QapFclose {
    void operator()(FILE *f) const {
        if (f != nullptr) fclose(f);
    }
};
// An open stream, closed with fclose().
using QapFilePtr = std::unique_ptr<FILE, QapFclose>;
