// Saving the report atomically.
#pragma once

#include <optional>
#include <string>

#include <libxml/tree.h>

// Saves the document as UTF-8 at path without ever exposing half a file:
// it is written to a temporary file beside the target and renamed over it,
// so a failure leaves any earlier file at path as it was. A link at path
// stays: its target is replaced, unless the kernel's rule for links in
// world-writable sticky directories would not follow it. Returns nothing on
// success, else why it failed; no temporary file is left either way.
std::optional<std::string> save_document_atomically(xmlDocPtr doc, const std::string &path);
