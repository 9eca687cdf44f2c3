#pragma once

// A NAME of some 16 MB cut into millions of pieces: between empty comments,
// or in and between CDATA sections. Read whole, it is the pieces' text joined.

#include <cstddef>
#include <string>
#include <vector>

namespace kevra_test {

struct CutName {
    const char* label;
    const char* piece;   // one piece as the document holds it
    std::size_t pieces;
    const char* text;    // the text of one piece
};

// The two ways of cutting a name; each makes a document of over 16,000,000 bytes.
inline const std::vector<CutName>& cut_names()
{
    static const std::vector<CutName> cases = {
        {"comments", "a<!---->", 2000000, "a"},
        {"CDATA sections", "a<![CDATA[b]]>", 1200000, "ab"},
    };
    return cases;
}

// `piece` written `count` times.
inline std::string repeated(const std::string& piece, std::size_t count)
{
    std::string text;
    text.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text;
}

}  // namespace kevra_test

