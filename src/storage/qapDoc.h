// The document a driver parses, as the routines hand it over: text in memory, or a server file
// the allowed-files gate opened.
#pragma once

#include <cstdint>

class QapOpenFile;

// Where a routine's document argument lives.
constexpr uint32_t QAP_FILE = 0; // the argument is a server file name
constexpr uint32_t QAP_MEM = 1;  // the argument is a NUL-terminated buffer

// The document a driver parses: a file or a buffer, the code page of its bytes, and the DTD
// text that replaces the one its DOCTYPE names. A file is read through the descriptor the
// allowed-files gate opened (qapOpenRead), never opened again by its name.
struct QapDoc {
    const char *doc;          // the file's absolute name (QAP_FILE) or NUL-terminated text
    uint32_t docLoc;          // QAP_FILE or QAP_MEM
    uint32_t docInDbCodePage; // 1: the bytes are in the database code page (SQL values);
                              // 0: the parser detects the encoding (server files)
    const char *dtdText;      // replacement DTD text, or null
    QapOpenFile *file;        // QAP_FILE: the opened file, which the parse takes
};
