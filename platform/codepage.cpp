#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/textconv.h"

namespace {

constexpr char kDefaultCodePage[] = "CP1252";
constexpr char32_t kReplacement = 0xFFFD;
constexpr char kNoMapping = '#';
// Longest encoding of one character in any set iconv offers (GB18030 and
// UTF-8 need 4; stateful sets add shift sequences).
constexpr std::size_t kMaxCharBytes = 16;

// One iconv descriptor, closed on every path.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) {
            iconv_close(m_cd);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

bool Known(const std::string& name) {
    return Converter(name.c_str(), "UTF-32LE").ok() && Converter("UTF-32LE", name.c_str()).ok();
}

std::mutex& Mutex() {
    static std::mutex m;
    return m;
}

std::string& CurrentLocked() {
    static std::string name = [] {
        const char* env = std::getenv("QVELNOR_CODEPAGE");
        return env && *env && Known(env) ? std::string(env) : std::string(kDefaultCodePage);
    }();
    return name;
}

// Encodes one code point, then returns the descriptor to its initial state,
// so that the bytes stand alone. Returns the byte count, or 0 when the code
// page has no mapping for cp.
std::size_t EncodeOne(iconv_t cd, char32_t cp, char* dst) {
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>((cp >> 24) & 0xFF)};
    char* inPtr = in;
    std::size_t inLeft = sizeof in;
    char* outPtr = dst;
    std::size_t outLeft = kMaxCharBytes;
    const bool converted =
        iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    const bool flushed =
        iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    if (!converted || !flushed || inLeft != 0) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    return kMaxCharBytes - outLeft;
}

}  // namespace

bool SetAnsiCodePage(const std::string& iconvName) {
    if (iconvName.empty() || !Known(iconvName)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(Mutex());
    CurrentLocked() = iconvName;
    return true;
}

std::string AnsiCodePage() {
    std::lock_guard<std::mutex> lock(Mutex());
    return CurrentLocked();
}

std::size_t WideToAnsi(std::u16string_view text, char* out, std::size_t outSize) {
    if (outSize == 0 || out == nullptr) {
        return 0;
    }
    Converter conv(AnsiCodePage().c_str(), "UTF-32LE");
    const std::size_t limit = outSize - 1;
    std::size_t written = 0;
    for (std::size_t i = 0; i < text.size() && text[i] != 0; ++i) {
        char32_t cp = text[i];
        bool valid = true;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            valid = false;
        }
        char bytes[kMaxCharBytes];
        std::size_t n = 0;
        if (valid && cp < 0x80 && !conv.ok()) {
            // Without a working converter, ASCII still goes through.
            bytes[0] = static_cast<char>(cp);
            n = 1;
        } else if (valid && conv.ok()) {
            n = EncodeOne(conv.get(), cp, bytes);
        }
        if (n == 0) {
            bytes[0] = kNoMapping;
            n = 1;
        }
        if (n > limit - written) {
            break;
        }
        std::memcpy(out + written, bytes, n);
        written += n;
    }
    std::memset(out + written, 0, outSize - written);
    return written;
}

std::u16string AnsiToWide(const char* bytes, std::size_t maxBytes) {
    std::u16string result;
    if (bytes == nullptr || maxBytes == 0) {
        return result;
    }
    const void* nul = std::memchr(bytes, 0, maxBytes);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : maxBytes;
    result.reserve(length);

    Converter conv("UTF-32LE", AnsiCodePage().c_str());
    char* inPtr = const_cast<char*>(bytes);  // iconv's signature; it does not write
    std::size_t inLeft = length;
    char buffer[256];
    while (inLeft > 0) {
        if (!conv.ok()) {
            const auto b = static_cast<unsigned char>(*inPtr);
            AppendUtf16(result, b < 0x80 ? b : kReplacement);
            ++inPtr;
            --inLeft;
            continue;
        }
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
        for (const char* p = buffer; p + 4 <= outPtr; p += 4) {
            const auto u = [p](int k) {
                return static_cast<char32_t>(static_cast<unsigned char>(p[k]));
            };
            const char32_t cp = u(0) | (u(1) << 8) | (u(2) << 16) | (u(3) << 24);
            AppendUtf16(result,
                        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF ? kReplacement : cp);
        }
        if (error == EILSEQ || error == EINVAL) {
            // Undecodable, or cut off at the end: one replacement per byte skipped.
            result.push_back(static_cast<char16_t>(kReplacement));
            ++inPtr;
            --inLeft;
        } else if (error != 0 && error != E2BIG) {
            break;
        }
    }
    return result;
}
