// The options of the extraction benchmark tessel_bench, read from its command line.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct Options {
    double sizeMb = 100;
    int runs = 5;
    std::string set = "auto"; // full, small, all, auto
    std::string dir;          // where the document is written
    std::string file;         // an existing document to use instead
    bool keep = false;
    std::string only;           // only the cases whose name holds this text (and the bare parse)
    uint64_t values = 11000000; // values of the second document (0: none)
};

// Prints the usage line and what each option does.
void usage(const char *argv0);

// Reads the command line into o; false when an option is unknown or its value is invalid.
bool parseOptions(int argc, char **argv, Options &o);

} // namespace bench
