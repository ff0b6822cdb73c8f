// POSIX implementations of the platform calls the library was designed around (_fullpath,
// _stat, _tempnam, _putenv).
#include "qapPlatform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

bool qapIsAbsolutePath(const char *name) { return name != nullptr && name[0] == QAP_PATH_SEP; }

char *qapFullPath(char *out, const char *name, size_t size) {
    if (out == nullptr || name == nullptr || size == 0) return nullptr;
    size_t nameLen = strlen(name);
    if (qapIsAbsolutePath(name)) {
        if (nameLen + 1 > size) return nullptr;
        memcpy(out, name, nameLen + 1);
        return out;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return nullptr;
    size_t cwdLen = strlen(cwd);
    bool needSep = cwdLen == 0 || cwd[cwdLen - 1] != QAP_PATH_SEP;
    size_t total = cwdLen + (needSep ? 1 : 0) + nameLen + 1;
    if (total > size) return nullptr;
    memcpy(out, cwd, cwdLen);
    size_t at = cwdLen;
    if (needSep) out[at++] = QAP_PATH_SEP;
    memcpy(out + at, name, nameLen + 1);
    return out;
}

int qapStatSize(const char *path, int32_t *size) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) return -1;
    *size = st.st_size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(st.st_size);
    return 0;
}

namespace {
bool isDirectory(const char *dir) {
    struct stat st;
    return dir != nullptr && dir[0] != '\0' && stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
}
} // namespace

char *qapTempnam(const char *dir, const char *prefix) {
    const char *base = getenv("TMP");
    if (!isDirectory(base)) base = isDirectory(dir) ? dir : QAP_ROOT_TEMP_DIR;
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return nullptr;
        std::string name = base;
        if (name.empty() || name.back() != QAP_PATH_SEP) name += QAP_PATH_SEP;
        name += prefix ? prefix : "";
        for (unsigned char r : random) name += alphabet[r % (sizeof alphabet - 1)];
        struct stat st;
        if (lstat(name.c_str(), &st) != 0 && errno == ENOENT) return strdup(name.c_str());
    }
    return nullptr;
}

int qapPutenv(const char *assignment) {
    if (assignment == nullptr) return -1;
    const char *eq = strchr(assignment, '=');
    if (eq == nullptr || eq == assignment) return -1;
    std::string name(assignment, eq);
    if (eq[1] == '\0') return unsetenv(name.c_str()) == 0 ? 0 : -1;
    return setenv(name.c_str(), eq + 1, 1) == 0 ? 0 : -1;
}
