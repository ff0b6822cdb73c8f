// The document a driver parses, as the routines hand it over: text in memory, or a server file
// the allowed-files gate opened.
#pragma once

#include <cstdint>

class QapOpenFile;

// Where a routine's document argument lives.
constexpr uint32_t kFile = 0; // the argument is a server file name
constexpr uint32_t kMem = 1;  // the argument is a NUL-terminated buffer

// The document a driver parses: a file or a buffer, the code page of its bytes, and the DTD
// text that replaces the one its DOCTYPE names. A file is read through the descriptor the
// allowed-files gate opened (qapOpenRead), never opened again by its name.
struct QapDoc {
    const char *doc;          // the file's absolute name (kFile) or NUL-terminated text
    uint32_t docLoc;          // kFile or kMem
    uint32_t docInDbCodePage; // 1: the bytes are in the database code page (SQL values);
                              // 0: the parser detects the encoding (server files)
    const char *dtdText;      // replacement DTD text, or null
    QapOpenFile *file;        // kFile: the opened file, which the parse takes
};
