// A quick reader for the plainest documents: UTF-8, no DOCTYPE, names in ASCII. It reports
// elements and text to a SAX handler as the non-validating reader does (namespaces off: empty
// URI and local name, the qualified name; text inside the root element only; CDATA sections
// between startCDATA and endCDATA; white space outside the root element not at all, so it
// serves handlers that ignore it), and declines everything else, malformed input included,
// so that the full parser reads the document again and has the last word on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/ContentHandler.hpp>
#include <xercesc/sax2/LexicalHandler.hpp>

// What the reader holds at most, whatever the document: a longer tag, comment or CDATA
// section, deeper nesting, longer names of open elements or more attributes on one element
// are left to the full parser.
constexpr size_t kQuickMaxToken = size_t{1} << 20;
constexpr size_t kQuickMaxDepth = 4096;
constexpr size_t kQuickMaxNames = size_t{1} << 20;
constexpr size_t kQuickMaxAttributes = 256;

// A growing run of UTF-16 units, written in place.
class QapUnits {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    char16_t *data() { return units_.get(); }
    const char16_t *data() const { return units_.get(); }
    void clear() { size_ = 0; }
    void cut(size_t size) { size_ = size; }
    // Room for n more units at the end: where they go.
    char16_t *extend(size_t n) {
        if (cap_ - size_ < n) grow(n);
        char16_t *at = units_.get() + size_;
        size_ += n;
        return at;
    }
    void push(char16_t c) { *extend(1) = c; }
    // Gives the room back when it grew past units.
    void trim(size_t units);

private:
    void grow(size_t n);
    std::unique_ptr<char16_t[]> units_;
    size_t size_ = 0;
    size_t cap_ = 0;
};

class QapQuickReader {
public:
    enum class Outcome {
        READ,     // the whole document, well-formed, every event reported
        DECLINED, // something the reader leaves to the full parser: parse again from the start
    };
    QapQuickReader();
    ~QapQuickReader();
    QapQuickReader(const QapQuickReader &) = delete;
    QapQuickReader &operator=(const QapQuickReader &) = delete;

    // Reads size bytes in memory. Whatever the handler throws passes through (the reader is
    // then ready for another document). Also declines when the host cancelled the statement:
    // the full parser reports that.
    Outcome readMemory(const char *doc, size_t size, XERCES_CPP_NAMESPACE::ContentHandler &content,
                       XERCES_CPP_NAMESPACE::LexicalHandler *lexical);
    // Reads an open regular file from its start, by position (the descriptor's offset is left
    // as it is, for the full parser). A read error declines.
    Outcome readFile(int fd, XERCES_CPP_NAMESPACE::ContentHandler &content,
                     XERCES_CPP_NAMESPACE::LexicalHandler *lexical);

private:
    class Scan;
    // What a large document made the buffers grow to goes back.
    void trim();
    std::vector<char> buffer_;        // a file's window
    QapUnits text_;                   // text on its way to the handler
    QapUnits names_;                  // the open elements' names, each ended by a zero
    std::vector<uint32_t> starts_;    // where each open element's name starts in names_
    QapUnits attributeText_;          // the started element's name, attribute names and values
    std::vector<uint32_t> attribute_; // per attribute: name start, value start
};
