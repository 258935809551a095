#pragma once
// A small streaming XML tokenizer for the path files (KML, GPX): it hands out start
// tags, end tags and character data one at a time, without building a tree. It skips
// comments, processing instructions and the document type declaration, hands CDATA
// sections out as character data, and reads attributes in either quote style. It is
// lenient where real files are sloppy (end tags need not match, an unclosed element at
// the end of the text is fine) and strict only where it would otherwise have to guess:
// markup cut off by the end of the text is an Error naming the source and line.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace trajix::route {

struct XmlToken {
    enum class Kind { StartTag, EndTag, Text, End };
    Kind kind = Kind::End;
    std::string_view name;        ///< local name of a tag, prefix removed ("gx:Track" gives "Track")
    std::string_view attributes;  ///< raw attribute text of a start tag
    std::string_view text;        ///< raw character data (entities not decoded; CDATA verbatim)
    std::size_t offset = 0;       ///< byte offset of the token in the text
};

class XmlTokenizer {
public:
    /// text must outlive the tokenizer and its tokens; source names it in messages.
    XmlTokenizer(std::string_view text, std::string_view source) : text_(text), source_(source) {}

    /// The next token; Kind::End at the end of the text, and from then on. An empty
    /// element (<a/>) gives a StartTag followed by its EndTag.
    XmlToken next();

    /// 1-based line number of a byte offset, for messages.
    std::size_t lineOf(std::size_t offset) const;

private:
    [[noreturn]] void cutOff(std::string_view what, std::size_t offset) const;

    std::string_view text_;
    std::string_view source_;
    std::size_t pos_ = 0;
    std::optional<XmlToken> pendingEnd_;
};

/// The value of the attribute named localName (any prefix) in a start tag's attribute
/// text, with entities decoded; nullopt when the tag has no such attribute.
std::optional<std::string> xmlAttribute(std::string_view attributes, std::string_view localName);

/// Character data with the predefined entities (&lt; &gt; &amp; &quot; &apos;) and
/// character references (&#65; &#x41;) decoded; other entities are left as written.
std::string xmlDecode(std::string_view text);

/// text without leading and trailing blanks (space, tab, CR, LF).
std::string_view xmlTrim(std::string_view text);

}  // namespace trajix::route
