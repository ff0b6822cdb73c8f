// The text conversions of the extract routines' result kinds, free of any call: numbers with a
// checked exponent range, atol's integers, and timestamps normalised to the host's 26-character
// form.
#include "qapTextConvert.h"

#include "qapTrace.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>

// What atol gives: a sign and the digits that cannot overflow are read here, the usual value;
// anything else, leading blanks and overflow included, through atol itself.
long qapLeadingInteger(const char *const text) {
    const char *s = text;
    const bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    if (static_cast<unsigned>(*s - '0') >= 10) return atol(text);
    long value = 0;
    for (int n = 0; static_cast<unsigned>(*s - '0') < 10; ++n) {
        if (n == std::numeric_limits<long>::digits10) return atol(text);
        value = 10 * value + (*s++ - '0');
    }
    return negative ? -value : value;
}

namespace {

// A plain decimal ([blanks][sign]digits[.digits]) of at most 30 characters, 15 significant
// digits and 22 decimals (trailing zeros of the fraction not counted): the digits are exact as an
// integer and the power of ten as a double, so one division rounds exactly as strtod does. False
// for anything else.
bool plainDecimal(const char *const text, double *out) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    auto isDigit = [](char c) { return static_cast<unsigned>(c - '0') < 10; };
    const char *s = text;
    while (*s == ' ')
        ++s;
    const bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    const char *const number = s;
    while (*s == '0') // leading zeros are not significant
        ++s;
    uint64_t digits = 0;
    const char *significant = s;
    while (isDigit(*s))
        digits = 10 * digits + static_cast<uint64_t>(*s++ - '0');
    ptrdiff_t count = s - significant;
    ptrdiff_t decimals = 0;
    const bool dot = *s == '.';
    if (dot) {
        const char *const fraction = ++s;
        const char *end = s;
        while (isDigit(*end))
            ++end;
        // Trailing zeros of the fraction are not significant either.
        const char *last = end;
        while (last != fraction && last[-1] == '0')
            --last;
        if (digits == 0)
            while (s != last && *s == '0')
                ++s;
        significant = s;
        while (s != last)
            digits = 10 * digits + static_cast<uint64_t>(*s++ - '0');
        count += s - significant;
        decimals = s - fraction;
        s = end;
    }
    if (*s != '\0' || s - number == dot || count > 15 || decimals > 22 || s - text > 30)
        return false;
    const double value = static_cast<double>(digits) / kPowers[decimals];
    *out = negative ? -value : value;
    return true;
}

} // namespace

double qapAtof(char *text, int32_t *errCode) {
    const auto fail = [errCode](int32_t code) {
        *errCode = code;
        return 0.0;
    };
    *errCode = 0;
    double d = 0;
    if (plainDecimal(text, &d)) return d; // the usual value, at once
    size_t n = strlen(text);
    if (n > 30) return fail(kAtofTooLong);
    for (char *p = text; *p != '\0'; ++p)
        if (*p == '\n') *p = ' ';
    if (n > 1)
        while (n > 0 && text[n - 1] == ' ')
            text[--n] = '\0';

    // The decimal exponent of the first significant digit: the range check needs it before
    // strtod sees the text.
    size_t i = 0;
    while (text[i] == ' ')
        ++i;
    if (text[i] == '+' || text[i] == '-') ++i;
    while (text[i] == '0')
        ++i;
    int64_t exponent = -1;
    bool significant = false;
    const char *dot = nullptr;
    if (text[i] == '.') {
        dot = text + i++;
        for (; text[i] == '0'; ++i)
            --exponent;
    }
    for (; i < n && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (isdigit(static_cast<unsigned char>(text[i]))) {
            significant = true;
            if (dot == nullptr) ++exponent;
        } else if (text[i] == '.' && dot == nullptr) {
            dot = text + i;
        } else {
            return fail(kAtofSyntax);
        }
    }
    if (i < n) {
        const char *e = text + i + 1;
        if (*e == '\0') return fail(kAtofSyntax);
        const char *p = e + (*e == '+' || *e == '-');
        while (isdigit(static_cast<unsigned char>(*p)))
            ++p;
        while (*p == ' ')
            ++p;
        if (*p != '\0') return fail(kAtofSyntax);
        if (!significant) return 0.0;
        // Held to +-1000 (the digits move it by at most 31), so a huge exponent stays out of
        // range without overflowing.
        exponent += std::min(std::max(strtol(e, nullptr, 10), -1000L), 1000L);
        if (exponent < -79 || exponent > 75) return fail(kAtofRange);
    }

    char local[31];
    memcpy(local, text, n + 1);
    if (dot != nullptr) local[dot - text] = *localeconv()->decimal_point;
    char *end = nullptr;
    d = strtod(local, &end);
    if (*end != '\0') return fail(kAtofUnconverted);
    return d;
}

int32_t qapNormalTstamp(QapRoutineCtx *ctx, const char *value, int32_t length, char *out) {
    if (length < 0 || length > 26) return -1;
    int32_t i = 0;
    int32_t o = 0;
    const auto digit = [&](int32_t at) {
        return at < length && isdigit(static_cast<unsigned char>(value[at]));
    };
    // One or two digits, written as two.
    const auto field = [&] {
        if (!digit(i)) return false;
        const int32_t width = digit(i + 1) ? 2 : 1;
        out[o++] = width == 2 ? value[i] : '0';
        out[o++] = value[i + width - 1];
        i += width;
        return true;
    };
    const auto separator = [&](const char *allowed) {
        if (i >= length || value[i] == '\0' || strchr(allowed, value[i]) == nullptr) return false;
        out[o++] = value[i++];
        return true;
    };

    for (; i < 4; ++i, ++o) {
        if (!digit(i)) return -1;
        out[o] = value[i];
    }
    if (!separator("-") || !field() || !separator("-") || !field() || !separator("- ") ||
        !field() || !separator(".:") || !field() || !separator(".:") || !field())
        return -1;
    out[o++] = '.';
    if (i < length) {
        if (value[i++] != '.' || length - i < 1 || length - i > 6) return -1;
        for (; i < length; ++i, ++o) {
            if (!digit(i)) return -1;
            out[o] = value[i];
        }
    }
    QAP_TRACE(ctx, "normal_tstamp", "'%.*s' -> '%s'\n", length, value, out);
    return 0;
}
