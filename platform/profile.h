#pragma once
// Profile (INI) files read and written with the lookup rules of the classic
// private-profile functions.
//
// Lookup rules:
//  - "[name]" starts a section; "key = value" lines belong to the section
//    above them; lines before the first section belong to none. Lines whose
//    first non-blank character is ';' or '#' are comments; other lines
//    without '=' are ignored (and kept on writes).
//  - Section names and keys match without regard to case (ASCII, Latin-1,
//    basic Greek and Cyrillic letters). Blanks around section names, keys and
//    values are trimmed; a value wrapped in a matching pair of '"' or '\''
//    loses that pair.
//  - The first matching section wins, and in it the first matching key; a
//    later duplicate section is never searched.
//
// Files are read as UTF-8 (with or without BOM) or UTF-16 LE/BE with BOM, with
// CRLF or LF line ends. A file without BOM that is not valid UTF-8 is read in
// the ANSI code page (codepage.h). Files larger than 16 MiB, and anything that
// is not a regular file, count as unreadable.
//
// Paths are UTF-8 file-system paths. Every function is thread-safe; writes
// within the process are serialised, and readers see either the old or the
// new file, never a half-written one.

#include <cstddef>
#include <string>
#include <string_view>

// Returns the value, or defaultValue when the file, section or key is
// missing or unreadable, cut to bufferChars - 1 UTF-16 units (empty when
// bufferChars is 0).
std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::size_t bufferChars,
                                       const std::string& path);

// Returns defaultValue when the key is missing; otherwise the integer of the
// value's leading decimal digits after optional blanks and one sign, 0 when
// there are none, saturated to the int range.
int GetPrivateProfileInt(std::u16string_view section, std::u16string_view key, int defaultValue,
                         const std::string& path);

// Sets key in section to *value, or deletes every occurrence of the key in
// that section when value is null. Every other line keeps its bytes; a new key
// goes after the last key of its section (right after the header when it has
// none), a new section at the end of the file. A value with leading or
// trailing blanks, or wrapped in a pair of quotes, is written in double
// quotes so that it reads back as given.
//
// The file keeps its encoding and line-end style; a new file is UTF-8 without
// BOM with CRLF line ends, mode 0600 when ownerOnly else 0644. An existing
// file keeps its mode (ownerOnly is then ignored). The new content is written
// to a temporary file in the same folder and renamed over the old one.
//
// Returns true on success, including a deletion that found nothing to delete
// (no file is then created). Returns false, leaving the old file untouched,
// when the file cannot be read or written, or when the names or the value
// cannot be represented: an empty key, a key with '=' or starting with '[',
// ';' or '#', a section with ']', or any line break.
bool WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               const std::u16string* value, const std::string& path,
                               bool ownerOnly = false);
