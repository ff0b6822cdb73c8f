// The source a parse reads a document through. A UTF-8 document (its XML declaration names
// UTF-8 or no encoding, or the caller set UTF-8) is decoded here to UTF-16 ahead of the parser,
// which then only copies it: ASCII is widened sixteen bytes at a time, two- and three-byte
// sequences in their valid form are decoded here too, and any other byte goes through the
// parser's own UTF-8 transcoder, so that a malformed sequence fails with the parser's own
// message. Any other document passes through unchanged.
#pragma once

#include <memory>
#include <xercesc/sax/InputSource.hpp>
#include <xercesc/util/XMLUTF8Transcoder.hpp>

class QapUtf8Stream;

// The blocks and the transcoder of the decoding, which a reader keeps from one parse to the
// next so that a small document takes nothing from the process heap for them.
struct QapUtf8Buffers {
    std::unique_ptr<XMLByte[]> in;
    std::unique_ptr<XMLCh[]> out;
    std::unique_ptr<XERCES_CPP_NAMESPACE::XMLUTF8Transcoder> xcoder;
};

class QapUtf8Source : public XERCES_CPP_NAMESPACE::InputSource {
public:
    // Takes the document's stream (made here: the document must not be read again) and reads
    // its first block to tell its encoding. The stream works in buffers, which must outlive it.
    // Throws what the stream throws, and bad_alloc.
    QapUtf8Source(const XERCES_CPP_NAMESPACE::InputSource &document, QapUtf8Buffers &buffers);
    ~QapUtf8Source() override;
    QapUtf8Source(const QapUtf8Source &) = delete;
    QapUtf8Source &operator=(const QapUtf8Source &) = delete;

    // The stream, once; null when the document had none.
    XERCES_CPP_NAMESPACE::BinInputStream *makeStream() const override;

private:
    mutable std::unique_ptr<QapUtf8Stream> stream_;
};
