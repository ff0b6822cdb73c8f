// The allowed-files rule: whether a name may be read or written, and the allowed directory it
// lies beneath.
#pragma once

#include "qapOwned.h"

#include <string>

struct QapRoutineCtx;

// Where the rule puts a file: an allowed directory, held open, and the name beneath it; or,
// with "ANY", just the name in the system's bytes.
struct QapAllowed {
    bool any = false;
    std::string name; // the system's bytes of the file name
    QapFd dir;        // the allowed directory (not with ANY)
    std::string rel;  // the name beneath it
};

// What qapAllowedTarget returns.
enum { ALLOWED = 0, REFUSED = -1, NO_MEMORY = -2 };

// Collapses runs of "/" and drops trailing ones (the root keeps its one).
std::string qapCollapseSeparators(const std::string &s);

// The allowed-files rule for one name. Unless the value is "ANY", the name must not have a
// ".." component, and with its directory resolved must lie beneath a resolved entry (names
// compared case by case). What is then opened is opened beneath the entry's directory by the
// name's remaining part, so no link or rename made since can lead out of it.
int qapAllowedTarget(QapRoutineCtx *ctx, int access, const char *name, QapAllowed &a);

// Splits the name beneath an allowed directory into its directory, opened (O_PATH) beneath it,
// and its last component. -1 with errno when the directory cannot be reached.
int qapOpenParent(const QapAllowed &a, QapFd &parent, std::string &base);
