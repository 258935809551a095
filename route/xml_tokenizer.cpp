// The streaming XML tokenizer of the path readers.
#include "route/xml_tokenizer.hpp"

#include <algorithm>
#include <cstdint>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix::route {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

std::string_view localName(std::string_view name)
{
    if (const auto colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    return name;
}

// The end of a name starting at pos: the first blank, '/', '>' or '='.
std::size_t nameEnd(std::string_view text, std::size_t pos)
{
    while (pos < text.size() && !isBlank(text[pos]) && text[pos] != '/' && text[pos] != '>' && text[pos] != '=') ++pos;
    return pos;
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A character reference's code ("65" or "x41"); nullopt when it is not one.
std::optional<std::uint32_t> characterCode(std::string_view digits)
{
    int base = 10;
    if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
        base = 16;
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t code = 0;
    for (const char c : digits) {
        int value = -1;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        if (value < 0) return std::nullopt;
        code = code * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(value);
    }
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
    return code;
}

}  // namespace

std::size_t XmlTokenizer::lineOf(std::size_t offset) const
{
    offset = std::min(offset, text_.size());
    return 1 + static_cast<std::size_t>(
                   std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

void XmlTokenizer::cutOff(std::string_view what, std::size_t offset) const
{
    throw Error(fmt::format("{} ends inside {} (begun on line {})", source_, what, lineOf(offset)));
}

XmlToken XmlTokenizer::next()
{
    if (pendingEnd_) {
        XmlToken end = *pendingEnd_;
        pendingEnd_.reset();
        return end;
    }
    XmlToken token;
    for (;;) {
        token.offset = pos_;
        if (pos_ >= text_.size()) {
            token.kind = XmlToken::Kind::End;
            return token;
        }
        const std::string_view rest = text_.substr(pos_);
        const bool markup = rest[0] == '<' && rest.size() > 1 &&
                            (isNameStart(rest[1]) || rest[1] == '/' || rest[1] == '!' || rest[1] == '?');
        if (!markup) {
            // Character data up to the next markup; a '<' that starts no markup is data.
            std::size_t end = pos_ + 1;
            for (;;) {
                end = text_.find('<', end);
                if (end == std::string_view::npos || end + 1 >= text_.size()) {
                    end = text_.size();
                    break;
                }
                const char c = text_[end + 1];
                if (isNameStart(c) || c == '/' || c == '!' || c == '?') break;
                ++end;
            }
            token.kind = XmlToken::Kind::Text;
            token.text = text_.substr(pos_, end - pos_);
            pos_ = end;
            return token;
        }
        if (rest.starts_with("<!--")) {
            const auto end = text_.find("-->", pos_ + 4);
            if (end == std::string_view::npos) cutOff("a comment", pos_);
            pos_ = end + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            const auto end = text_.find("]]>", pos_ + 9);
            if (end == std::string_view::npos) cutOff("a CDATA section", pos_);
            token.kind = XmlToken::Kind::Text;
            token.text = text_.substr(pos_ + 9, end - pos_ - 9);
            pos_ = end + 3;
            return token;
        }
        if (rest[1] == '?') {
            const auto end = text_.find("?>", pos_ + 2);
            if (end == std::string_view::npos) cutOff("a processing instruction", pos_);
            pos_ = end + 2;
            continue;
        }
        if (rest[1] == '!') {
            // <!DOCTYPE ...> with an optional internal subset in brackets, whose
            // declarations may hold quoted '>' and '[' characters.
            int depth = 0;
            char quote = 0;
            std::size_t i = pos_ + 2;
            for (; i < text_.size(); ++i) {
                const char c = text_[i];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '[') {
                    ++depth;
                } else if (c == ']') {
                    --depth;
                } else if (c == '>' && depth <= 0) {
                    break;
                }
            }
            if (i >= text_.size()) cutOff("a declaration", pos_);
            pos_ = i + 1;
            continue;
        }
        if (rest[1] == '/') {
            const auto end = text_.find('>', pos_ + 2);
            if (end == std::string_view::npos) cutOff("an end tag", pos_);
            const std::size_t nameBegin = pos_ + 2;
            token.kind = XmlToken::Kind::EndTag;
            token.name = localName(text_.substr(nameBegin, nameEnd(text_, nameBegin) - nameBegin));
            pos_ = end + 1;
            return token;
        }
        // A start tag: its attributes may hold '>' inside quotes.
        const std::size_t nameBegin = pos_ + 1;
        const std::size_t nameStop = nameEnd(text_, nameBegin);
        char quote = 0;
        std::size_t i = nameStop;
        for (; i < text_.size(); ++i) {
            const char c = text_[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        if (i >= text_.size()) cutOff("a start tag", pos_);
        const bool empty = i > nameStop && text_[i - 1] == '/';
        token.kind = XmlToken::Kind::StartTag;
        token.name = localName(text_.substr(nameBegin, nameStop - nameBegin));
        token.attributes = text_.substr(nameStop, (empty ? i - 1 : i) - nameStop);
        pos_ = i + 1;
        if (empty) {
            XmlToken end;
            end.kind = XmlToken::Kind::EndTag;
            end.name = token.name;
            end.offset = token.offset;
            pendingEnd_ = end;
        }
        return token;
    }
}

std::optional<std::string> xmlAttribute(std::string_view attributes, std::string_view wanted)
{
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < attributes.size() && isBlank(attributes[i])) ++i;
    };
    for (;;) {
        skipBlanks();
        if (i >= attributes.size()) return std::nullopt;
        const std::size_t nameBegin = i;
        i = nameEnd(attributes, i);
        if (i == nameBegin) {
            ++i;  // a stray '/' or '>'
            continue;
        }
        const std::string_view name = localName(attributes.substr(nameBegin, i - nameBegin));
        skipBlanks();
        if (i >= attributes.size() || attributes[i] != '=') continue;  // an attribute without a value
        ++i;
        skipBlanks();
        std::string_view value;
        if (i < attributes.size() && (attributes[i] == '"' || attributes[i] == '\'')) {
            const char quote = attributes[i];
            const auto end = attributes.find(quote, i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            value = attributes.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            const std::size_t valueBegin = i;
            while (i < attributes.size() && !isBlank(attributes[i])) ++i;
            value = attributes.substr(valueBegin, i - valueBegin);
        }
        if (name == wanted) return xmlDecode(value);
    }
}

std::string xmlDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, amp - i);
        const auto semicolon = text.find(';', amp + 1);
        const std::string_view entity = semicolon == std::string_view::npos || semicolon - amp > 12
                                            ? std::string_view{}
                                            : text.substr(amp + 1, semicolon - amp - 1);
        std::optional<std::uint32_t> code;
        if (entity == "lt")
            code = '<';
        else if (entity == "gt")
            code = '>';
        else if (entity == "amp")
            code = '&';
        else if (entity == "quot")
            code = '"';
        else if (entity == "apos")
            code = '\'';
        else if (entity.size() > 1 && entity[0] == '#')
            code = characterCode(entity.substr(1));
        if (code) {
            appendUtf8(out, *code);
            i = semicolon + 1;
        } else {
            out += '&';
            i = amp + 1;
        }
    }
    return out;
}

std::string_view xmlTrim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace trajix::route
