#include "protocol.h"
// PLACEHOLDER: replaced by the real implementation.
std::string URLDecode(const char* text) { return text; }
std::string iconv_covert(std::string, std::string, std::string text, int*) { return text; }
nodeinfo* Protocol::nodeinfoNew() { return new nodeinfo(); }
void Protocol::nodeinfoFree(nodeinfo* chain) { while (chain) { nodeinfo* n = chain->next; delete chain; chain = n; } }
nodeinfo* Protocol::parsePropfindAnswer(xmlNodePtr) { return nullptr; }
nodeinfo* Protocol::parsePropfindResponse(xmlNodePtr) { return nullptr; }
nodeinfo* Protocol::parsePropfindHref(xmlNodePtr) { return nullptr; }
void Protocol::parsePropfindPropstat(xmlNodePtr, nodeinfo*) {}
void Protocol::parsePropfindProp(xmlNodePtr, nodeinfo*) {}
