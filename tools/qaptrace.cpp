// Switches the library's trace on or off for a host instance:
//   qaptrace on DIR [INSTANCE]   trace file DIR/qap<instance>.trc, control file in TARNQAPPATH
//   qaptrace off [INSTANCE]      removes the control file
// The instance defaults to TARNINSTANCE. Prints the message text; exit status 0 or 1.
// TARNQAPPATH must be a directory of this user (or root) that no one else can write: routines
// ignore a control file anywhere else, so switching on fails there.
#include "qapCtx.h"
#include "qapTrace.h"

#include <cstdio>
#include <cstring>

namespace {
int usage() {
    std::fprintf(stderr, "usage: qaptrace on DIR [INSTANCE]\n       qaptrace off [INSTANCE]\n");
    return 1;
}
} // namespace

int main(int argc, char **argv) {
    char sqlstate[kSqlstateSize] = "00000";
    char msgtext[kMsgTextSize] = "";
    int32_t rc;
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "on") == 0)
        rc = qapTraceSwitchOn(argv[2], argc == 4 ? argv[3] : nullptr, {sqlstate, msgtext});
    else if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "off") == 0)
        rc = qapTraceSwitchOff(argc == 3 ? argv[2] : nullptr, {sqlstate, msgtext});
    else
        return usage();
    std::fputs(msgtext, stdout);
    size_t len = std::strlen(msgtext);
    if (len > 0 && msgtext[len - 1] != '\n') std::fputc('\n', stdout);
    return rc == 0 ? 0 : 1;
}
