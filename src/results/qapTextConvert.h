// The text conversions of the extract routines' result kinds, used without a call as well (the
// row scan): numbers with a checked exponent range, atol's integers, and timestamps normalised
// to the host's 26-character form.
#pragma once

#include <cstdint>

struct QapRoutineCtx;

// Errors of qapAtof.
constexpr int32_t kAtofTooLong = -124;    // longer than 30 characters
constexpr int32_t kAtofRange = -86;       // leading digit's decimal exponent outside -79..75
constexpr int32_t kAtofSyntax = -141;     // a character that does not belong to a number
constexpr int32_t kAtofUnconverted = -57; // strtod did not take the whole text

// The number in text (at most 30 characters; blanks around it allowed). Line feeds become
// blanks and trailing blanks are cut, in place. *errCode is 0 when the whole text was a number,
// else one of the errors above and the result is 0.0.
double qapAtof(char *text, int32_t *errCode);

// What atol gives for the text: leading blanks skipped, anything after the digits ignored, no
// leading number 0.
long qapLeadingInteger(const char *text);

// Rewrites a timestamp "yyyy-m[m]-d[d]{-| }h[h]{.|:}m[m]{.|:}s[s][.f{1,6}]" (at most 26
// characters) into out, which the caller fills with 26 '0' characters and a NUL: the fields
// get two digits each and the fraction is left-aligned. 0, or -1 when the text has another
// form (no field is range-checked).
int32_t qapNormalTstamp(QapRoutineCtx *ctx, const char *value, int32_t length, char *out);
