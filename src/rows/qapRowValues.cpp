// The row scan's values: a cell's text converted to its column's kind, with the errors that
// name the row, the column and the value.
#include "qapRowScan.h"

#include "qapConv.h"
#include "qapTextConvert.h"
#include "qapUtf8.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

bool isXmlSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// Where text starts and ends without the blanks around it.
template <class Text> std::pair<size_t, size_t> unblanked(const Text &text) {
    size_t end = text.size();
    while (end > 0 && isXmlSpace(text[end - 1]))
        --end;
    size_t start = 0;
    while (start < end && isXmlSpace(text[start]))
        ++start;
    return {start, end};
}

// The text without the blanks around it into out, when that is all ASCII; else false.
bool asciiTrimmed(const std::u16string &text, std::string &out) {
    const auto [start, end] = unblanked(text);
    char16_t any = 0;
    for (size_t i = start; i < end; ++i)
        any |= text[i];
    if (any >= 0x80) return false;
    out.resize(end - start);
    for (size_t i = start; i < end; ++i)
        out[i - start] = static_cast<char>(text[i]);
    return true;
}

// A whole integer within [low, high]: blanks around it, an optional sign, digits.
bool strictInteger(const std::string &text, int64_t low, int64_t high, int64_t *out) {
    const char *s = text.c_str();
    const bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    if (*s < '0' || *s > '9') return false;
    uint64_t value = 0;
    const uint64_t limit = negative ? uint64_t(-(low + 1)) + 1 : uint64_t(high);
    for (; *s >= '0' && *s <= '9'; ++s) {
        const uint64_t digit = static_cast<uint64_t>(*s - '0');
        if (value > (limit - digit) / 10) return false;
        value = 10 * value + digit;
    }
    if (*s != '\0') return false;
    *out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    return true;
}

const char *kindName(int kind) {
    static const char *const kNames[] = {"TEXT",      "CHAR",   "DATE",    "TIME",
                                         "TIMESTAMP", "DOUBLE", "REAL",    "INTEGER",
                                         "SMALLINT",  "BIGINT", "FRAGMENT"};
    return kind >= 0 && kind <= TESSEL_ROWS_FRAGMENT ? kNames[kind] : "?";
}

} // namespace

bool QapRowScan::toDbText(const std::u16string &text, std::string &out) {
    if (utf8Db_) {
        out.resize(3 * text.size() + 1);
        const int32_t n = qapToUtf8(reinterpret_cast<unsigned char *>(out.data()), text.c_str(),
                                    static_cast<uint32_t>(text.size()));
        if (n < 0) return false;
        out.resize(static_cast<size_t>(n));
        return true;
    }
    out.resize(4 * text.size() + 4);
    const int32_t n =
        qapWcstombsFunction(ctx_, out.data(), text.c_str(), static_cast<int32_t>(out.size()));
    if (n < 0) return false;
    out.resize(static_cast<size_t>(n));
    return true;
}

bool QapRowScan::convert(uint64_t, size_t column, QapRowCell &cell, QapRowValue &value) {
    value.null = true;
    value.text.clear();
    if (!cell.matched) return true;
    const int kind = kept_->kinds[column];
    std::string &t = value.text;
    const auto refuse = [&](const char *state, const char *why) {
        if (badNull_) {
            value.null = true;
            t.clear();
            return true;
        }
        failure_.set(state, why);
        return false;
    };
    const bool textual =
        kind == TESSEL_ROWS_TEXT || kind == TESSEL_ROWS_FRAGMENT || kind == TESSEL_ROWS_CHAR;
    // A number in UTF-8 is read straight from the cell without the blanks around it, when
    // what is left is ASCII (as digits are): the code page conversion would change nothing.
    if (!textual && utf8Db_ && asciiTrimmed(cell.text, t)) {
        if (t.empty()) return true;
    } else {
        if (!toDbText(cell.text, t)) return refuse("38X45", "does not convert to the code page");
        if (kind == TESSEL_ROWS_TEXT || kind == TESSEL_ROWS_FRAGMENT) {
            value.null = false;
            return true;
        }
        if (kind == TESSEL_ROWS_CHAR) {
            if (t.size() > 254) return refuse("38X39", "is longer than CHAR allows");
            value.null = false;
            return true;
        }
        // The other kinds read the text without the blanks around it; a blank value is NULL.
        const auto [start, end] = unblanked(t);
        t.erase(end);
        t.erase(0, start);
        if (t.empty()) return true;
    }
    const auto notKind = [&]() {
        return refuse("38X29", (std::string("does not convert to ") + kindName(kind)).c_str());
    };
    const size_t limit = kind == TESSEL_ROWS_DATE ? 10 : kind == TESSEL_ROWS_TIME ? 8 : 254;
    if (t.size() > limit)
        return refuse("38X39", ("is too long for " + std::string(kindName(kind))).c_str());
    switch (kind) {
    case TESSEL_ROWS_TIMESTAMP: {
        char stamp[27];
        memset(stamp, '0', 26);
        stamp[26] = '\0';
        if (qapNormalTstamp(ctx_, t.c_str(), static_cast<int32_t>(t.size()), stamp) != 0)
            return notKind();
        t.assign(stamp, 26);
        break;
    }
    case TESSEL_ROWS_DOUBLE:
    case TESSEL_ROWS_REAL: {
        char copy[256]; // qapAtof writes into its text
        memcpy(copy, t.c_str(), t.size() + 1);
        int32_t code = 0;
        double d = qapAtof(copy, &code);
        if (code != 0) return notKind();
        if (kind == TESSEL_ROWS_REAL) {
            // Rounded as the extract routines round (qapToReal).
            constexpr double kRoundsToInfinity = static_cast<double>(FLT_MAX) + 0x1p103;
            d = std::fabs(d) < kRoundsToInfinity ? static_cast<double>(static_cast<float>(d))
                                                 : (d > 0 ? HUGE_VAL : -HUGE_VAL);
        }
        value.real = d;
        break;
    }
    case TESSEL_ROWS_INTEGER:
    case TESSEL_ROWS_SMALLINT:
    case TESSEL_ROWS_BIGINT: {
        const int64_t high = kind == TESSEL_ROWS_INTEGER    ? INT32_MAX
                             : kind == TESSEL_ROWS_SMALLINT ? INT16_MAX
                                                            : INT64_MAX;
        if (!strictInteger(t, -high - 1, high, &value.integer)) return notKind();
        break;
    }
    default: // DATE, TIME: the text
        break;
    }
    value.null = false;
    return true;
}
