// UTF-16 to UTF-8 several units at a time while the text is ASCII.
#include "qapUtf8.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int32_t qapToUtf8(unsigned char *d, const XMLCh *in, uint32_t length) {
    unsigned char *const start = d;
    const XMLCh *const end = in + length;
    for (;;) {
        // The bulk of text in a UTF-8 database: several units at a time while they are ASCII
        // and not NUL.
#if defined(__SSE2__)
        // Eight at a time; of a block that is not all ASCII, the ASCII units before the first
        // other one (the packed store writes all eight bytes, but d has room for them and the
        // bytes beyond are written again later).
        while (end - in >= 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
            // Units from 1 to 0x7F (as signed 16-bit numbers).
            const __m128i ok = _mm_and_si128(_mm_cmpgt_epi16(v, _mm_setzero_si128()),
                                             _mm_cmplt_epi16(v, _mm_set1_epi16(0x80)));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(d), _mm_packus_epi16(v, v));
            const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(ok));
            if (mask != 0xFFFF) {
                const unsigned ascii = static_cast<unsigned>(__builtin_ctz(~mask)) / 2;
                d += ascii;
                in += ascii;
                break;
            }
            d += 8;
            in += 8;
        }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Four at a time: with every unit below 0x80, subtracting one sets a unit's top bit
        // only when some unit is 0.
        while (end - in >= 4) {
            uint64_t v;
            memcpy(&v, in, sizeof v);
            if ((v & 0xFF80FF80FF80FF80ULL) != 0 ||
                ((v - 0x0001000100010001ULL) & 0x8000800080008000ULL) != 0)
                break;
            v = (v | (v >> 8)) & 0x0000FFFF0000FFFFULL;
            const uint32_t bytes = static_cast<uint32_t>(v | (v >> 16));
            memcpy(d, &bytes, sizeof bytes);
            d += 4;
            in += 4;
        }
#endif
        uint32_t c;
        if (end - in < 8) {
            // The last few units, ASCII ones without going round.
            while ((c = *in) - 1 < 0x7F) {
                *d++ = static_cast<unsigned char>(c);
                ++in;
            }
        }
        c = *in++;
        if (c < 0x80) {
            *d = static_cast<unsigned char>(c);
            if (c == 0) return static_cast<int32_t>(d - start);
            ++d;
        } else if (c < 0x800) {
            *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            const uint32_t low = *in;
            if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF) return -1;
            ++in;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            *d++ = static_cast<unsigned char>(0xF0 | (c >> 18));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
            *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
}
