// The result kinds of the extract routines and their text conversions.
#include "qapExtractKinds.h"

#include "qapMsg.h"
#include "qapTrace.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

int16_t qapCopyValue(QapCall &, char *value, char *out) {
    memcpy(out, value, strlen(value) + 1);
    return 0;
}

int16_t qapToLocator(QapCall &c, char *value, sqludf_locator *out) {
    const int32_t rc =
        qapBuf2Locator(c.ctx, value, static_cast<int32_t>(strlen(value)), out, c.err());
    return rc == 0 ? 0 : -1;
}

int16_t qapToTimestamp(QapCall &c, char *value, char *out) {
    char stamp[27];
    memset(stamp, '0', 26);
    stamp[26] = '\0';
    if (qapNormalTstamp(c.ctx, value, static_cast<int32_t>(strlen(value)), stamp) != 0) {
        c.fail(QAPQ061E);
        return -1;
    }
    memcpy(out, stamp, sizeof stamp);
    qapSetState(c.err().sqlstate, "00000");
    return 0;
}

int16_t qapToDouble(QapCall &, char *value, double *out) {
    int32_t err = 0;
    const double d = qapAtof(value, &err);
    if (err != 0) return -1;
    *out = d;
    return 0;
}

// Narrowed as the hardware would, without the undefined conversion of an out-of-range value:
// below FLT_MAX plus half its last step a value rounds to a float (FLT_MAX at most), from
// there on to infinity.
int16_t qapToReal(QapCall &c, char *value, float *out) {
    double d = 0;
    if (qapToDouble(c, value, &d) != 0) return -1;
    constexpr double kRoundsToInfinity = static_cast<double>(FLT_MAX) + 0x1p103;
    if (std::fabs(d) < kRoundsToInfinity)
        *out = static_cast<float>(d);
    else
        *out = d > 0 ? HUGE_VALF : -HUGE_VALF;
    return 0;
}

// atoi and atol agree here (both are strtol cut to 32 bits), so every source uses one: leading
// blanks are skipped, anything after the digits is ignored, no leading number gives 0.
int16_t qapToInteger(QapCall &, char *value, int32_t *out) {
    *out = static_cast<int32_t>(qapLeadingInteger(value));
    return 0;
}

// The low 16 bits of the integer.
int16_t qapToSmallint(QapCall &, char *value, int16_t *out) {
    *out = static_cast<int16_t>(static_cast<int>(qapLeadingInteger(value)));
    return 0;
}
