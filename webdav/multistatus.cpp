// Turns a PROPFIND multistatus answer into the host's file records.
//
// What a server sends (lighttpd 1.4, Depth 1 on /dav/, abridged to one entry;
// the failing propstat lists the properties the server does not keep):
//
//   <?xml version="1.0" encoding="utf-8"?>
//   <D:multistatus xmlns:D="DAV:" xmlns:ns0="urn:uuid:c2f41010-65b3-11d1-a29f-00aa00c14882/">
//   <D:response>
//   <D:href>/dav/a%20b.txt</D:href>
//   <D:propstat>
//   <D:prop>
//   <D:resourcetype/><D:getcontentlength>5</D:getcontentlength><D:getlastmodified
//    ns0:dt="dateTime.rfc1123">Mon, 01 Mar 2021 05:06:01 GMT</D:getlastmodified></D:prop>
//   <D:status>HTTP/1.1 200 OK</D:status>
//   </D:propstat>
//   <D:propstat>
//   <D:prop>
//   <creationdate xmlns="DAV:"/><lastaccessed xmlns="DAV:"/></D:prop>
//   <D:status>HTTP/1.1 404 Not Found</D:status>
//   </D:propstat>
//   </D:response>
//   </D:multistatus>
//
// Apache writes the same with other prefixes (lp1:, g0:), one property per
// line and lower-case escapes ("%c3%bc"); other servers use no prefix at all.
// Elements are therefore matched by local name only, and anything unknown is
// skipped.

#include "multistatus.h"

#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "approxidate.h"
#include "protocol.h"

namespace {

bool NameIs(xmlNodePtr node, const char* name) {
    return node->name != nullptr &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// Case-insensitive in ASCII only, whatever locale the host runs in.
bool NameIsNoCase(xmlNodePtr node, const char* name) {
    return node->name != nullptr &&
           xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

void AppendCharacterData(xmlNodePtr node, std::string& out) {
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content != nullptr) out += reinterpret_cast<const char*>(child->content);
        } else if (child->type == XML_ELEMENT_NODE) {
            AppendCharacterData(child, out);
        }
    }
}

// The character data of an element, as xmlNodeGetContent gives it, but
// without a heap copy when the element holds one text node (nearly always).
class ElementText {
public:
    explicit ElementText(xmlNodePtr element) {
        xmlNodePtr only = element->children;
        if (only == nullptr) return;
        if (only->next == nullptr &&
            (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE)) {
            if (only->content != nullptr) {
                text = reinterpret_cast<const char*>(only->content);
                size = std::strlen(text);
            }
            return;
        }
        AppendCharacterData(element, scratch);
        text = scratch.c_str();
        size = scratch.size();
    }
    ElementText(const ElementText&) = delete;
    ElementText& operator=(const ElementText&) = delete;

    const char* text = "";  // always NUL-terminated
    size_t size = 0;

private:
    std::string scratch;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%00" ends the text (a NUL cannot be part of a path); a "%" that is not
// followed by two hex digits is an ordinary character ("100% sure.txt").
void DecodeInto(const char* text, size_t size, std::string& out) {
    out.clear();
    out.reserve(size);
    const char* end = text + size;
    for (const char* p = text; p < end; ++p) {
        if (*p == '\0') return;
        if (*p == '%' && end - p >= 3) {
            int high = HexValue(p[1]);
            int low = HexValue(p[2]);
            if (high >= 0 && low >= 0) {
                char byte = static_cast<char>(high * 16 + low);
                if (byte == '\0') return;
                out += byte;
                p += 2;
                continue;
            }
        }
        out += *p;
    }
}

bool StartsWith(const std::string& text, const char* prefix, size_t length) {
    return text.size() >= length && text.compare(0, length, prefix) == 0;
}

// Drops "scheme://host" from an absolute href; no path after the host means "/".
size_t PathStart(const std::string& decoded) {
    size_t start = 0;
    if (StartsWith(decoded, "http://", 7)) {
        size_t slash = decoded.find('/', 7);
        if (slash == std::string::npos) return std::string::npos;
        start = slash;
    } else if (StartsWith(decoded, "https://", 8)) {
        size_t slash = decoded.find('/', 8);
        if (slash == std::string::npos) return std::string::npos;
        start = slash;
    }
    return start;
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Links chain (one entry or more) after tail; head and tail follow.
void AppendChain(nodeinfo*& head, nodeinfo*& tail, nodeinfo* chain) {
    if (chain == nullptr) return;
    if (tail == nullptr)
        head = chain;
    else
        tail->next = chain;
    tail = chain;
    while (tail->next != nullptr) tail = tail->next;
}

bool IsNullText(const ElementText& value) {
    return value.size == 6 && strcasecmp(value.text, "(null)") == 0;
}

// libxml2's global set-up must be complete before any thread touches its per-thread
// state (the first parse, or the error handlers below), and host threads may list at
// once: it runs when the library loads.
const bool parserInitialised = (xmlInitParser(), true);

bool HasDtd(xmlDocPtr doc) {
    return doc != nullptr && (doc->intSubset != nullptr || doc->extSubset != nullptr);
}

// Judged by the parser's state rather than by the code a call returns, which
// also reports errors that do not break a document (an unbound prefix, say).
// Every fatal error clears wellFormed, and every fatal error or halt (no
// memory, undecodable input) stops the tree building with disableSAX.
bool Unusable(xmlParserCtxtPtr context) {
    return !context->wellFormed || context->disableSAX != 0 || HasDtd(context->myDoc);
}

// libxml2 reports a few faults (undecodable input, for one) through the
// calling thread's generic and structured error handlers even with NOERROR,
// and the host may keep handlers of its own there. Ours stay quiet for the
// length of a parse call, then the thread gets its handlers back.
class QuietXmlErrors {
public:
    QuietXmlErrors()
        : generic(xmlGenericError),
          genericContext(xmlGenericErrorContext),
          structured(xmlStructuredError),
          structuredContext(xmlStructuredErrorContext) {
        xmlSetGenericErrorFunc(nullptr, &Ignore);
        xmlSetStructuredErrorFunc(nullptr, nullptr);
    }
    ~QuietXmlErrors() {
        xmlSetGenericErrorFunc(genericContext, generic);
        xmlSetStructuredErrorFunc(structuredContext, structured);
    }
    QuietXmlErrors(const QuietXmlErrors&) = delete;
    QuietXmlErrors& operator=(const QuietXmlErrors&) = delete;

private:
    static void Ignore(void*, const char*, ...) {}

    xmlGenericErrorFunc generic;
    void* genericContext;
    xmlStructuredErrorFunc structured;
    void* structuredContext;
};

// Pieces handed to libxml2 at a time: the parser refuses to hold more than
// 10 MB of unparsed input unless HUGE is on, which it never is here.
constexpr size_t kPiece = 16 * 1024;

}  // namespace

MultistatusStream::~MultistatusStream() {
    if (context == nullptr) return;
    if (context->myDoc != nullptr) xmlFreeDoc(context->myDoc);
    xmlFreeParserCtxt(context);
}

bool MultistatusStream::Feed(const char* data, size_t size) {
    fedBytes += size;
    if (failed || size == 0) return !failed;
    // No answer the transport can hand over is larger than its 32-bit sizes.
    if (data == nullptr || fedBytes > static_cast<size_t>(INT32_MAX)) {
        failed = true;
        return false;
    }
    QuietXmlErrors quiet;
    if (context == nullptr) {
        context = xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr);
        if (context == nullptr) {
            failed = true;
            return false;
        }
        // No NOENT, DTDLOAD, DTDATTR or HUGE: entities are never substituted
        // or fetched, and libxml2's size limits stay in force. COMPACT keeps
        // short texts inside their nodes (a third less parse time on big
        // listings); finished nodes are only read or freed, never edited.
        xmlCtxtUseOptions(
            context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT);
    }
    while (size > 0) {
        size_t piece = size < kPiece ? size : kPiece;
        xmlParseChunk(context, data, static_cast<int>(piece), 0);
        if (Unusable(context)) {
            failed = true;
            return false;
        }
        data += piece;
        size -= piece;
    }
    return true;
}

std::shared_ptr<xmlDoc> MultistatusStream::Finish() {
    if (context == nullptr || failed) return nullptr;
    failed = true;  // nothing more can be parsed
    QuietXmlErrors quiet;
    xmlParseChunk(context, nullptr, 0, 1);
    bool unusable = Unusable(context);
    xmlDocPtr doc = context->myDoc;
    context->myDoc = nullptr;
    std::shared_ptr<xmlDoc> owned(doc, [](xmlDocPtr d) {
        if (d != nullptr) xmlFreeDoc(d);
    });
    if (unusable || doc == nullptr) return nullptr;
    return owned;
}

xmlNodePtr MultistatusStream::Root() const {
    if (context == nullptr || failed || context->myDoc == nullptr) return nullptr;
    return context->myDoc->children;
}

MultistatusStream::Node MultistatusStream::TakeFinishedChild() {
    Node taken(nullptr, xmlFreeNode);
    xmlNodePtr root = Root();
    if (root == nullptr || root->type != XML_ELEMENT_NODE) return taken;
    // The parser only ever adds to the last child (the element it is in, or
    // text it may still extend); every child before it is final.
    xmlNodePtr first = root->children;
    if (first == nullptr || first == root->last) return taken;
    xmlUnlinkNode(first);
    taken.reset(first);
    return taken;
}

std::shared_ptr<xmlDoc> ParseMultistatus(const char* data, size_t size) {
    MultistatusStream stream;
    stream.Feed(data, size);
    return stream.Finish();
}

std::string URLDecode(const char* text) {
    std::string out;
    if (text != nullptr) DecodeInto(text, std::strlen(text), out);
    return out;
}

std::string iconv_covert(std::string to, std::string from, std::string text, int* status) {
    std::string result = text;
    try {
        iconv_t converter = iconv_open(to.c_str(), from.c_str());
        if (converter == reinterpret_cast<iconv_t>(-1)) return result;
        std::shared_ptr<void> closer(converter,
                                     [](void* c) { iconv_close(static_cast<iconv_t>(c)); });

        const size_t area = 65536;
        std::unique_ptr<char[]> output(new char[area]);
        char* in = &text[0];
        size_t inLeft = text.size();
        char* out = output.get();
        size_t outLeft = area;
        size_t rc = iconv(converter, &in, &inLeft, &out, &outLeft);
        // Return a stateful encoding to its initial shift state.
        if (rc != static_cast<size_t>(-1) &&
            iconv(converter, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1))
            rc = static_cast<size_t>(-1);
        int code = rc == static_cast<size_t>(-1) ? -1 : static_cast<int>(rc);
        if (status != nullptr) *status = code;
        if (code == 0) {
            size_t produced = area - outLeft;
            const char* nul = static_cast<const char*>(std::memchr(output.get(), '\0', produced));
            result.assign(output.get(),
                          nul != nullptr ? static_cast<size_t>(nul - output.get()) : produced);
        }
    } catch (...) {
        return text;
    }
    return result;
}

nodeinfo* Protocol::nodeinfoNew() {
    return new nodeinfo();
}

void Protocol::nodeinfoFree(nodeinfo* chain) {
    while (chain != nullptr) {
        nodeinfo* next = chain->next;
        delete chain;
        chain = next;
    }
}

MultistatusRecords::~MultistatusRecords() {
    Protocol::nodeinfoFree(head);
}

void MultistatusRecords::Append(nodeinfo* chain) {
    AppendChain(head, tail, chain);
}

bool MultistatusRecords::Feed(const char* data, size_t size) {
    try {
        if (failed || !stream.Feed(data, size)) return false;
        xmlNodePtr root = stream.Root();
        if (root == nullptr || root->type != XML_ELEMENT_NODE || !NameIs(root, "multistatus"))
            return true;
        while (MultistatusStream::Node child = stream.TakeFinishedChild())
            if (NameIs(child.get(), "response"))
                Append(protocol.parsePropfindResponse(child.get()));
        return true;
    } catch (...) {
        failed = true;  // called from the transport: nothing may escape
        return false;
    }
}

bool MultistatusRecords::Finish() {
    std::shared_ptr<xmlDoc> doc = stream.Finish();
    if (!doc || failed) {
        // Records read before the document broke must not pass for a listing.
        Protocol::nodeinfoFree(Take());
        return false;
    }
    Append(protocol.parsePropfindAnswer(doc->children));
    return true;
}

nodeinfo* MultistatusRecords::Take() {
    nodeinfo* taken = head;
    head = tail = nullptr;
    return taken;
}

nodeinfo* Protocol::parsePropfindAnswer(xmlNodePtr root) {
    if (root == nullptr || !NameIs(root, "multistatus")) return nullptr;
    nodeinfo* head = nullptr;
    nodeinfo* tail = nullptr;
    try {
        for (xmlNodePtr child = root->children; child != nullptr; child = child->next) {
            if (!NameIs(child, "response")) continue;
            AppendChain(head, tail, parsePropfindResponse(child));
        }
    } catch (...) {
        nodeinfoFree(head);
        throw;
    }
    return head;
}

nodeinfo* Protocol::parsePropfindResponse(xmlNodePtr response) {
    xmlNodePtr href = nullptr;
    for (xmlNodePtr child = response->children; child != nullptr; child = child->next) {
        if (NameIs(child, "href")) {
            href = child;
            break;
        }
    }
    if (href == nullptr) return nullptr;
    nodeinfo* entry = parsePropfindHref(href);
    if (entry == nullptr) return nullptr;

    try {
        for (xmlNodePtr child = response->children; child != nullptr; child = child->next) {
            if (NameIs(child, "propstat")) {
                parsePropfindPropstat(child, entry);
            } else if (NameIs(child, "status")) {
                // A status for the whole resource (typically 404) voids the entry.
                ElementText status(child);
                const char* blank = std::strchr(status.text, ' ');
                if (blank != nullptr)
                    while (*blank == ' ') ++blank;
                if (blank == nullptr || *blank != '2') {
                    nodeinfoFree(entry);
                    return nullptr;
                }
            }
        }
    } catch (...) {
        nodeinfoFree(entry);
        throw;
    }
    return entry;
}

nodeinfo* Protocol::parsePropfindHref(xmlNodePtr href) {
    ElementText raw(href);
    // Reused across entries: one allocation less per entry of a big listing.
    thread_local std::string decoded;
    if (decoded.capacity() > 65536) std::string().swap(decoded);  // after a freak href
    DecodeInto(raw.text, raw.size, decoded);

    size_t start = PathStart(decoded);
    if (start == std::string::npos) {
        decoded = "/";
        start = 0;
    }
    // Only paths inside the connection's root have an id; anything else the
    // server mentions (a parent, another share, a shorter path) is dropped.
    size_t pathLength = decoded.size() - start;
    if (pathLength < rootPath.size() || decoded.compare(start, rootPath.size(), rootPath) != 0)
        return nullptr;
    size_t idStart = start + rootPath.size();
    if (idStart < decoded.size() && decoded[idStart] != '/') return nullptr;

    size_t idLength = decoded.size() - idStart;
    if (idLength > 0 && decoded.back() == '/') --idLength;

    nodeinfo* entry = nodeinfoNew();
    try {
        _FS_FILE& file = entry->file;
        file.id.assign(decoded, idStart, idLength);
        size_t slash = file.id.rfind('/');
        if (slash == std::string::npos) return entry;
        file.name.assign(file.id, slash + 1, std::string::npos);
        // A name that is plain ASCII survives any round trip unchanged.
        if (convertNames && !IsAscii(file.name)) {
            int status = -1;
            std::string local = iconv_covert(nameCharset, "UTF-8", file.name, &status);
            status = -1;
            std::string back = iconv_covert("UTF-8", nameCharset, local, &status);
            if (status == 0) file.name = back;
        }
    } catch (...) {
        nodeinfoFree(entry);
        throw;
    }
    return entry;
}

void Protocol::parsePropfindPropstat(xmlNodePtr propstat, nodeinfo* entry) {
    for (xmlNodePtr child = propstat->children; child != nullptr; child = child->next)
        if (NameIsNoCase(child, "prop")) parsePropfindProp(child, entry);
}

void Protocol::parsePropfindProp(xmlNodePtr prop, nodeinfo* entry) {
    _FS_FILE& file = entry->file;
    for (xmlNodePtr child = prop->children; child != nullptr; child = child->next) {
        if (child->name == nullptr) continue;
        std::string* timeField = nullptr;
        // The first letter rules out most candidates (and every text node).
        switch (child->name[0] | 0x20) {
            case 'g':
                if (NameIsNoCase(child, "getlastmodified")) {
                    timeField = &file.modifiedTime;
                } else if (NameIsNoCase(child, "getcontentlength")) {
                    ElementText length(child);
                    file.size = std::atoll(length.text);
                }
                break;
            case 'c':
                if (NameIsNoCase(child, "creationdate")) timeField = &file.creationTime;
                break;
            case 'l':
                if (NameIsNoCase(child, "lastaccessed")) timeField = &file.accessTime;
                break;
            case 'r':
                if (NameIsNoCase(child, "resourcetype")) {
                    xmlNodePtr first = child->children;
                    bool collection = first != nullptr &&
                                      (NameIsNoCase(first, "collection") ||
                                       (NameIsNoCase(first, "text") && first->next != nullptr &&
                                        NameIsNoCase(first->next, "collection")));
                    file.attributes = collection ? FA_DIRECTORY : FA_FILE;
                    if ((file.attributes & FA_FILE) && markFiles)
                        file.attributes = file.attributes | FA_MARKED;
                }
                break;
        }
        if (timeField != nullptr) {
            ElementText value(child);
            if (value.size == 0 || IsNullText(value)) continue;
            *timeField = convert_last_modified_to_rfc3339(std::string(value.text, value.size));
        }
    }
    if (file.accessTime.empty()) file.accessTime = file.modifiedTime;
    if (file.creationTime.empty()) file.creationTime = file.modifiedTime;
}
