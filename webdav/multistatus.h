// Reading PROPFIND answers: the hardened XML parse shared by listing and stat.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstddef>
#include <memory>

#include "protocol.h"

// Parses a multistatus body. Returns null for a body that is not well-formed
// XML and for any document that carries a DTD: a multistatus never needs one,
// and refusing it keeps entity tricks (external files, expansion bombs) out.
// The network is never used and nothing is written to stderr.
std::shared_ptr<xmlDoc> ParseMultistatus(const char* data, size_t size);

// The same parse fed piece by piece while the answer arrives, so the XML work
// overlaps the transfer instead of following it. The same rules apply: a DTD
// ends the parse as soon as it is seen, and nothing reaches the network.
class MultistatusStream {
public:
    MultistatusStream() = default;
    ~MultistatusStream();
    MultistatusStream(const MultistatusStream&) = delete;
    MultistatusStream& operator=(const MultistatusStream&) = delete;

    // Returns false once the document is known to be unusable; later pieces
    // are counted but not parsed.
    bool Feed(const char* data, size_t size);
    // Ends the document: null unless it is a well-formed document without a DTD.
    std::shared_ptr<xmlDoc> Finish();
    // Every byte offered to Feed, parsed or not.
    size_t fed() const { return fedBytes; }

    // The document's root element once it has begun (comments and processing
    // instructions may come first); null before that and once the parse has
    // failed or finished.
    xmlNodePtr Root() const;
    // Unlinks and hands over the root's first child once the parser is done
    // with it; null while there is none. Lets a caller read a big document
    // piece by piece without ever holding its whole tree.
    using Node = std::unique_ptr<xmlNode, void (*)(xmlNodePtr)>;
    Node TakeFinishedChild();

private:
    xmlParserCtxtPtr context = nullptr;
    bool failed = false;
    size_t fedBytes = 0;
};

// A PROPFIND answer turned into records while it arrives: libxml2 reads it
// with callbacks (no tree is built), and every response becomes a record as
// soon as its end tag is read, so a big listing never holds more than one
// response besides its records and the work overlaps the transfer. The records
// are those parsePropfindAnswer gives for the tree of the whole document, and
// the same documents are refused as by ParseMultistatus.
class MultistatusRecords {
public:
    explicit MultistatusRecords(Protocol& owner);
    ~MultistatusRecords();
    MultistatusRecords(const MultistatusRecords&) = delete;
    MultistatusRecords& operator=(const MultistatusRecords&) = delete;

    // Never throws (it runs inside the transport's callbacks). False once the answer is
    // known to be unusable: the rest need not be fetched.
    bool Feed(const char* data, size_t size);
    size_t fed() const { return fedBytes; }
    // Ends the answer: false, and no records, unless it was a well-formed
    // document without a DTD and every record could be built.
    bool Finish();
    // Hands over the records in document order (the caller frees them).
    nodeinfo* Take();

    struct Reader;  // where the callbacks are in the document

private:
    bool Parse(const char* data, int size, int terminate);

    std::unique_ptr<Reader> reader;
    xmlParserCtxtPtr context = nullptr;
    size_t fedBytes = 0;
    bool failed = false;
};
