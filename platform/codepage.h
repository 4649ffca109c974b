#pragma once
// The legacy "ANSI" code page: the 8-bit or double-byte character set the
// recorder uses for its texts. Conversion goes through iconv.
//
// The code page is one per process. It starts as $QVELNOR_CODEPAGE when that
// names a character set iconv knows, else CP1252. All functions here are
// thread-safe; a conversion running while the code page is changed uses
// either the old or the new one, never a mix.
//
// Stateless multibyte sets (CP949, SHIFT_JIS, GBK, BIG5, ...) and single-byte
// sets are what we expect. A stateful set still yields valid output, but each
// character then carries its own shift sequences.

#include <cstddef>
#include <string>
#include <string_view>

// Returns false, and keeps the current code page, when iconv does not know
// iconvName in both directions.
bool SetAnsiCodePage(const std::string& iconvName);
std::string AnsiCodePage();

// Converts text into out, character by character, up to the first U+0000 or
// the end of the view:
//  - a character without a mapping in the code page, and a lone surrogate,
//    becomes "#" (no best-fit substitutes);
//  - conversion stops before the first character whose bytes do not fit in
//    outSize - 1 bytes, so a multibyte character is never split;
//  - when outSize > 0, out[written .. outSize) is zero-filled, so the result
//    is always NUL-terminated.
// Returns the bytes written, without the terminator. out may be null only
// when outSize is 0.
std::size_t WideToAnsi(std::u16string_view text, char* out, std::size_t outSize);

// Converts bytes up to the first NUL or maxBytes, whichever comes first; never
// reads beyond bytes[maxBytes - 1]. Undecodable bytes (and a multibyte
// character cut off at the end) become U+FFFD. bytes may be null when
// maxBytes is 0.
std::u16string AnsiToWide(const char* bytes, std::size_t maxBytes);
