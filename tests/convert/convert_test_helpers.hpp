#pragma once
// Helpers of the convert tests: logger files built from rows, and an NMEA check written
// independently of the writers (its own checksum, field split and time parse).
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace trajix::test {

/// A logger file with the given channel names and data lines (the first data line is
/// the one the import discards).
inline std::string kelText(const std::vector<std::string>& dataLines, int channels = 7)
{
    static const char* names[] = {"index", "time", "lat", "lon", "speed", "heading", "height", "extra1", "extra2"};
    std::string text = "KELO data logger\r\n[header]\r\n";
    for (int i = 0; i < channels; ++i) text += std::string(names[i]) + "\r\n";
    text +=
        "[channel units]\r\n-\r\nhhmmss\r\nmin\r\nmin\r\nkm/h\r\ndeg\r\nm\r\n[comments]\r\ntest drive\r\n[data]\r\n";
    for (const auto& line : dataLines) text += line + "\r\n";
    return text;
}

struct ParsedSentence {
    std::string type;                 ///< "GGA", "VTG"
    std::vector<std::string> fields;  ///< fields after the type
};

/// Splits an NMEA file into sentences, failing the test on any line that is not a
/// well-formed sentence with a correct checksum and a CR LF end.
inline std::vector<ParsedSentence> parseNmeaFile(std::string_view bytes)
{
    std::vector<ParsedSentence> sentences;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string_view::npos) {
            ADD_FAILURE() << "last line has no CR LF: " << bytes.substr(start);
            break;
        }
        const std::string_view line = bytes.substr(start, end - start);
        start = end + 2;
        const std::size_t star = line.find('*');
        if (line.empty() || line[0] != '$' || star == std::string_view::npos || star + 3 != line.size()) {
            ADD_FAILURE() << "malformed sentence: " << line;
            continue;
        }
        unsigned sum = 0;
        for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
        const unsigned stated =
            static_cast<unsigned>(std::strtoul(std::string(line.substr(star + 1)).c_str(), nullptr, 16));
        EXPECT_EQ(sum, stated) << line;
        ParsedSentence sentence;
        std::string body(line.substr(1, star - 1));
        std::size_t from = 0;
        std::vector<std::string> parts;
        for (;;) {
            const std::size_t comma = body.find(',', from);
            parts.push_back(body.substr(from, comma - from));
            if (comma == std::string::npos) break;
            from = comma + 1;
        }
        EXPECT_EQ(parts[0].substr(0, 2), "GP") << line;
        sentence.type = parts[0].substr(2);
        sentence.fields.assign(parts.begin() + 1, parts.end());
        if (sentence.type == "GGA") {
            EXPECT_EQ(sentence.fields.size(), 14u) << line;
        }
        if (sentence.type == "VTG") {
            EXPECT_EQ(sentence.fields.size(), 9u) << line;
        }
        sentences.push_back(std::move(sentence));
    }
    return sentences;
}

/// Seconds of day of an hhmmss.ss field.
inline double nmeaSeconds(const std::string& field)
{
    return std::stoi(field.substr(0, 2)) * 3600.0 + std::stoi(field.substr(2, 2)) * 60.0 + std::stod(field.substr(4));
}

inline std::vector<ParsedSentence> onlyType(const std::vector<ParsedSentence>& all, std::string_view type)
{
    std::vector<ParsedSentence> some;
    for (const auto& s : all)
        if (s.type == type) some.push_back(s);
    return some;
}

/// Compares with a golden file; TRAJIX_UPDATE_GOLDEN=1 rewrites it instead.
inline void expectGolden(const std::string& actual, std::string_view name)
{
    const auto path = dataFile(std::string("convert/") + std::string(name));
    if (std::getenv("TRAJIX_UPDATE_GOLDEN")) writeFileBytes(path, actual);
    EXPECT_EQ(actual, readFileBytes(path)) << "golden file " << path;
}

}  // namespace trajix::test
