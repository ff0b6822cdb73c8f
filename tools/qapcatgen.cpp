// Prints the built-in message table as gencat source: set 1, message number = row. Empty rows
// are left out (a fetch of them falls back to the built-in, empty, text).
#include "qapMsg.h"

#include <cstdio>

int main() {
    std::printf("$quote \"\n$set 1\n");
    for (int32_t n = 0; n < kMsgRows; ++n) {
        const char *text = kMessages[n].text;
        if (text[0] == '\0') continue;
        std::printf("%d \"", n);
        for (const char *p = text; *p; ++p) {
            if (*p == '"' || *p == '\\') std::putchar('\\');
            std::putchar(*p);
        }
        std::printf("\"\n");
    }
    return 0;
}
