// Decodes UTF-8 documents to UTF-16 for the parser: the parser's own UTF-8 decoding costs it a
// tenth of a parse, and UTF-16 it only copies.
#include "qapUtf8Source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <xercesc/util/BinInputStream.hpp>
#include <xercesc/util/XMLString.hpp>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

XERCES_CPP_NAMESPACE_USE

namespace {

// The document is read a block at a time; the first block tells the encoding.
constexpr size_t kBlock = 16384;
// Bytes the parser's transcoder is given at a time, beyond ASCII.
constexpr size_t kRun = 256;

#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
const XMLCh kUtf16[] = u"UTF-16BE";
#else
const XMLCh kUtf16[] = u"UTF-16LE";
#endif

bool isSpace(XMLByte b) {
    return b == ' ' || b == '\t' || b == '\r' || b == '\n';
}

bool sameLetters(const XMLByte *text, size_t n, const char *ascii) {
    if (strlen(ascii) != n) return false;
    for (size_t i = 0; i < n; ++i) {
        XMLByte c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<XMLByte>(c - 'a' + 'A');
        if (c != static_cast<XMLByte>(ascii[i])) return false;
    }
    return true;
}

} // namespace

class QapUtf8Stream : public BinInputStream {
public:
    QapUtf8Stream(BinInputStream *inner, QapUtf8Buffers &buffers) : inner_(inner), b_(buffers) {
        if (b_.in == nullptr) b_.in.reset(new XMLByte[kBlock]);
    }
    ~QapUtf8Stream() override { delete inner_; }
    QapUtf8Stream(const QapUtf8Stream &) = delete;
    QapUtf8Stream &operator=(const QapUtf8Stream &) = delete;

    // Reads the first block and tells whether the document is UTF-8 to decode here: forced is
    // the encoding the caller set, or null.
    bool start(const XMLCh *forced) {
        fill();
        const XMLByte *p = b_.in.get();
        const XMLByte *const end = p + inEnd_;
        const bool bom = inEnd_ >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
        if (bom) p += 3;
        size_t decl = 0; // bytes of the XML declaration
        if (end - p >= 6 && memcmp(p, "<?xml", 5) == 0 && isSpace(p[5])) {
            const XMLByte *close = p + 5;
            while (close + 1 < end && !(close[0] == '?' && close[1] == '>'))
                if (*close++ >= 0x80) return false;
            if (close + 1 >= end) return false;
            if (forced == nullptr && !namesUtf8(p + 5, close)) return false;
            decl = static_cast<size_t>(close + 2 - p);
        } else {
            // No declaration: UTF-8 unless the first bytes are those of another encoding,
            // which always hold a NUL or a byte above ASCII.
            const XMLByte *const probe = p + std::min<ptrdiff_t>(4, end - p);
            if (p == end) return false;
            for (const XMLByte *b = p; b < probe; ++b)
                if (*b == 0 || *b >= 0x80) return false;
        }
        if (forced != nullptr && (bom || XMLString::compareIString(forced, u"UTF-8") != 0))
            return false;
        inPos_ = static_cast<size_t>(p - b_.in.get());
        turns_[0] = 1;
        turns_[1] = forced == nullptr && decl > 1 ? decl - 1 : 0;
        decode_ = true;
        return true;
    }

    XMLFilePos curPos() const override { return delivered_; }
    const XMLCh *getContentType() const override { return inner_->getContentType(); }

    XMLSize_t readBytes(XMLByte *const toFill, const XMLSize_t maxToRead) override {
        XMLSize_t n = 0;
        if (!decode_) {
            // The first block, then the document's own stream.
            if (inPos_ < inEnd_) {
                n = std::min(maxToRead, inEnd_ - inPos_);
                memcpy(toFill, b_.in.get() + inPos_, n);
                inPos_ += n;
            } else if (!innerEnded_) {
                n = inner_->readBytes(toFill, maxToRead);
            }
        } else {
            const size_t room = maxToRead / sizeof(XMLCh);
            if (outPos_ == outEnd_) {
                // A block straight into the parser's buffer when it has room for one, as it
                // always has; else through the decoded block.
                if (room >= kBlock && reinterpret_cast<uintptr_t>(toFill) % alignof(XMLCh) == 0) {
                    n = produce(reinterpret_cast<XMLCh *>(toFill)) * sizeof(XMLCh);
                    delivered_ += n;
                    return n;
                }
                if (b_.out == nullptr) b_.out.reset(new XMLCh[kBlock]);
                outPos_ = 0;
                outEnd_ = produce(b_.out.get());
            }
            const size_t units = std::min(outEnd_ - outPos_, room);
            memcpy(toFill, b_.out.get() + outPos_, units * sizeof(XMLCh));
            outPos_ += units;
            n = units * sizeof(XMLCh);
        }
        delivered_ += n;
        return n;
    }

private:
    // True when the XML declaration's text (after "<?xml") names UTF-8 or no encoding.
    static bool namesUtf8(const XMLByte *p, const XMLByte *end) {
        for (; end - p > 8; ++p) {
            if (!isSpace(p[0]) || memcmp(p + 1, "encoding", 8) != 0) continue;
            p += 9;
            while (p < end && isSpace(*p))
                ++p;
            if (p == end || *p++ != '=') return false;
            while (p < end && isSpace(*p))
                ++p;
            if (p == end || (*p != '"' && *p != '\'')) return false;
            const XMLByte quote = *p++;
            const XMLByte *value = p;
            while (p < end && *p != quote)
                ++p;
            return p < end && sameLetters(value, static_cast<size_t>(p - value), "UTF-8");
        }
        return true;
    }

    // Tops the block up from the document, keeping what is not decoded yet.
    void fill() {
        if (inPos_ > 0) {
            memmove(b_.in.get(), b_.in.get() + inPos_, inEnd_ - inPos_);
            inEnd_ -= inPos_;
            inPos_ = 0;
        }
        while (!innerEnded_ && inEnd_ < kBlock) {
            const XMLSize_t n = inner_->readBytes(b_.in.get() + inEnd_, kBlock - inEnd_);
            if (n == 0) innerEnded_ = true;
            inEnd_ += n;
        }
    }

    // Decodes the next block into out (room for kBlock units): the units made, 0 at the end of
    // the document. Throws the parser's exception for a malformed sequence, before any
    // character of its block is handed on.
    size_t produce(XMLCh *out) {
        // One character, then the rest of the XML declaration when the document tells its own
        // encoding: the parser reads these before it decodes the rest, so a malformed sequence
        // after them is told at the same place.
        for (size_t &turn : turns_)
            if (turn != 0) {
                const size_t end = inPos_ + turn;
                turn = 0;
                return decode(end, out);
            }
        for (;;) {
            fill();
            if (const size_t made = decode(inEnd_, out)) return made;
            // Nothing decoded: the document ends inside a sequence, or holds a lead byte that
            // no sequence completes. The parser reads neither, nor anything after them.
            if (innerEnded_ || inEnd_ - inPos_ >= 8) return 0;
        }
    }

    // Decodes the block up to endAt into out: the units made.
    size_t decode(size_t endAt, XMLCh *const out) {
        const XMLByte *s = b_.in.get() + inPos_;
        const XMLByte *const end = b_.in.get() + endAt;
        XMLCh *o = out;
        while (s < end) {
#if defined(__SSE2__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            const __m128i zero = _mm_setzero_si128();
            while (end - s >= 16) {
                // All sixteen are widened; of a block that is not all ASCII, only the ASCII
                // ones before the first other byte count (out has room for the rest, which
                // the next units overwrite).
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 8), _mm_unpackhi_epi8(v, zero));
                if (const unsigned other = static_cast<unsigned>(_mm_movemask_epi8(v))) {
                    const unsigned ascii = static_cast<unsigned>(__builtin_ctz(other));
                    s += ascii;
                    o += ascii;
                    break;
                }
                s += 16;
                o += 16;
            }
#endif
            while (s < end && *s < 0x80)
                *o++ = *s++;
            // Two- and three-byte sequences in their one valid form (no overlong form, no
            // surrogate) are the common ones: decoded here.
            while (s < end && *s >= 0x80) {
                const unsigned lead = s[0];
                if (lead >= 0xC2 && lead <= 0xDF && end - s >= 2 && (s[1] & 0xC0) == 0x80) {
                    *o++ = static_cast<XMLCh>((lead & 0x1F) << 6 | (s[1] & 0x3F));
                    s += 2;
                    continue;
                }
                if (lead < 0xE0 || lead > 0xEF || end - s < 3 || (s[1] & 0xC0) != 0x80 ||
                    (s[2] & 0xC0) != 0x80)
                    break;
                const unsigned c = (lead & 0x0F) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu);
                if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) break;
                *o++ = static_cast<XMLCh>(c);
                s += 3;
            }
            if (s == end || *s < 0x80) continue;
            // Any other sequence goes to the parser's transcoder, with the bytes up to the next
            // ASCII one and a few after, so that it also sees a byte that ends one too early.
            const XMLByte *run = s;
            while (run < end && *run >= 0x80 && run - s < static_cast<ptrdiff_t>(kRun))
                ++run;
            const size_t count = static_cast<size_t>(std::min<ptrdiff_t>(end - s, run - s + 8));
            if (b_.xcoder == nullptr) b_.xcoder.reset(new XMLUTF8Transcoder(u"UTF-8", kRun + 8));
            XMLSize_t eaten = 0;
            o += b_.xcoder->transcodeFrom(s, count, o, count, eaten, sizes_);
            s += eaten;
            if (eaten == 0) break; // a sequence cut by the block's end: next time
        }
        inPos_ = static_cast<size_t>(s - b_.in.get());
        return static_cast<size_t>(o - out);
    }

    BinInputStream *inner_;
    QapUtf8Buffers &b_;
    size_t inPos_ = 0, inEnd_ = 0; // the block read from the document (b_.in)
    bool innerEnded_ = false;
    size_t outPos_ = 0, outEnd_ = 0; // the block decoded, not handed on yet (b_.out)
    bool decode_ = false;
    size_t turns_[2] = {}; // bytes of the first two blocks
    XMLFilePos delivered_ = 0;
    unsigned char sizes_[kRun + 8];
};

QapUtf8Source::QapUtf8Source(const InputSource &document, QapUtf8Buffers &buffers)
    : InputSource(document.getSystemId(), document.getMemoryManager()) {
    setPublicId(document.getPublicId());
    setIssueFatalErrorIfNotFound(document.getIssueFatalErrorIfNotFound());
    std::unique_ptr<BinInputStream> inner(document.makeStream());
    if (inner == nullptr) return;
    stream_.reset(new QapUtf8Stream(inner.get(), buffers));
    inner.release();
    if (stream_->start(document.getEncoding()))
        setEncoding(kUtf16);
    else if (document.getEncoding() != nullptr)
        setEncoding(document.getEncoding());
}

QapUtf8Source::~QapUtf8Source() = default;

BinInputStream *QapUtf8Source::makeStream() const {
    return stream_.release();
}
