// Reading PROPFIND answers: the hardened XML parse shared by listing and stat.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <memory>

// Parses a multistatus body. Returns null for a body that is not well-formed
// XML and for any document that carries a DTD: a multistatus never needs one,
// and refusing it keeps entity tricks (external files, expansion bombs) out.
// The network is never used and nothing is written to stderr.
std::shared_ptr<xmlDoc> ParseMultistatus(const char* data, size_t size);
