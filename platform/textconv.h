#pragma once
// UTF-16 <-> UTF-8. Strings inside the program are UTF-16; file names, the
// environment and most libraries speak UTF-8.
//
// Both directions are total: malformed input (lone surrogates, bad or
// overlong UTF-8, code points above U+10FFFF) becomes U+FFFD, one per
// maximal ill-formed subsequence, and never fails. Thread-safe (pure).

#include <string>
#include <string_view>

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Appends code point cp (which must be a scalar value, not a surrogate) in
// UTF-16 or UTF-8. Shared by the other converters of this folder.
void AppendUtf16(std::u16string& out, char32_t cp);
void AppendUtf8(std::string& out, char32_t cp);

// Decodes one UTF-8 sequence at text[pos]. Returns the code point, or U+FFFD
// for an ill-formed sequence; *used receives the bytes consumed (>= 1).
char32_t DecodeUtf8(std::string_view text, std::size_t pos, std::size_t* used);
