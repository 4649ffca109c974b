#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/codepage.h"
#include "platform/textconv.h"

namespace {

// Protects against reading a device or a runaway file into memory.
constexpr off_t kMaxFileBytes = off_t{16} * 1024 * 1024;
constexpr std::size_t kMaxAnsiCharBytes = 16;

enum class Encoding { Utf8, Utf8Bom, Utf16Le, Utf16Be, Ansi };

struct Line {
    std::string body;  // raw bytes without the line end
    std::string end;   // raw bytes of the line end ("" on a last line without one)
    std::u16string text;
};

struct Document {
    Encoding encoding = Encoding::Utf8;
    bool crlf = true;
    std::vector<Line> lines;
};

enum class LoadResult { Ok, Missing, Failed };

std::string_view Bom(Encoding e) {
    switch (e) {
        case Encoding::Utf8Bom:
            return "\xEF\xBB\xBF";
        case Encoding::Utf16Le:
            return "\xFF\xFE";
        case Encoding::Utf16Be:
            return "\xFE\xFF";
        default:
            return {};
    }
}

bool IsUtf16(Encoding e) {
    return e == Encoding::Utf16Le || e == Encoding::Utf16Be;
}

bool ValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t used = 0;
        if (DecodeUtf8(bytes, i, &used) == 0xFFFD && bytes.substr(i, used) != "\xEF\xBF\xBD") {
            return false;
        }
        i += used;
    }
    return true;
}

std::u16string Decode(Encoding e, std::string_view bytes) {
    std::u16string out;
    switch (e) {
        case Encoding::Utf16Le:
        case Encoding::Utf16Be:
            out.reserve(bytes.size() / 2);
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                const auto a = static_cast<unsigned char>(bytes[i]);
                const auto b = static_cast<unsigned char>(bytes[i + 1]);
                out.push_back(
                    static_cast<char16_t>(e == Encoding::Utf16Le ? a | (b << 8) : (a << 8) | b));
            }
            return out;
        case Encoding::Ansi:
            return AnsiToWide(bytes.data(), bytes.size());
        default:
            return FromUtf8(bytes);
    }
}

std::string Encode(Encoding e, std::u16string_view text) {
    std::string out;
    switch (e) {
        case Encoding::Utf16Le:
        case Encoding::Utf16Be:
            out.reserve(text.size() * 2);
            for (char16_t u : text) {
                const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
                out.push_back(e == Encoding::Utf16Le ? lo : hi);
                out.push_back(e == Encoding::Utf16Le ? hi : lo);
            }
            return out;
        case Encoding::Ansi: {
            out.resize(text.size() * kMaxAnsiCharBytes + 1);
            out.resize(WideToAnsi(text, out.data(), out.size()));
            return out;
        }
        default:
            return ToUtf8(text);
    }
}

std::string LineEnd(const Document& doc) {
    return Encode(doc.encoding, doc.crlf ? u"\r\n" : u"\n");
}

LoadResult ReadFile(const std::string& path, std::string* bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    }
    struct stat st {};
    LoadResult result = LoadResult::Failed;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxFileBytes) {
        bytes->resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        result = LoadResult::Ok;
        while (done < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                result = LoadResult::Failed;
                break;
            }
            if (n == 0) {  // shrank while we read
                bytes->resize(done);
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return result;
}

LoadResult Load(const std::string& path, Document* doc) {
    std::string bytes;
    const LoadResult r = ReadFile(path, &bytes);
    if (r != LoadResult::Ok) {
        return r;
    }
    std::string_view body(bytes);
    for (Encoding e : {Encoding::Utf8Bom, Encoding::Utf16Le, Encoding::Utf16Be}) {
        if (body.substr(0, Bom(e).size()) == Bom(e)) {
            doc->encoding = e;
            body.remove_prefix(Bom(e).size());
            break;
        }
    }
    if (doc->encoding == Encoding::Utf8 && !ValidUtf8(body)) {
        doc->encoding = Encoding::Ansi;
    }

    // Split on line feeds, in code units of the encoding. In the double-byte
    // ANSI sets a trail byte is never 0x0A, so a byte search is safe there.
    const std::size_t unit = IsUtf16(doc->encoding) ? 2 : 1;
    const std::string lf = Encode(doc->encoding, u"\n");
    const std::string cr = Encode(doc->encoding, u"\r");
    bool styleKnown = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i + unit <= body.size(); i += unit) {
        if (body.substr(i, unit) != lf) {
            continue;
        }
        std::size_t contentEnd = i;
        if (contentEnd >= start + unit && body.substr(contentEnd - unit, unit) == cr) {
            contentEnd -= unit;
        }
        if (!styleKnown) {
            doc->crlf = contentEnd != i;
            styleKnown = true;
        }
        Line line;
        line.body = std::string(body.substr(start, contentEnd - start));
        line.end = std::string(body.substr(contentEnd, i + unit - contentEnd));
        line.text = Decode(doc->encoding, line.body);
        doc->lines.push_back(std::move(line));
        start = i + unit;
    }
    if (start < body.size()) {
        Line line;
        line.body = std::string(body.substr(start));
        line.text = Decode(doc->encoding, line.body);
        doc->lines.push_back(std::move(line));
    }
    return LoadResult::Ok;
}

// --- Line grammar -----------------------------------------------------------

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsQuote(char16_t c) {
    return c == u'"' || c == u'\'';
}

std::u16string_view Unquote(std::u16string_view v) {
    if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

char16_t Fold(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x400 && c <= 0x40F) {
        return static_cast<char16_t>(c + 0x50);
    }
    return c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

struct Parsed {
    enum Kind { Other, Section, Key } kind = Other;
    std::u16string_view name;    // section name or key, trimmed
    std::u16string_view value;   // trimmed and unquoted
    std::size_t valueStart = 0;  // offset in the line of the raw value, after blanks
};

Parsed ParseLine(std::u16string_view text) {
    Parsed p;
    const std::u16string_view t = Trim(text);
    if (t.empty() || t.front() == u';' || t.front() == u'#') {
        return p;
    }
    if (t.front() == u'[') {
        const std::u16string_view inner = t.substr(1);
        p.kind = Parsed::Section;
        p.name = Trim(inner.substr(0, inner.find(u']')));
        return p;
    }
    const std::size_t eq = text.find(u'=');
    if (eq == std::u16string_view::npos) {
        return p;
    }
    p.name = Trim(text.substr(0, eq));
    if (p.name.empty()) {
        return p;
    }
    p.kind = Parsed::Key;
    p.valueStart = eq + 1;
    while (p.valueStart < text.size() && IsBlank(text[p.valueStart]))
        ++p.valueStart;
    p.value = Unquote(Trim(text.substr(eq + 1)));
    return p;
}

// Index of the header of the first section called name, or nullopt.
std::optional<std::size_t> FindSection(const Document& doc, std::u16string_view name) {
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        const Parsed p = ParseLine(doc.lines[i].text);
        if (p.kind == Parsed::Section && SameName(p.name, name)) {
            return i;
        }
    }
    return std::nullopt;
}

// One past the last line of the section whose header is at header.
std::size_t SectionEnd(const Document& doc, std::size_t header) {
    std::size_t i = header + 1;
    while (i < doc.lines.size() && ParseLine(doc.lines[i].text).kind != Parsed::Section)
        ++i;
    return i;
}

std::optional<std::u16string> Lookup(std::u16string_view section, std::u16string_view key,
                                     const std::string& path) {
    Document doc;
    if (Load(path, &doc) != LoadResult::Ok) {
        return std::nullopt;
    }
    const std::u16string_view s = Trim(section), k = Trim(key);
    const std::optional<std::size_t> header = FindSection(doc, s);
    if (!header) {
        return std::nullopt;
    }
    const std::size_t end = SectionEnd(doc, *header);
    for (std::size_t i = *header + 1; i < end; ++i) {
        const Parsed p = ParseLine(doc.lines[i].text);
        if (p.kind == Parsed::Key && SameName(p.name, k)) {
            return std::u16string(p.value);
        }
    }
    return std::nullopt;
}

// --- Writing ----------------------------------------------------------------

bool HasLineBreak(std::u16string_view s) {
    return s.find_first_of(u"\r\n") != std::u16string_view::npos;
}

std::u16string_view UpToNul(std::u16string_view s) {
    return s.substr(0, s.find(u'\0'));
}

std::u16string QuotedIfNeeded(std::u16string_view v) {
    const bool needs =
        !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) ||
                       (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()));
    return needs ? u"\"" + std::u16string(v) + u"\"" : std::u16string(v);
}

Line MakeLine(const Document& doc, std::u16string text) {
    Line line;
    line.body = Encode(doc.encoding, text);
    line.end = LineEnd(doc);
    line.text = std::move(text);
    return line;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool Save(const std::string& path, const Document& doc, bool ownerOnly) {
    // Write through a symbolic link rather than replacing it.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            return false;
        }
        target = real;
        std::free(real);
    }
    const bool existed = ::stat(target.c_str(), &st) == 0;
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";

    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::string bytes(Bom(doc.encoding));
    for (const Line& line : doc.lines) {
        bytes += line.body;
        bytes += line.end;
    }
    const mode_t mode = existed ? (st.st_mode & 07777) : (ownerOnly ? 0600 : 0644);
    bool ok = ::fchmod(fd, mode) == 0;
    if (existed && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        [[maybe_unused]] const int ignored = ::fchown(fd, st.st_uid, st.st_gid);  // best effort
    }
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

std::u16string GetPrivateProfileString(std::u16string_view section, std::u16string_view key,
                                       std::u16string_view defaultValue, std::size_t bufferChars,
                                       const std::string& path) {
    if (bufferChars == 0) {
        return {};
    }
    const std::optional<std::u16string> found = Lookup(section, key, path);
    std::u16string result = found ? *found : std::u16string(defaultValue);
    if (result.size() > bufferChars - 1) {
        result.resize(bufferChars - 1);
    }
    return result;
}

int GetPrivateProfileInt(std::u16string_view section, std::u16string_view key, int defaultValue,
                         const std::string& path) {
    const std::optional<std::u16string> found = Lookup(section, key, path);
    if (!found) {
        return defaultValue;
    }
    std::u16string_view v = *found;
    while (!v.empty() && IsBlank(v.front()))
        v.remove_prefix(1);
    bool negative = false;
    if (!v.empty() && (v.front() == u'-' || v.front() == u'+')) {
        negative = v.front() == u'-';
        v.remove_prefix(1);
    }
    long long n = 0;
    for (char16_t c : v) {
        if (c < u'0' || c > u'9') {
            break;
        }
        n = n * 10 + (c - u'0');
        if (n > static_cast<long long>(INT_MAX) + 1) {
            n = static_cast<long long>(INT_MAX) + 1;
        }
    }
    n = negative ? -n : n;
    return static_cast<int>(n > INT_MAX ? INT_MAX : n);
}

bool WritePrivateProfileString(std::u16string_view section, std::u16string_view key,
                               const std::u16string* value, const std::string& path,
                               bool ownerOnly) {
    const std::u16string_view s = Trim(UpToNul(section));
    const std::u16string_view k = Trim(UpToNul(key));
    const std::u16string_view v = value ? UpToNul(*value) : std::u16string_view();
    if (k.empty() || k.find(u'=') != std::u16string_view::npos || k.front() == u'[' ||
        k.front() == u';' || k.front() == u'#' || s.find(u']') != std::u16string_view::npos ||
        HasLineBreak(s) || HasLineBreak(k) || HasLineBreak(v)) {
        return false;
    }

    std::lock_guard<std::mutex> lock(WriteMutex());
    Document doc;
    const LoadResult loaded = Load(path, &doc);
    if (loaded == LoadResult::Failed) {
        return false;
    }
    const std::optional<std::size_t> header = FindSection(doc, s);

    if (value == nullptr) {
        if (!header) {
            return true;
        }
        const std::size_t end = SectionEnd(doc, *header);
        std::size_t removed = 0;
        for (std::size_t i = end; i-- > *header + 1;) {
            const Parsed p = ParseLine(doc.lines[i].text);
            if (p.kind == Parsed::Key && SameName(p.name, k)) {
                doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(i));
                ++removed;
            }
        }
        return removed == 0 || Save(path, doc, ownerOnly);
    }

    const std::u16string stored = QuotedIfNeeded(v);
    // Gives a line without a line end (the last of the file) its end.
    const auto terminate = [&doc](std::size_t i) {
        if (doc.lines[i].end.empty()) {
            doc.lines[i].end = LineEnd(doc);
        }
    };

    if (header) {
        const std::size_t end = SectionEnd(doc, *header);
        std::size_t insertAfter = *header;
        for (std::size_t i = *header + 1; i < end; ++i) {
            const Parsed p = ParseLine(doc.lines[i].text);
            if (p.kind != Parsed::Key) {
                continue;
            }
            if (SameName(p.name, k)) {
                Line& line = doc.lines[i];
                std::u16string text = line.text.substr(0, p.valueStart) + stored;
                if (text == line.text) {
                    return true;
                }
                line.body = Encode(doc.encoding, text);
                line.text = std::move(text);
                return Save(path, doc, ownerOnly);
            }
            insertAfter = i;
        }
        terminate(insertAfter);
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1,
                         MakeLine(doc, std::u16string(k) + u"=" + stored));
        return Save(path, doc, ownerOnly);
    }

    if (!doc.lines.empty()) {
        terminate(doc.lines.size() - 1);
        if (!Trim(doc.lines.back().text).empty()) {
            doc.lines.push_back(MakeLine(doc, u""));
        }
    }
    doc.lines.push_back(MakeLine(doc, u"[" + std::u16string(s) + u"]"));
    doc.lines.push_back(MakeLine(doc, std::u16string(k) + u"=" + stored));
    return Save(path, doc, ownerOnly);
}
