// Loading XML files that come from users, safely: TinyXML parses (and frees)
// elements recursively, so a hostile file nested tens of thousands of levels
// deep would overflow the stack. Such files, directories, unreadable and
// oversized files are refused here, before TinyXML sees them.
#pragma once

#include <tinyxml.h>

#include <cstddef>
#include <string>

namespace xmlfile {

// Far above the few levels any of the tools' files use.
constexpr int kMaxDepth = 256;
// Far above any configuration, calibration or catalogue file.
constexpr size_t kMaxFileSize = 64u * 1024 * 1024;

enum class Status {
    Ok,
    CannotOpen,  // missing, a directory, unreadable or too large
    TooDeep,     // elements nested deeper than kMaxDepth
    ParseError,  // TinyXML refused the text
};

struct Result {
    Status status = Status::Ok;
    // The reason in words (TinyXML's own description for a parse error).
    std::string description;
    // The line where the problem was found (1-based; 0 when none).
    int row = 0;

    bool ok() const { return status == Status::Ok; }
};

// The deepest element nesting of an XML text, counted the way TinyXML reads
// tags (comments, CDATA, declarations and quoted attribute values skipped).
// Stops once limit is passed; row receives the line of the deepest tag seen.
int nestingDepth(const std::string& text, int limit, int& row);

// Parses text into doc after the depth check.
Result parse(const std::string& text, TiXmlDocument& doc, TiXmlEncoding encoding = TIXML_DEFAULT_ENCODING);

// Reads a regular file of at most kMaxFileSize bytes whole; false otherwise.
bool readFile(const std::string& path, std::string& text);

// Loads a file as TiXmlDocument::LoadFile does (line ends made "\n"), after
// the checks above.
Result load(const std::string& path, TiXmlDocument& doc, TiXmlEncoding encoding = TIXML_DEFAULT_ENCODING);

// Saves the document under path whole or not at all (written beside it and
// renamed into place); false when it could not be written.
bool save(TiXmlDocument& doc, const std::string& path);

}  // namespace xmlfile
