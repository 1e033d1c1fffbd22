#include "xml/XmlFile.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "file/AtomicFile.h"

namespace xmlfile {

namespace {

// NULs after a text handed to TinyXML: more than the longest UTF-8 step.
constexpr size_t kUtf8Padding = 8;

// Moves i past the end marker, counting lines; to the end when it is missing.
void skipPast(const std::string& text, size_t& i, const char* marker, int& row) {
    const size_t end = text.find(marker, i);
    const size_t stop = end == std::string::npos ? text.size() : end + std::strlen(marker);
    for (; i < stop; ++i)
        if (text[i] == '\n')
            ++row;
}

bool startsAt(const std::string& text, size_t i, const char* prefix) {
    return text.compare(i, std::strlen(prefix), prefix) == 0;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

int nestingDepth(const std::string& text, int limit, int& row) {
    int depth = 0, deepest = 0, line = 1;
    row = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n')
            ++line;
        if (c != '<') {
            ++i;
            continue;
        }
        if (startsAt(text, i, "<!--")) {
            skipPast(text, i, "-->", line);
        } else if (startsAt(text, i, "<![CDATA[")) {
            skipPast(text, i, "]]>", line);
        } else if (startsAt(text, i, "<?")) {
            skipPast(text, i, "?>", line);
        } else if (startsAt(text, i, "<!")) {
            skipPast(text, i, ">", line);
        } else if (startsAt(text, i, "</")) {
            skipPast(text, i, ">", line);
            if (depth > 0)
                --depth;
        } else {
            // A start tag: up to its '>', outside quoted attribute values
            // (a quote opens a value only right after '=').
            const int tagRow = line;
            size_t j = i + 1;
            bool afterEquals = false;
            while (j < text.size() && text[j] != '>') {
                const char t = text[j];
                if (t == '\n')
                    ++line;
                if (afterEquals && (t == '"' || t == '\'')) {
                    ++j;
                    while (j < text.size() && text[j] != t) {
                        if (text[j] == '\n')
                            ++line;
                        ++j;
                    }
                    afterEquals = false;
                } else if (t == '=') {
                    afterEquals = true;
                } else if (!isBlank(t)) {
                    afterEquals = false;
                }
                ++j;
            }
            const bool selfClosing = j < text.size() && j > i + 1 && text[j - 1] == '/';
            if (!selfClosing && ++depth > deepest) {
                deepest = depth;
                row = tagRow;
                if (deepest > limit)
                    return deepest;
            }
            i = j + 1;
        }
    }
    return deepest;
}

Result parse(const std::string& text, TiXmlDocument& doc, TiXmlEncoding encoding) {
    Result result;
    int row = 0;
    if (nestingDepth(text, kMaxDepth, row) > kMaxDepth) {
        result.status = Status::TooDeep;
        result.description = "Elements are nested too deeply.";
        result.row = row;
        return result;
    }
    // TinyXML steps over a UTF-8 character by the length its first byte
    // announces, so a text ending in such a byte is read up to three bytes
    // past its terminating NUL. The copy it parses ends in enough NULs to stop
    // it there.
    std::string padded;
    padded.reserve(text.size() + kUtf8Padding);
    padded = text;
    padded.append(kUtf8Padding, '\0');
    doc.Parse(padded.c_str(), nullptr, encoding);
    if (doc.Error()) {
        result.status = Status::ParseError;
        result.description = doc.ErrorDesc();
        result.row = doc.ErrorRow();
    }
    return result;
}

bool readFile(const std::string& path, std::string& text) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) > kMaxFileSize)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.assign(static_cast<size_t>(info.st_size), '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return !in.bad();
}

Result load(const std::string& path, TiXmlDocument& doc, TiXmlEncoding encoding) {
    std::string raw;
    if (!readFile(path, raw)) {
        Result result;
        result.status = Status::CannotOpen;
        result.description = "Failed to open file";
        return result;
    }
    // Line ends as TinyXML's own LoadFile leaves them: "\r\n" and "\r" become "\n".
    std::string text;
    text.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') {
            text += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
        } else {
            text += raw[i];
        }
    }
    return parse(text, doc, encoding);
}

bool save(TiXmlDocument& doc, const std::string& path) {
    const std::string part = atomicfile::partName(path);
    if (!doc.SaveFile(part.c_str())) {
        std::remove(part.c_str());
        return false;
    }
    return atomicfile::commit(part, path);
}

}  // namespace xmlfile
