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
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// Appends one decoded path segment; false when a "%00" ended the text in it. An encoded
// "/" is a character of the name, never a separator: it stays as the server wrote it.
bool DecodeSegment(const char* p, const char* end, std::string& out) {
    for (; p < end; ++p) {
        if (*p == '%' && end - p >= 3) {
            int high = HexValue(p[1]);
            int low = HexValue(p[2]);
            if (high >= 0 && low >= 0) {
                char byte = static_cast<char>(high * 16 + low);
                if (byte == '\0') return false;
                if (byte == '/')
                    out.append(p, 3);
                else
                    out += byte;
                p += 2;
                continue;
            }
        }
        out += *p;
    }
    return true;
}

bool IsDotSegment(const std::string& path, size_t from, size_t dots) {
    return path.size() - from == dots && path.compare(from, dots, "..", dots) == 0;
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

bool SameNoCase(const xmlChar* name, const char* wanted) {
    return name != nullptr && xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(wanted)) == 0;
}

// The properties a prop element is read for, by name (case-insensitive).
enum class Property { kOther, kModified, kCreated, kAccessed, kLength, kResourcetype };

Property PropertyNamed(const xmlChar* name) {
    if (name == nullptr) return Property::kOther;
    // The first letter rules out most candidates (and every text node).
    switch (name[0] | 0x20) {
        case 'g':
            if (SameNoCase(name, "getlastmodified")) return Property::kModified;
            if (SameNoCase(name, "getcontentlength")) return Property::kLength;
            break;
        case 'c':
            if (SameNoCase(name, "creationdate")) return Property::kCreated;
            break;
        case 'l':
            if (SameNoCase(name, "lastaccessed")) return Property::kAccessed;
            break;
        case 'r':
            if (SameNoCase(name, "resourcetype")) return Property::kResourcetype;
            break;
    }
    return Property::kOther;
}

std::string* TimeField(_FS_FILE& file, Property property) {
    switch (property) {
        case Property::kModified:
            return &file.modifiedTime;
        case Property::kCreated:
            return &file.creationTime;
        case Property::kAccessed:
            return &file.accessTime;
        default:
            return nullptr;
    }
}

int Digits(const char* text, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int IndexOf(const char* text, const char* const* names, int count) {
    for (int i = 0; i < count; ++i)
        if (std::memcmp(text, names[i], 3) == 0) return i;
    return -1;
}

// The form servers write, "Sun, 06 Nov 1994 08:49:37 GMT", read directly: the
// general date reader costs more than all the rest of a listed entry. Taken only
// when it is a real day of 1970 to 2099 with its own weekday, which the general
// reader gives the same; anything else goes to it.
bool Rfc1123AsRfc3339(const char* text, size_t size, std::string* out) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (size != 29 || std::memcmp(text + 3, ", ", 2) != 0 || text[7] != ' ' || text[11] != ' ' ||
        text[16] != ' ' || text[19] != ':' || text[22] != ':' ||
        std::memcmp(text + 25, " GMT", 4) != 0)
        return false;
    int weekday = IndexOf(text, kDays, 7), month = IndexOf(text + 8, kMonths, 12);
    int day = Digits(text + 5, 2), year = Digits(text + 12, 4);
    int hour = Digits(text + 17, 2), minute = Digits(text + 20, 2), second = Digits(text + 23, 2);
    if (weekday < 0 || month < 0 || year < 1970 || year > 2099 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    bool leap = year % 4 == 0;  // 2000 is one; 1900 and 2100 lie outside
    if (day < 1 || day > kMonthDays[month] + (month == 1 && leap ? 1 : 0)) return false;
    static const int kShift[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int y = month < 2 ? year - 1 : year;
    if ((y + y / 4 - y / 100 + y / 400 + kShift[month] + day) % 7 != weekday) return false;
    char shown[25];
    std::memcpy(shown, text + 12, 4);
    shown[4] = '-';
    shown[5] = static_cast<char>('0' + (month + 1) / 10);
    shown[6] = static_cast<char>('0' + (month + 1) % 10);
    shown[7] = '-';
    std::memcpy(shown + 8, text + 5, 2);
    shown[10] = 'T';
    std::memcpy(shown + 11, text + 17, 8);
    std::memcpy(shown + 19, ".000Z", 5);
    out->assign(shown, 24);
    return true;
}

// A time property's text; missing, empty and "(null)" leave the field as it is.
void TakeTime(std::string* field, const char* text, size_t size) {
    if (size == 0 || (size == 6 && strcasecmp(text, "(null)") == 0)) return;
    if (Rfc1123AsRfc3339(text, size, field)) return;
    *field = convert_last_modified_to_rfc3339(std::string(text, size));
}

void TakeResourcetype(const Protocol& protocol, _FS_FILE& file, bool collection) {
    file.attributes = collection ? FA_DIRECTORY : FA_FILE;
    if ((file.attributes & FA_FILE) && protocol.markFiles)
        file.attributes = file.attributes | FA_MARKED;
}

// Times a prop element left empty follow the modification time.
void FillTimes(_FS_FILE& file) {
    if (file.accessTime.empty()) file.accessTime = file.modifiedTime;
    if (file.creationTime.empty()) file.creationTime = file.modifiedTime;
}

// The leading decimal number of a size, as atoll reads it, but never negative and never
// wrapped: anything else is no size at all (0).
bool ReadSize(const char* text, int64_t& size) {
    size = 0;
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
    if (*text == '+') ++text;
    if (*text < '0' || *text > '9') return false;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (*text - '0');
    }
    size = value;
    return true;
}

// "423 Locked" of "HTTP/1.1 423 Locked": what follows the first blanks; null without a blank.
const char* StatusPhrase(const char* line) {
    const char* blank = std::strchr(line, ' ');
    if (blank != nullptr)
        while (*blank == ' ') ++blank;
    return blank;
}

// A response-level status keeps the entry only when its code is 2xx.
bool StatusKeeps(const char* text) {
    const char* phrase = StatusPhrase(text);
    return phrase != nullptr && *phrase == '2';
}

// The root element: comments and processing instructions (a stylesheet) may precede it.
xmlNodePtr FirstElement(xmlNodePtr node) {
    while (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

// The entry an href names: id and name filled, or null when it lies outside
// the connection's root.
nodeinfo* EntryForHref(const Protocol& protocol, const char* text, size_t size) {
    // Reused across entries: one allocation less per entry of a big listing.
    thread_local std::string path;
    if (path.capacity() > 65536) std::string().swap(path);  // after a freak href
    if (!HrefPath(text, size, path)) return nullptr;

    // Only paths inside the connection's root have an id; anything else the
    // server mentions (a parent, another share, a shorter path) is dropped.
    size_t idStart = 0;
    if (!protocol.under_root(path, &idStart)) return nullptr;
    size_t idLength = path.size() - idStart;
    if (idLength > 0 && path.back() == '/') --idLength;
    // "/docs//": a member without a name is nothing the host could address.
    if (idLength > 0 && path[idStart + idLength - 1] == '/') return nullptr;

    nodeinfo* entry = Protocol::nodeinfoNew();
    try {
        _FS_FILE& file = entry->file;
        file.id.assign(path, idStart, idLength);
        size_t slash = file.id.rfind('/');
        if (slash == std::string::npos) return entry;
        file.name.assign(file.id, slash + 1, std::string::npos);
        // A name that is plain ASCII survives any round trip unchanged.
        if (protocol.convertNames && !IsAscii(file.name)) {
            int status = -1;
            std::string local = iconv_covert(protocol.nameCharset, "UTF-8", file.name, &status);
            status = -1;
            std::string back = iconv_covert("UTF-8", protocol.nameCharset, local, &status);
            if (status == 0) file.name = back;
        }
    } catch (...) {
        Protocol::nodeinfoFree(entry);
        throw;
    }
    return entry;
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

// Hands an answer's bytes to parse in pieces of kPiece, counting them in fed; false, with
// failed set, once the answer is unusable. Later bytes are counted but not parsed.
template <typename Parse>
bool FeedInPieces(const char* data, size_t size, size_t& fed, bool& failed, Parse parse) {
    fed += size;
    if (failed || size == 0) return !failed;
    // No answer the transport can hand over is larger than its 32-bit sizes.
    if (data == nullptr || fed > static_cast<size_t>(INT32_MAX)) {
        failed = true;
        return false;
    }
    while (size > 0) {
        size_t piece = size < kPiece ? size : kPiece;
        if (!parse(data, static_cast<int>(piece))) {
            failed = true;
            return false;
        }
        data += piece;
        size -= piece;
    }
    return true;
}

}  // namespace

MultistatusStream::~MultistatusStream() {
    if (context == nullptr) return;
    if (context->myDoc != nullptr) xmlFreeDoc(context->myDoc);
    xmlFreeParserCtxt(context);
}

bool MultistatusStream::Feed(const char* data, size_t size) {
    QuietXmlErrors quiet;
    return FeedInPieces(data, size, fedBytes, failed, [this](const char* piece, int length) {
        if (context == nullptr) {
            context = xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, nullptr);
            if (context == nullptr) return false;
            // No NOENT, DTDLOAD, DTDATTR or HUGE: entities are never substituted
            // or fetched, and libxml2's size limits stay in force. COMPACT keeps
            // short texts inside their nodes (a third less parse time on big
            // listings); finished nodes are only read or freed, never edited.
            xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                           XML_PARSE_COMPACT);
        }
        xmlParseChunk(context, piece, length, 0);
        return !Unusable(context);
    });
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
    return FirstElement(context->myDoc->children);
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

bool HrefPath(const char* text, size_t size, std::string& path) {
    path.clear();
    const char* p = text;
    const char* end = text + size;
    // An absolute href: what follows the host is the path; no path at all means "/".
    for (const char* scheme : {"http://", "https://"}) {
        size_t length = std::strlen(scheme);
        if (size >= length && std::memcmp(text, scheme, length) == 0) {
            p = static_cast<const char*>(std::memchr(text + length, '/', size - length));
            if (p == nullptr) {
                path = "/";
                return true;
            }
            break;
        }
    }
    if (p == end || *p != '/') return false;  // a relative reference
    // Segment by segment, "." and ".." resolved as RFC 3986 5.2.4 does, so that no href
    // can climb out of the folder it names.
    while (p < end) {
        const char* segment = p + 1;
        const char* next = static_cast<const char*>(std::memchr(segment, '/', end - segment));
        if (next == nullptr) next = end;
        size_t mark = path.size();
        path += '/';
        bool more = DecodeSegment(segment, next, path);
        bool last = next == end || !more;
        if (IsDotSegment(path, mark + 1, 1) || IsDotSegment(path, mark + 1, 2)) {
            bool up = path.size() - mark == 3;
            path.resize(mark);
            if (up) path.resize(path.empty() ? 0 : path.rfind('/'));
            if (last) path += '/';  // "/a/b/.." names the folder /a/
        }
        if (!more) break;
        p = next;
    }
    if (path.empty()) path = "/";
    return true;
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

// ---- an answer read with callbacks --------------------------------------------------------

struct MultistatusRecords::Reader {
    explicit Reader(Protocol& owner) : protocol(owner) {}
    ~Reader() { Protocol::nodeinfoFree(head); }

    // What an open element is to the reader; the tree walk's rules by parent and name.
    enum class Role { kOther, kRoot, kResponse, kHref, kStatus, kPropstat, kProp, kProperty };

    Protocol& protocol;
    xmlParserCtxtPtr context = nullptr;
    nodeinfo* head = nullptr;
    nodeinfo* tail = nullptr;
    std::vector<Role> open;  // roles of the open elements, outermost first
    bool rootSeen = false;
    bool dtd = false;
    bool broken = false;  // a record could not be built

    // The response being read.
    _FS_FILE file;
    bool hrefSeen = false;
    std::string href;
    bool keep = true;
    bool hasSize = false;

    // The text content of the href, status or property being read: every piece of
    // character data at any depth below it.
    size_t textDepth = 0;  // its depth; 0: none
    std::string text;
    Property property = Property::kOther;

    // An open resourcetype: its depth (0: none), and whether a child element names a
    // collection (servers list other kinds beside it: principal, calendar, a vendor's own).
    size_t typeDepth = 0;
    bool collection = false;

    void Start(const char* name);
    void End();

    void Append(nodeinfo* entry) { AppendChain(head, tail, entry); }
    void Stop() {
        broken = true;
        xmlStopParser(context);
    }
};

void MultistatusRecords::Reader::Start(const char* name) {
    const xmlChar* n = reinterpret_cast<const xmlChar*>(name);
    auto is = [name](const char* wanted) { return std::strcmp(name, wanted) == 0; };
    Role parent = open.empty() ? Role::kOther : open.back();
    Role role = Role::kOther;
    const size_t depth = open.size() + 1;
    if (depth == 1) {
        rootSeen = true;
        if (is("multistatus")) role = Role::kRoot;
    } else if (parent == Role::kRoot) {
        if (is("response")) {
            role = Role::kResponse;
            file = _FS_FILE();
            hrefSeen = false;
            href.clear();
            keep = true;
            hasSize = false;
        }
    } else if (parent == Role::kResponse) {
        if (is("href") && !hrefSeen) role = Role::kHref;  // the first href only
        if (is("status")) role = Role::kStatus;
        if (is("propstat")) role = Role::kPropstat;
    } else if (parent == Role::kPropstat) {
        if (SameNoCase(n, "prop")) role = Role::kProp;
    } else if (typeDepth != 0 && depth == typeDepth + 1) {
        collection = collection || SameNoCase(n, "collection");
    } else if (parent == Role::kProp) {
        property = PropertyNamed(n);
        if (property == Property::kResourcetype) {
            role = Role::kProperty;
            typeDepth = depth;
            collection = false;
        } else if (property != Property::kOther) {
            role = Role::kProperty;
        }
    }
    if (role == Role::kHref || role == Role::kStatus ||
        (role == Role::kProperty && property != Property::kResourcetype)) {
        textDepth = depth;
        text.clear();
    }
    open.push_back(role);
}

void MultistatusRecords::Reader::End() {
    Role role = open.back();
    open.pop_back();
    switch (role) {
        case Role::kHref:
            hrefSeen = true;
            href.swap(text);
            break;
        case Role::kStatus:
            if (!StatusKeeps(text.c_str())) keep = false;
            break;
        case Role::kProperty:
            if (property == Property::kResourcetype) {
                TakeResourcetype(protocol, file, collection);
                typeDepth = 0;
            } else if (property == Property::kLength) {
                hasSize = ReadSize(text.c_str(), file.size);
            } else {
                TakeTime(TimeField(file, property), text.data(), text.size());
            }
            break;
        case Role::kProp:
            FillTimes(file);
            break;
        case Role::kResponse:
            if (hrefSeen && keep) {
                if (nodeinfo* entry = EntryForHref(protocol, href.data(), href.size())) {
                    _FS_FILE& record = entry->file;
                    record.attributes = file.attributes;
                    record.size = file.size;
                    entry->hasSize = hasSize;
                    record.creationTime = std::move(file.creationTime);
                    record.accessTime = std::move(file.accessTime);
                    record.modifiedTime = std::move(file.modifiedTime);
                    Append(entry);
                }
            }
            break;
        default:
            break;
    }
    if (textDepth > open.size()) textDepth = 0;
}

namespace {

using Reader = MultistatusRecords::Reader;

// libxml2 calls these from C: nothing may unwind through it.
template <typename F>
void Guarded(void* context, F work) {
    auto* reader = static_cast<Reader*>(context);
    if (reader->broken) return;
    try {
        work(*reader);
    } catch (...) {
        reader->Stop();
    }
}

void OnStart(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
             int, const xmlChar**, int, int, const xmlChar**) {
    Guarded(context, [&](Reader& r) {
        const char* name = reinterpret_cast<const char*>(localname);
        if (prefix != nullptr && uri == nullptr) {
            // An unbound prefix stays part of the name, as libxml2's tree keeps it.
            std::string qualified = std::string(reinterpret_cast<const char*>(prefix)) + ":" + name;
            r.Start(qualified.c_str());
        } else {
            r.Start(name);
        }
    });
}

void OnEnd(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    Guarded(context, [](Reader& r) { r.End(); });
}

// Character data of the element being read. libxml2 refuses a text node over its limit
// when it builds a tree; the reader refuses such a value too.
void Keep(Reader& r, const xmlChar* data, int length) {
    if (r.textDepth == 0) return;
    if (r.text.size() + static_cast<size_t>(length) > XML_MAX_TEXT_LENGTH) return r.Stop();
    r.text.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

void OnText(void* context, const xmlChar* data, int length) {
    Guarded(context, [&](Reader& r) { Keep(r, data, length); });
}

// A multistatus never needs a DTD; refusing one keeps entity tricks out.
void OnSubset(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* reader = static_cast<Reader*>(context);
    reader->dtd = true;
    xmlStopParser(reader->context);
}

xmlSAXHandler Callbacks() {
    xmlSAXHandler handler;
    std::memset(&handler, 0, sizeof handler);
    handler.initialized = XML_SAX2_MAGIC;
    handler.startElementNs = OnStart;
    handler.endElementNs = OnEnd;
    handler.characters = OnText;
    // The same function: libxml2 then hands every blank to it, as the tree keeps them.
    handler.ignorableWhitespace = OnText;
    handler.cdataBlock = OnText;
    handler.internalSubset = OnSubset;
    handler.externalSubset = OnSubset;
    return handler;
}

}  // namespace

MultistatusRecords::MultistatusRecords(Protocol& owner) : reader(new Reader(owner)) {}

MultistatusRecords::~MultistatusRecords() {
    if (context != nullptr) xmlFreeParserCtxt(context);
}

bool MultistatusRecords::Parse(const char* data, int size, int terminate) {
    QuietXmlErrors quiet;
    if (context == nullptr) {
        static xmlSAXHandler handler = Callbacks();
        context = xmlCreatePushParserCtxt(&handler, reader.get(), nullptr, 0, nullptr);
        if (context == nullptr) return false;
        reader->context = context;
        // No NOENT, DTDLOAD, DTDATTR or HUGE: entities are never substituted or
        // fetched, and libxml2's size limits stay in force.
        xmlCtxtUseOptions(context, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    }
    xmlParseChunk(context, data, size, terminate);
    // Judged by the parser's state, as for the tree: every fatal error clears
    // wellFormed, and every fatal error or halt stops the callbacks.
    return context->wellFormed && context->disableSAX == 0 && !reader->dtd && !reader->broken;
}

bool MultistatusRecords::Feed(const char* data, size_t size) {
    return FeedInPieces(data, size, fedBytes, failed,
                        [this](const char* piece, int length) { return Parse(piece, length, 0); });
}

bool MultistatusRecords::Finish() {
    bool usable = !failed && context != nullptr && Parse(nullptr, 0, 1);
    failed = true;  // nothing more can be parsed
    if (!usable) {
        // Records read before the document broke must not pass for a listing.
        Protocol::nodeinfoFree(Take());
        return false;
    }
    return true;
}

nodeinfo* MultistatusRecords::Take() {
    nodeinfo* taken = reader->head;
    reader->head = reader->tail = nullptr;
    return taken;
}

nodeinfo* Protocol::parsePropfindAnswer(xmlNodePtr first) {
    xmlNodePtr root = FirstElement(first);
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

Outcome Protocol::member_failure(const _CURLRTN& answer) {
    Outcome outcome;
    if (answer.code != 0 || answer.http_status != 207) return outcome;
    std::shared_ptr<xmlDoc> doc;
    if (answer.body) doc = ParseMultistatus(answer.body.get(), answer.body_size);
    xmlNodePtr root = doc ? FirstElement(doc->children) : nullptr;
    if (root == nullptr || !NameIs(root, "multistatus")) {
        // Nothing in it says the change was made.
        outcome.fault = "the server's multi-status answer could not be read";
        return outcome;
    }
    outcome.denied = true;
    for (xmlNodePtr response = root->children; response != nullptr; response = response->next) {
        if (!NameIs(response, "response")) continue;
        xmlNodePtr href = nullptr;
        xmlNodePtr status = nullptr;
        for (xmlNodePtr child = response->children; child != nullptr; child = child->next) {
            if (href == nullptr && NameIs(child, "href")) href = child;
            if (status == nullptr && NameIs(child, "status")) status = child;
        }
        if (status == nullptr) continue;
        ElementText line(status);
        const char* phrase = StatusPhrase(line.text);
        if (phrase != nullptr && *phrase == '2') continue;
        int code = phrase != nullptr ? std::atoi(phrase) : 0;
        outcome.denied = outcome.denied && (code == 401 || code == 403);
        if (!outcome.fault.empty()) continue;
        std::string path = "?";
        if (href != nullptr) {
            ElementText text(href);
            size_t idStart = 0;
            if (!HrefPath(text.text, text.size, path))
                path = text.text;
            else if (under_root(path, &idStart))
                path.erase(0, idStart);
            if (path.size() > 1 && path.back() == '/') path.pop_back();
            if (path.empty()) path = "/";
        }
        outcome.fault = path + ": " + (phrase != nullptr ? phrase : line.text);
    }
    if (outcome.fault.empty()) outcome.denied = false;
    return outcome;
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
                if (!StatusKeeps(status.text)) {
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

bool Protocol::under_root(const std::string& path, size_t* idStart) const {
    size_t n = rootPath.size();
    if (path.size() < n || path.compare(0, n, rootPath) != 0) return false;
    if (path.size() > n && path[n] != '/') return false;  // "/davx" is not under "/dav"
    *idStart = n;
    return true;
}

nodeinfo* Protocol::parsePropfindHref(xmlNodePtr href) {
    ElementText raw(href);
    return EntryForHref(*this, raw.text, raw.size);
}

void Protocol::parsePropfindPropstat(xmlNodePtr propstat, nodeinfo* entry) {
    for (xmlNodePtr child = propstat->children; child != nullptr; child = child->next)
        if (NameIsNoCase(child, "prop")) parsePropfindProp(child, entry);
}

void Protocol::parsePropfindProp(xmlNodePtr prop, nodeinfo* entry) {
    _FS_FILE& file = entry->file;
    for (xmlNodePtr child = prop->children; child != nullptr; child = child->next) {
        Property property = PropertyNamed(child->name);
        if (property == Property::kResourcetype) {
            bool collection = false;
            for (xmlNodePtr kind = child->children; kind != nullptr; kind = kind->next)
                collection = collection ||
                             (kind->type == XML_ELEMENT_NODE && NameIsNoCase(kind, "collection"));
            TakeResourcetype(*this, file, collection);
        } else if (property == Property::kLength) {
            ElementText length(child);
            entry->hasSize = ReadSize(length.text, file.size);
        } else if (std::string* field = TimeField(file, property)) {
            ElementText value(child);
            TakeTime(field, value.text, value.size);
        }
    }
    FillTimes(file);
}
