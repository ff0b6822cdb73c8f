// Process set-up that every adapter does when it is loaded: private directories for the trace
// control file and temporary files, and an application code page that can carry documents.
#include "tarnCall.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unistd.h>

namespace tarn {

bool privateDirectory(const std::string &dir) {
    std::string parent = dir.substr(0, dir.find_last_of('/'));
    struct stat up;
    if (stat(parent.empty() ? "/" : parent.c_str(), &up) != 0 || !S_ISDIR(up.st_mode)) return false;
    bool othersWrite = (up.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (up.st_mode & S_ISVTX) == 0;
    if ((up.st_uid != geteuid() && up.st_uid != 0) || othersWrite) return false;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

void useUtf8WhenAscii() {
    UErrorCode err = U_ZERO_ERROR;
    UConverter *conv = ucnv_open(nullptr, &err);
    if (U_SUCCESS(err)) {
        const char *name = ucnv_getName(conv, &err);
        if (U_SUCCESS(err) && strcmp(name, "US-ASCII") == 0) ucnv_setDefaultName("UTF-8");
    }
    ucnv_close(conv);
}

} // namespace tarn
