// The allowed-files rule: the registry entries resolved, a name checked against them, and the
// directory it lies beneath opened.
#include "qapAllowed.h"

#include "qapConv.h"
#include "qapCtx.h"
#include "qapPlatform.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cstring>
#include <fcntl.h>
#include <string>

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

namespace {

// Collapses every run of separators to one and drops trailing ones, in place. A text made of
// separators only keeps one, so that the root stays a usable entry. Returns the new length.
int32_t normaliseSeparators(UChar *s) {
    int32_t w = 0;
    for (int32_t r = 0; s[r] != 0; ++r) {
        if (s[r] == kPathSep && w > 0 && s[w - 1] == kPathSep) continue;
        s[w++] = s[r];
    }
    while (w > 1 && s[w - 1] == kPathSep)
        --w;
    s[w] = 0;
    return w;
}

// The UTF-16 buffer size for text of length bytes: (length + 1) * 4 units.
int32_t registryUnits(size_t length) {
    size_t units = (length + 1) * 4;
    return units > INT32_MAX || units < length ? INT32_MAX : static_cast<int32_t>(units);
}

// UTF-16 text in the system code page (ICU's default converter), as file names reach the
// system; empty when it cannot be converted exactly.
std::string toSystem(const UChar *s) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = qapOpenNamed(nullptr, &status);
    if (cnv == nullptr) return std::string();
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(cnv, nullptr, 0, s, -1, &status);
    std::string out;
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(static_cast<size_t>(n) + 1);
        status = U_ZERO_ERROR;
        ucnv_fromUChars(cnv, &out[0], n + 1, s, -1, &status);
        out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
    }
    ucnv_close(cnv);
    return out;
}

} // namespace

std::string qapCollapseSeparators(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != kPathSep || out.empty() || out.back() != kPathSep) out += c;
    while (out.size() > 1 && out.back() == kPathSep)
        out.pop_back();
    return out;
}

int qapAllowedTarget(QapRoutineCtx *ctx, int access, const char *name, QapAllowed &a) {
    static const char fn[] = "qapAllowedTarget";
    QapHeap<char> value(sqloGetEnv(access == 0 ? TARN_REG_READ_ACCESS : TARN_REG_WRITE_ACCESS));
    if (!value) {
        QAP_TRACE(ctx, fn, "no registry value for %s access\n", access == 0 ? "read" : "write");
        return REFUSED;
    }
    int32_t valueUnits = registryUnits(strlen(value.get()));
    std::unique_ptr<UChar[]> list(new (std::nothrow) UChar[valueUnits]);
    if (!list) return NO_MEMORY;
    if (qapMbstowcsSys(ctx, list.get(), value.get(), valueUnits) < 1) return REFUSED;
    // ANY allows even an empty name, which then opens nothing.
    if (name != nullptr && name[0] == '\0' && u_strcmp(list.get(), u"ANY") == 0) {
        a.any = true;
        a.name.clear();
        return ALLOWED;
    }
    // The string that is checked is the string that is opened: the SQL name converted once,
    // exactly, or not at all.
    if (name == nullptr || !qapSystemName(ctx, name, a.name)) {
        QAP_TRACE(ctx, fn, "name does not convert exactly\n");
        return REFUSED;
    }
    if (u_strcmp(list.get(), u"ANY") == 0) {
        a.any = true;
        return ALLOWED;
    }

    std::string file = qapCollapseSeparators(a.name);
    for (size_t at = 0;;) {
        size_t end = file.find(kPathSep, at);
        if (file.compare(at, end == std::string::npos ? std::string::npos : end - at, "..") == 0) {
            QAP_TRACE(ctx, fn, "name %s has a parent component\n", name);
            return REFUSED;
        }
        if (end == std::string::npos) break;
        at = end + 1;
    }
    char absolute[kMaxPath];
    if (qapFullPath(absolute, file.c_str(), sizeof absolute) == nullptr) return REFUSED;
    const std::string full = qapCollapseSeparators(absolute);
    const size_t slash = full.rfind(kPathSep);
    const std::string base = full.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return REFUSED;
    std::string resolved = qapRealPath(slash == 0 ? "/" : full.substr(0, slash).c_str());
    if (resolved.empty()) return REFUSED; // a missing directory holds no file
    resolved += (resolved.back() == kPathSep ? "" : "/") + base;

    std::unique_ptr<UChar[]> entry(new (std::nothrow) UChar[valueUnits + 1]);
    if (!entry) return NO_MEMORY;
    for (UChar *p = list.get(); *p != 0;) {
        UChar *end = p;
        while (*end != 0 && *end != u';')
            ++end;
        UChar *next = *end != 0 ? end + 1 : end;
        while (p < end && u_isWhitespace(*p))
            ++p;
        while (end > p && u_isWhitespace(end[-1]))
            --end;
        int32_t len = static_cast<int32_t>(end - p);
        u_memcpy(entry.get(), p, len);
        entry[len] = 0;
        len = normaliseSeparators(entry.get());
        p = next;
        if (len == 0) continue;
        std::string dir = qapRealPath(toSystem(entry.get()).c_str());
        if (dir.empty()) continue; // a missing directory holds no file
        if (dir.back() != kPathSep) dir += kPathSep;
        if (resolved.size() <= dir.size() || resolved.compare(0, dir.size(), dir) != 0) continue;
        a.dir.reset(open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!a.dir) return REFUSED;
        a.rel = resolved.substr(dir.size());
        return ALLOWED;
    }
    QAP_TRACE(ctx, fn, "%s matches no entry\n", name);
    return REFUSED;
}

int qapOpenParent(const QapAllowed &a, QapFd &parent, std::string &base) {
    const size_t slash = a.rel.rfind(kPathSep);
    base = slash == std::string::npos ? a.rel : a.rel.substr(slash + 1);
    parent.reset(slash == std::string::npos
                     ? openat(a.dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                     : qapOpenBeneath(a.dir.get(), a.rel.substr(0, slash).c_str(),
                                      O_RDONLY | O_DIRECTORY, 0));
    if (!parent) return -1;
    return 0;
}
