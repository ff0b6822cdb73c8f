// UTF-16 to UTF-8, the conversion of values for a UTF-8 database.
#pragma once

#include <cstdint>
#include <xercesc/util/XercesDefs.hpp>

// UTF-16 text (length units, NUL-terminated there) up to its first NUL as UTF-8 into d, which
// has room for 3 bytes per unit and a terminator (no unit takes more: a surrogate pair takes 4
// bytes for 2 units). Returns the byte count, or -1 when the text holds an unpaired surrogate.
int32_t qapToUtf8(unsigned char *d, const XMLCh *in, uint32_t length);
