// The command line of the extraction benchmark.
#include "benchOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

void usage(const char *argv0) {
    fprintf(stderr,
            "usage: %s [--size-mb N] [--size-gb N] [--runs N] [--set full|small|all] "
            "[--dir DIR] [--file DOC] [--keep] [--only TEXT] [--values N]\n"
            "  --size-mb N   document size in MB (default 100; 1024 for 1 GB)\n"
            "  --runs N      runs per case, the median is reported (default 5, at least 1)\n"
            "  --set S       full: paths whose results grow with the document; small: paths\n"
            "                matching a handful of elements (memory check); all: both.\n"
            "                Default: all up to 256 MB, small above.\n"
            "  --dir DIR     directory of the generated document (default TMPDIR or /tmp)\n"
            "  --file DOC    use an existing document (must be one this tool generated)\n"
            "  --keep        keep the generated document\n"
            "  --only TEXT   only the cases whose name holds TEXT, beside the bare parse\n"
            "  --values N    values of the many-values document (default 11000000; 0: none)\n",
            argv0);
}

bool parseOptions(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const char *v = nullptr;
        if (a == "--size-mb" && (v = next()))
            o.sizeMb = atof(v);
        else if (a == "--size-gb" && (v = next()))
            o.sizeMb = atof(v) * 1024;
        else if (a == "--runs" && (v = next()))
            o.runs = std::max(1, atoi(v));
        else if (a == "--set" && (v = next()))
            o.set = v;
        else if (a == "--dir" && (v = next()))
            o.dir = v;
        else if (a == "--file" && (v = next()))
            o.file = v;
        else if (a == "--only" && (v = next()))
            o.only = v;
        else if (a == "--values" && (v = next()))
            o.values = strtoull(v, nullptr, 10);
        else if (a == "--keep")
            o.keep = true;
        else
            return false;
    }
    if (o.sizeMb <= 0) return false;
    if (o.set == "auto") o.set = o.sizeMb <= 256 ? "all" : "small";
    return o.set == "full" || o.set == "small" || o.set == "all";
}

} // namespace bench
