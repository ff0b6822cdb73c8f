// The quick reader: one pass over the bytes, which checks what it reads as strictly as the
// full parser would and declines at the first thing it does not know for certain.
#include "qapQuickReader.h"
#include "tesselHost.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <unistd.h>
#include <xercesc/util/XMLString.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

constexpr size_t kWindow = size_t{256} << 10;   // file bytes read at a time
constexpr size_t kTextPiece = size_t{32} << 10; // units of text handed on at a time
// The host is asked whether the statement was cancelled every time this much work was done:
// bytes read, units of text, and each piece of markup as this many.
constexpr uint64_t kPollWork = uint64_t{1} << 20;
constexpr uint64_t kTokenWork = 256;

// The bytes that the text and literal loops copy as they are, without a closer look.
struct PlainTable {
    bool plain[256];
    constexpr PlainTable() : plain() {
        for (int c = 0x20; c < 0x7F; ++c)
            plain[c] = true;
        for (char c : {'<', '&', ']', '>', '"', '\''})
            plain[static_cast<unsigned char>(c)] = false;
    }
};
constexpr PlainTable kBytes;

bool isSpace(unsigned char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}
// ASCII name characters: 1 may start a name, 2 may follow.
struct NameTable {
    uint8_t kind[256];
    constexpr NameTable() : kind() {
        for (int c = 0; c < 128; ++c) {
            const bool start =
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
            kind[c] = start ? 1 : ((c >= '0' && c <= '9') || c == '.' || c == '-') ? 2 : 0;
        }
    }
};
constexpr NameTable kNames;
bool isNameStart(unsigned char c) {
    return kNames.kind[c] == 1;
}
bool isNameChar(unsigned char c) {
    return kNames.kind[c] != 0;
}
// A character the reader takes as it is: any XML character but the controls and the
// discouraged ones between 0x7F and 0x9F, which it leaves to the full parser.
bool isPlainChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c < 0x7F) ||
           (c >= 0xA0 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Appends c as UTF-16.
void appendChar(QapUnits &out, char32_t c) {
    if (c < 0x10000) {
        out.push(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

// Appends the ASCII bytes [from, to) as UTF-16.
void appendAscii(QapUnits &out, const unsigned char *from, const unsigned char *to) {
    for (char16_t *o = out.extend(static_cast<size_t>(to - from)); from != to; ++from)
        *o++ = *from;
}

// The attributes of the element just started, as the full reader gives them with namespaces
// off: no URI, the local part after the first colon, type CDATA.
class QuickAttributes final : public Attributes {
public:
    QuickAttributes(const QapUnits &text, const std::vector<uint32_t> &at)
        : text_(text.data()), at_(at.data()), count_(at.size() / 2) {}
    XMLSize_t getLength() const override { return count_; }
    const XMLCh *getURI(const XMLSize_t) const override { return u""; }
    const XMLCh *getLocalName(const XMLSize_t i) const override {
        const XMLCh *name = getQName(i);
        if (name == nullptr) return nullptr;
        for (const XMLCh *c = name; *c != 0; ++c)
            if (*c == u':') return c + 1;
        return name;
    }
    const XMLCh *getQName(const XMLSize_t i) const override {
        return i < count_ ? text_ + at_[2 * i] : nullptr;
    }
    const XMLCh *getType(const XMLSize_t i) const override {
        return i < count_ ? u"CDATA" : nullptr;
    }
    const XMLCh *getValue(const XMLSize_t i) const override {
        return i < count_ ? text_ + at_[2 * i + 1] : nullptr;
    }
    bool getIndex(const XMLCh *const uri, const XMLCh *const localPart,
                  XMLSize_t &index) const override {
        if (uri != nullptr && *uri != 0) return false;
        for (index = 0; index < count_; ++index)
            if (same(getLocalName(index), localPart)) return true;
        return false;
    }
    int getIndex(const XMLCh *const uri, const XMLCh *const localPart) const override {
        XMLSize_t i = 0;
        return getIndex(uri, localPart, i) ? static_cast<int>(i) : -1;
    }
    bool getIndex(const XMLCh *const qName, XMLSize_t &index) const override {
        for (index = 0; index < count_; ++index)
            if (same(getQName(index), qName)) return true;
        return false;
    }
    int getIndex(const XMLCh *const qName) const override {
        XMLSize_t i = 0;
        return getIndex(qName, i) ? static_cast<int>(i) : -1;
    }
    const XMLCh *getType(const XMLCh *const uri, const XMLCh *const localPart) const override {
        return getType(static_cast<XMLSize_t>(getIndex(uri, localPart)));
    }
    const XMLCh *getType(const XMLCh *const qName) const override {
        return getType(static_cast<XMLSize_t>(getIndex(qName)));
    }
    const XMLCh *getValue(const XMLCh *const uri, const XMLCh *const localPart) const override {
        return getValue(static_cast<XMLSize_t>(getIndex(uri, localPart)));
    }
    const XMLCh *getValue(const XMLCh *const qName) const override {
        return getValue(static_cast<XMLSize_t>(getIndex(qName)));
    }

private:
    static bool same(const XMLCh *a, const XMLCh *b) {
        return a != nullptr && b != nullptr && XMLString::equals(a, b);
    }
    const XMLCh *text_;
    const uint32_t *at_;
    XMLSize_t count_;
};

} // namespace

void QapUnits::grow(size_t n) {
    const size_t cap = std::max(size_ + n, 2 * cap_ + 64);
    std::unique_ptr<char16_t[]> units(new char16_t[cap]);
    if (size_ != 0) memcpy(units.get(), units_.get(), size_ * sizeof(char16_t));
    units_ = std::move(units);
    cap_ = cap;
}

void QapUnits::trim(size_t units) {
    if (cap_ <= units) return;
    units_.reset();
    size_ = cap_ = 0;
}

QapQuickReader::QapQuickReader() = default;
QapQuickReader::~QapQuickReader() = default;

void QapQuickReader::trim() {
    constexpr size_t kKept = size_t{64} << 10;
    text_.trim(kKept);
    names_.trim(kKept);
    attributeText_.trim(kKept);
    if (starts_.capacity() > kKept) std::vector<uint32_t>().swap(starts_);
    if (attribute_.capacity() > kKept) std::vector<uint32_t>().swap(attribute_);
}

// One document's read. Each step reads one piece from p: OK (consumed), MORE (the input ends
// before the piece does, and more of it may come), NO (declined).
class QapQuickReader::Scan {
public:
    Scan(QapQuickReader &reader, ContentHandler &content, LexicalHandler *lexical)
        : r_(reader), content_(content), lexical_(lexical) {
        r_.text_.clear();
        r_.names_.clear();
        r_.starts_.clear();
    }
    void overMemory(const char *doc, size_t size) {
        p_ = reinterpret_cast<const unsigned char *>(doc);
        end_ = p_ + size;
        eof_ = true;
    }
    void overFile(int fd) { fd_ = fd; }
    Outcome run();

private:
    enum Step { OK, MORE, NO };
    bool more(); // refills a file's window, keeping what is from p_ on
    Step declaration();
    Step text();
    Step startTag();
    Step endTag();
    Step comment();
    Step instruction();
    Step cdata();
    // Decodes one character of two to four bytes at q: its length, 0 when it is not one the
    // reader takes, -1 when the input ends within it.
    int decode(const unsigned char *q, char32_t &c) const;
    // A reference at q ('&'): its length, 0 when declined, -1 when the input ends within it.
    int reference(const unsigned char *q, char32_t &c) const;
    // A line end at q ('\r', alone or before '\n'): its length, -1 when the input may go on.
    int lineEnd(const unsigned char *q) const {
        if (q + 1 == end_) return eof_ ? 1 : -1;
        return q[1] == '\n' ? 2 : 1;
    }
    // Copies the characters of a literal (attribute value, or comment, PI and CDATA content)
    // from q up to stop, into out (when given); the end of stop, or nullptr with step set.
    template <size_t N>
    const unsigned char *literal(const unsigned char *q, const char (&stop)[N], QapUnits *out,
                                 bool attribute, Step &step);
    Step ended() const { return eof_ ? NO : MORE; }
    void flushText() {
        if (!r_.text_.empty()) content_.characters(r_.text_.data(), r_.text_.size());
        r_.text_.clear();
    }
    bool poll(uint64_t work) {
        if ((work_ += work) < kPollWork) return true;
        work_ = 0;
        return tarnStatementCancelled() == 0;
    }

    QapQuickReader &r_;
    ContentHandler &content_;
    LexicalHandler *lexical_;
    const unsigned char *p_ = nullptr;
    const unsigned char *end_ = nullptr;
    bool eof_ = false;
    int fd_ = -1;
    off_t offset_ = 0;
    uint64_t work_ = 0;
    int brackets_ = 0; // "]" just before in text: "]]>" is not allowed there
};

bool QapQuickReader::Scan::more() {
    if (eof_ || fd_ < 0) return false;
    std::vector<char> &buffer = r_.buffer_;
    const size_t keep = static_cast<size_t>(end_ - p_);
    if (keep > kQuickMaxToken + 64) return false;
    const size_t from =
        keep != 0 ? static_cast<size_t>(p_ - reinterpret_cast<const unsigned char *>(buffer.data()))
                  : 0;
    if (buffer.size() < keep + kWindow) buffer.resize(keep + kWindow);
    if (keep != 0) memmove(buffer.data(), buffer.data() + from, keep);
    ssize_t n;
    do
        n = pread(fd_, buffer.data() + keep, kWindow, offset_);
    while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    offset_ += n;
    eof_ = n == 0;
    p_ = reinterpret_cast<const unsigned char *>(buffer.data());
    end_ = p_ + keep + n;
    return poll(static_cast<uint64_t>(n));
}

QapQuickReader::Outcome QapQuickReader::Scan::run() {
    // Each step that needs more input than the window has is tried again after a refill.
    const auto retry = [this](auto step) {
        for (;;) {
            const Step s = (this->*step)();
            if (s != MORE) return s == OK;
            if (!more()) return false;
        }
    };
    if (p_ == end_ && !more()) return Outcome::DECLINED;
    while (end_ - p_ < 3 && !eof_)
        if (!more()) return Outcome::DECLINED;
    if (end_ - p_ >= 3 && memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
    if (!retry(&Scan::declaration)) return Outcome::DECLINED;
    content_.startDocument();
    bool rootSeen = false;
    for (;;) {
        if (r_.starts_.empty()) {
            // Before or after the root element: white space, comments and PIs.
            while (p_ != end_ && isSpace(*p_))
                ++p_;
            if (p_ == end_) {
                if (eof_) break;
                if (!more()) return Outcome::DECLINED;
                continue;
            }
        } else if (!retry(&Scan::text)) {
            return Outcome::DECLINED;
        }
        if (p_ == end_) {
            if (eof_) return Outcome::DECLINED; // an element is still open
            continue;
        }
        if (*p_ != '<') return Outcome::DECLINED;
        while (end_ - p_ < 9 && !eof_)
            if (!more()) return Outcome::DECLINED;
        const size_t left = static_cast<size_t>(end_ - p_);
        const auto at = [&](const char *s, size_t n) { return left >= n && memcmp(p_, s, n) == 0; };
        bool done;
        if (at("<!--", 4)) {
            done = retry(&Scan::comment);
        } else if (at("<?", 2)) {
            done = retry(&Scan::instruction);
        } else if (at("<![CDATA[", 9) && !r_.starts_.empty()) {
            done = retry(&Scan::cdata);
        } else if (at("</", 2) && !r_.starts_.empty()) {
            done = retry(&Scan::endTag);
        } else if (left >= 2 && isNameStart(p_[1]) && !(rootSeen && r_.starts_.empty())) {
            rootSeen = true;
            done = retry(&Scan::startTag);
        } else {
            done = false;
        }
        if (!done || !poll(kTokenWork)) return Outcome::DECLINED;
        brackets_ = 0;
    }
    if (!rootSeen) return Outcome::DECLINED;
    content_.endDocument();
    return Outcome::READ;
}

QapQuickReader::Scan::Step QapQuickReader::Scan::declaration() {
    static const char head[] = "<?xml";
    const size_t left = static_cast<size_t>(end_ - p_);
    if (left < 6) return eof_ ? OK : MORE;
    if (memcmp(p_, head, 5) != 0 || !isSpace(p_[5])) return OK; // no declaration
    const unsigned char *q = p_ + 5;
    // One pseudo-attribute: white space, name, '=', a quoted value; false when q is not at one.
    const auto pseudo = [&](const char *name, std::string &value, Step &step) {
        const unsigned char *s = q;
        while (s != end_ && isSpace(*s))
            ++s;
        const size_t n = strlen(name);
        if (s == q || static_cast<size_t>(end_ - s) < n + 1 || memcmp(s, name, n) != 0) {
            step = s == end_ ? ended() : OK;
            return false;
        }
        s += n;
        while (s != end_ && isSpace(*s))
            ++s;
        if (s == end_ || *s != '=') {
            step = s == end_ ? ended() : NO;
            return false;
        }
        ++s;
        while (s != end_ && isSpace(*s))
            ++s;
        if (s == end_ || (*s != '"' && *s != '\'')) {
            step = s == end_ ? ended() : NO;
            return false;
        }
        const unsigned char quote = *s++;
        value.clear();
        while (s != end_ && *s != quote && value.size() < 64)
            value.push_back(static_cast<char>(*s++));
        if (s == end_ || *s != quote) {
            step = s == end_ ? ended() : NO;
            return false;
        }
        q = s + 1;
        return true;
    };
    std::string value;
    Step step = OK;
    if (!pseudo("version", value, step)) return step == OK ? NO : step;
    if (value != "1.0") return NO;
    if (pseudo("encoding", value, step)) {
        if (value.size() != 5 || strcasecmp(value.c_str(), "UTF-8") != 0) return NO;
    } else if (step != OK) {
        return step;
    }
    if (pseudo("standalone", value, step)) {
        if (value != "yes" && value != "no") return NO;
    } else if (step != OK) {
        return step;
    }
    while (q != end_ && isSpace(*q))
        ++q;
    if (end_ - q < 2) return ended();
    // A declaration padded beyond any honest one is left to the parser, which bounds it.
    if (q[0] != '?' || q[1] != '>' || q + 2 - p_ > 1024) return NO;
    p_ = q + 2;
    return OK;
}

int QapQuickReader::Scan::decode(const unsigned char *q, char32_t &c) const {
    const unsigned char b = *q;
    int n;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        c = b & 0x1F;
        min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        c = b & 0x0F;
        min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        c = b & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (end_ - q < n) return eof_ ? 0 : -1;
    for (int i = 1; i < n; ++i) {
        if ((q[i] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (q[i] & 0x3F);
    }
    return c >= min && isPlainChar(c) ? n : 0;
}

int QapQuickReader::Scan::reference(const unsigned char *q, char32_t &c) const {
    // The longest reference taken: "&#x10FFFF;" with two leading zeros.
    constexpr int kLongest = 12;
    const unsigned char *semi = q + 1;
    while (semi != end_ && *semi != ';' && semi - q < kLongest)
        ++semi;
    if (semi == end_) return eof_ ? 0 : -1;
    if (*semi != ';') return 0;
    const char *name = reinterpret_cast<const char *>(q + 1);
    const size_t n = static_cast<size_t>(semi - q - 1);
    const auto is = [&](const char *s) { return n == strlen(s) && memcmp(name, s, n) == 0; };
    if (n >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x';
        uint32_t v = 0;
        size_t i = hex ? 2 : 1;
        if (i == n) return 0;
        for (; i < n; ++i) {
            const char d = name[i];
            uint32_t digit;
            if (d >= '0' && d <= '9')
                digit = static_cast<uint32_t>(d - '0');
            else if (hex && d >= 'a' && d <= 'f')
                digit = static_cast<uint32_t>(d - 'a' + 10);
            else if (hex && d >= 'A' && d <= 'F')
                digit = static_cast<uint32_t>(d - 'A' + 10);
            else
                return 0;
            v = v * (hex ? 16 : 10) + digit;
            if (v > 0x10FFFF) return 0;
        }
        c = v;
        if (!isPlainChar(c)) return 0;
    } else if (is("lt")) {
        c = '<';
    } else if (is("gt")) {
        c = '>';
    } else if (is("amp")) {
        c = '&';
    } else if (is("apos")) {
        c = '\'';
    } else if (is("quot")) {
        c = '"';
    } else {
        return 0;
    }
    return static_cast<int>(semi - q + 1);
}

QapQuickReader::Scan::Step QapQuickReader::Scan::text() {
    QapUnits &out = r_.text_;
    const unsigned char *q = p_;
    Step step = OK;
    for (;;) {
        const unsigned char *run = q;
        while (q != end_ && kBytes.plain[*q])
            ++q;
        if (q != run) {
            brackets_ = 0;
            appendAscii(out, run, q);
        }
        if (out.size() >= kTextPiece) {
            p_ = q;
            flushText();
            if (!poll(kTextPiece)) return NO;
        }
        if (q == end_) {
            step = eof_ ? OK : MORE;
            break;
        }
        const unsigned char b = *q;
        if (b == '<') break;
        char32_t c;
        int n = 1;
        if (b >= 0x80) {
            n = decode(q, c);
        } else if (b == '&') {
            n = reference(q, c);
        } else if (b == '\r') {
            n = lineEnd(q);
            c = '\n';
        } else if (b == '>' && brackets_ >= 2) {
            n = 0; // "]]>"
        } else if (b == '\t' || b == '\n' || b == ']' || b == '>' || b == '"' || b == '\'') {
            c = b;
        } else {
            n = 0;
        }
        if (n <= 0) {
            step = n == 0 ? NO : MORE;
            break;
        }
        brackets_ = b == ']' ? brackets_ + 1 : 0;
        appendChar(out, c);
        q += n;
    }
    p_ = q;
    return step;
}

template <size_t N>
const unsigned char *QapQuickReader::Scan::literal(const unsigned char *q, const char (&stop)[N],
                                                   QapUnits *out, bool attribute, Step &step) {
    const unsigned char *begin = q;
    for (;;) {
        const unsigned char *run = q;
        while (q != end_ && kBytes.plain[*q] && *q != static_cast<unsigned char>(stop[0]))
            ++q;
        if (static_cast<size_t>(q - begin) > kQuickMaxToken) {
            step = NO;
            return nullptr;
        }
        if (out != nullptr && q != run) appendAscii(*out, run, q);
        if (q == end_) {
            step = ended();
            return nullptr;
        }
        const unsigned char b = *q;
        if (b == static_cast<unsigned char>(stop[0])) {
            constexpr size_t n = N - 1;
            if (static_cast<size_t>(end_ - q) < n) {
                step = ended();
                return nullptr;
            }
            if (memcmp(q, stop, n) == 0) {
                work_ += static_cast<uint64_t>(q - begin);
                return q + n;
            }
        }
        char32_t c = b;
        int n = 1;
        if (b >= 0x80) {
            n = decode(q, c);
        } else if (b == '&' && attribute) {
            n = reference(q, c);
        } else if (b == '<' && attribute) {
            n = 0;
        } else if (b == '\r') {
            n = lineEnd(q);
            c = attribute ? ' ' : '\n';
        } else if (b == '\t' || b == '\n') {
            c = attribute ? ' ' : b;
        } else if (b < 0x20 || b == 0x7F) {
            n = 0;
        }
        if (n <= 0) {
            step = n == 0 ? NO : ended();
            return nullptr;
        }
        if (out != nullptr) appendChar(*out, c);
        q += n;
    }
}

QapQuickReader::Scan::Step QapQuickReader::Scan::startTag() {
    QapUnits &text = r_.attributeText_;
    std::vector<uint32_t> &at = r_.attribute_;
    text.clear();
    at.clear();
    const unsigned char *q = p_ + 1;
    // An ASCII name at q, copied with its ending zero; false when there is none.
    const auto name = [&](Step &step) {
        const unsigned char *s = q;
        if (s == end_ || !isNameStart(*s)) {
            step = s == end_ ? ended() : NO;
            return false;
        }
        while (s != end_ && isNameChar(*s) && static_cast<size_t>(s - q) <= kQuickMaxToken)
            ++s;
        if (s == end_ || *s >= 0x80 || s - q > static_cast<long>(kQuickMaxToken)) {
            step = s == end_ ? ended() : NO;
            return false;
        }
        appendAscii(text, q, s);
        text.push(0);
        q = s;
        return true;
    };
    Step step = OK;
    if (!name(step)) return step;
    for (;;) {
        const unsigned char *white = q;
        while (q != end_ && isSpace(*q))
            ++q;
        if (q == end_) return ended();
        if (*q == '>' || *q == '/') break;
        if (static_cast<size_t>(q - p_) > kQuickMaxToken) return NO;
        if (q == white || at.size() / 2 >= kQuickMaxAttributes) return NO;
        at.push_back(static_cast<uint32_t>(text.size()));
        if (!name(step)) return step;
        while (q != end_ && isSpace(*q))
            ++q;
        if (q == end_ || *q != '=') return q == end_ ? ended() : NO;
        ++q;
        while (q != end_ && isSpace(*q))
            ++q;
        if (q == end_ || (*q != '"' && *q != '\'')) return q == end_ ? ended() : NO;
        const char quote[2] = {static_cast<char>(*q), 0};
        at.push_back(static_cast<uint32_t>(text.size()));
        q = literal(q + 1, quote, &text, true, step);
        if (q == nullptr) return step;
        text.push(0);
        // No name twice.
        const XMLCh *added = text.data() + at[at.size() - 2];
        for (size_t i = 0; i + 2 < at.size(); i += 2)
            if (std::char_traits<char16_t>::compare(text.data() + at[i], added,
                                                    at[i + 1] - at[i]) == 0)
                return NO;
    }
    if (static_cast<size_t>(q - p_) > kQuickMaxToken) return NO;
    const bool empty = *q == '/';
    if (empty) {
        if (end_ - q < 2) return ended();
        if (q[1] != '>') return NO;
        ++q;
    }
    p_ = q + 1;
    // The element's name goes onto the stack of open ones.
    const size_t nameUnits = std::char_traits<char16_t>::length(text.data()) + 1;
    if (r_.starts_.size() >= kQuickMaxDepth || r_.names_.size() + nameUnits > kQuickMaxNames)
        return NO;
    flushText();
    const QuickAttributes attrs(text, at);
    if (empty) {
        content_.startElement(u"", u"", text.data(), attrs);
        content_.endElement(u"", u"", text.data());
        return OK;
    }
    r_.starts_.push_back(static_cast<uint32_t>(r_.names_.size()));
    memcpy(r_.names_.extend(nameUnits), text.data(), nameUnits * sizeof(char16_t));
    content_.startElement(u"", u"", r_.names_.data() + r_.starts_.back(), attrs);
    return OK;
}

QapQuickReader::Scan::Step QapQuickReader::Scan::endTag() {
    const XMLCh *open = r_.names_.data() + r_.starts_.back();
    const unsigned char *q = p_ + 2;
    for (; *open != 0; ++open, ++q) {
        if (q == end_) return ended();
        if (*q != *open) return NO;
    }
    while (q != end_ && isSpace(*q))
        ++q;
    if (q == end_) return ended();
    if (*q != '>') return NO;
    p_ = q + 1;
    flushText();
    content_.endElement(u"", u"", r_.names_.data() + r_.starts_.back());
    r_.names_.cut(r_.starts_.back());
    r_.starts_.pop_back();
    return OK;
}

QapQuickReader::Scan::Step QapQuickReader::Scan::comment() {
    Step step = OK;
    r_.attributeText_.clear();
    QapUnits *out = lexical_ != nullptr ? &r_.attributeText_ : nullptr;
    const unsigned char *q = literal(p_ + 4, "--", out, false, step);
    if (q == nullptr) return step;
    if (q == end_) return ended();
    if (*q != '>') return NO;
    p_ = q + 1;
    flushText();
    if (lexical_ != nullptr) lexical_->comment(out->data(), out->size());
    return OK;
}

QapQuickReader::Scan::Step QapQuickReader::Scan::instruction() {
    QapUnits &text = r_.attributeText_;
    text.clear();
    const unsigned char *q = p_ + 2;
    while (q != end_ && isNameChar(*q) && static_cast<size_t>(q - p_) <= kQuickMaxToken)
        ++q;
    if (q == end_) return ended();
    const size_t n = static_cast<size_t>(q - p_ - 2);
    if (n == 0 || !isNameStart(p_[2]) ||
        (n == 3 && strncasecmp(reinterpret_cast<const char *>(p_ + 2), "xml", 3) == 0))
        return NO;
    appendAscii(text, p_ + 2, q);
    text.push(0);
    const size_t data = text.size();
    if (isSpace(*q)) {
        while (q != end_ && isSpace(*q))
            ++q;
    } else if (*q != '?') {
        return NO;
    } else if (end_ - q < 2 || q[1] != '>') {
        return end_ - q < 2 ? ended() : NO;
    }
    Step step = OK;
    q = literal(q, "?>", &text, false, step);
    if (q == nullptr) return step;
    text.push(0);
    p_ = q;
    flushText();
    content_.processingInstruction(text.data(), text.data() + data);
    return OK;
}

QapQuickReader::Scan::Step QapQuickReader::Scan::cdata() {
    QapUnits &text = r_.attributeText_;
    text.clear();
    Step step = OK;
    const unsigned char *q = literal(p_ + 9, "]]>", &text, false, step);
    if (q == nullptr) return step;
    p_ = q;
    flushText();
    if (lexical_ != nullptr) lexical_->startCDATA();
    if (!text.empty()) content_.characters(text.data(), text.size());
    if (lexical_ != nullptr) lexical_->endCDATA();
    return OK;
}

QapQuickReader::Outcome QapQuickReader::readMemory(const char *doc, size_t size,
                                                   ContentHandler &content,
                                                   LexicalHandler *lexical) {
    Scan scan(*this, content, lexical);
    scan.overMemory(doc, size);
    const Outcome outcome = scan.run();
    trim();
    return outcome;
}

QapQuickReader::Outcome QapQuickReader::readFile(int fd, ContentHandler &content,
                                                 LexicalHandler *lexical) {
    Scan scan(*this, content, lexical);
    scan.overFile(fd);
    const Outcome outcome = scan.run();
    // A large window goes back: files of ordinary tags need no more than one.
    if (buffer_.size() > 2 * kWindow) std::vector<char>().swap(buffer_);
    trim();
    return outcome;
}
