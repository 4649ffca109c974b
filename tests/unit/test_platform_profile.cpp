// Profile (INI) files: lookup rules, in-place writes, encodings, safe saving.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/textconv.h"
#include "tests/test_support.h"

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

enum class Enc { Utf8, Utf8Bom, Utf16Le, Utf16Be };

std::string EncodeAs(Enc enc, const std::u16string& text) {
    std::string out;
    switch (enc) {
        case Enc::Utf8:
            return ToUtf8(text);
        case Enc::Utf8Bom:
            return "\xEF\xBB\xBF" + ToUtf8(text);
        case Enc::Utf16Le:
            out = "\xFF\xFE";
            break;
        case Enc::Utf16Be:
            out = "\xFE\xFF";
            break;
    }
    for (char16_t u : text) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += enc == Enc::Utf16Le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

std::u16string WithLineEnds(std::u16string text, bool crlf) {
    if (!crlf) {
        return text;
    }
    std::u16string out;
    for (char16_t c : text) {
        if (c == u'\n')
            out += u'\r';
        out += c;
    }
    return out;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

const std::u16string kLookupFile =
    u"; a comment before any section\n"
    u"top=outside\n"
    u"[Connect Information]\n"
    u"URL =  recorder.example  \n"
    u"USER=admin\n"
    u"  PASSWORD  =  \"  secret  \"\n"
    u"PORT='8000'\n"
    u"EMPTY=\n"
    u"HALF=\"unbalanced\n"
    u"MIXED=\"a'\n"
    u";COMMENTED=1\n"
    u"#HASHED=1\n"
    u"no equals sign here\n"
    u"[connect information]\n"
    u"USER=second section\n"
    u"ONLYSECOND=x\n"
    u"[Caf\u00C9]\n"
    u"Cl\u00C9=latin1\n"
    u"[\u0414\u0430\u043D\u043D\u044B\u0435]\n"
    u"\u041A\u043B\u044E\u0447=cyrillic\n"
    u"\t[  Spaced  ]  \n"
    u"  k\t=\tv w  \n"
    u"[DUP]\n"
    u"x=1\n"
    u"X=2\n"
    u"[Last]\n"
    u"final=no newline at end";

struct LookupCase {
    const char* name;
    std::u16string section, key, defaultValue;
    std::size_t bufferChars;
    std::u16string expected;
};

const std::vector<LookupCase> kLookupCases = {
    {"trimmed value", u"Connect Information", u"URL", u"-", 260, u"recorder.example"},
    {"section and key ignore case", u"CONNECT INFORMATION", u"user", u"-", 260, u"admin"},
    {"double quotes removed, inner blanks kept", u"Connect Information", u"password", u"-", 260,
     u"  secret  "},
    {"single quotes removed", u"Connect Information", u"PORT", u"-", 260, u"8000"},
    {"empty value is not the default", u"Connect Information", u"EMPTY", u"-", 260, u""},
    {"unbalanced quote kept", u"Connect Information", u"HALF", u"-", 260, u"\"unbalanced"},
    {"mismatched quotes kept", u"Connect Information", u"MIXED", u"-", 260, u"\"a'"},
    {"semicolon comment", u"Connect Information", u";COMMENTED", u"-", 260, u"-"},
    {"hash comment", u"Connect Information", u"#HASHED", u"-", 260, u"-"},
    {"later duplicate section not searched", u"Connect Information", u"ONLYSECOND", u"-", 260,
     u"-"},
    {"missing key", u"Connect Information", u"NOPE", u"dflt", 260, u"dflt"},
    {"missing section", u"Nowhere", u"URL", u"dflt", 260, u"dflt"},
    {"keys before any section belong to none", u"", u"top", u"dflt", 260, u"dflt"},
    {"latin-1 letters ignore case", u"caf\u00E9", u"CL\u00E9", u"-", 260, u"latin1"},
    {"cyrillic letters ignore case", u"\u0434\u0430\u043D\u043D\u044B\u0415",
     u"\u043A\u041B\u042E\u0427", u"-", 260, u"cyrillic"},
    {"blanks around header, key and value", u"Spaced", u"K", u"-", 260, u"v w"},
    {"names given with blanks", u"  Spaced ", u" k ", u"-", 260, u"v w"},
    {"first key wins", u"dup", u"x", u"-", 260, u"1"},
    {"last line without newline", u"last", u"FINAL", u"-", 260, u"no newline at end"},
    {"value cut to buffer", u"Connect Information", u"URL", u"-", 4, u"rec"},
    {"default cut the same way", u"Connect Information", u"NOPE", u"defaultvalue", 5, u"defa"},
    {"buffer of one", u"Connect Information", u"URL", u"-", 1, u""},
    {"buffer of zero", u"Connect Information", u"NOPE", u"dflt", 0, u""},
};

TEST(Profile, LookupRulesInEveryEncodingAndLineEnd) {
    const std::string dir = testing_support::MakeTempDir("profile-lookup");
    const std::pair<Enc, const char*> encodings[] = {{Enc::Utf8, "utf-8"},
                                                     {Enc::Utf8Bom, "utf-8 bom"},
                                                     {Enc::Utf16Le, "utf-16le"},
                                                     {Enc::Utf16Be, "utf-16be"}};
    for (const auto& [enc, encName] : encodings) {
        for (bool crlf : {false, true}) {
            const std::string path = dir + "/lookup.ini";
            WriteBytes(path, EncodeAs(enc, WithLineEnds(kLookupFile, crlf)));
            for (const auto& c : kLookupCases) {
                SCOPED_TRACE(std::string(encName) + (crlf ? " crlf: " : " lf: ") + c.name);
                EXPECT_EQ(
                    GetPrivateProfileString(c.section, c.key, c.defaultValue, c.bufferChars, path),
                    c.expected);
            }
        }
    }
}

TEST(Profile, MissingOrUnreadableFileGivesDefault) {
    const std::string dir = testing_support::MakeTempDir("profile-missing");
    EXPECT_EQ(GetPrivateProfileString(u"S", u"k", u"dflt", 260, dir + "/none.ini"), u"dflt");
    EXPECT_EQ(GetPrivateProfileInt(u"S", u"k", 7, dir + "/none.ini"), 7);
    EXPECT_EQ(GetPrivateProfileString(u"S", u"k", u"dflt", 260, dir), u"dflt");  // a folder
    EXPECT_EQ(GetPrivateProfileString(u"S", u"k", u"dflt", 260, "/dev/zero"), u"dflt");
}

TEST(Profile, FileThatIsNotUtf8IsReadInTheAnsiCodePage) {
    const std::string saved = AnsiCodePage();
    ASSERT_TRUE(SetAnsiCodePage("CP1252"));
    const std::string path = testing_support::MakeTempDir("profile-ansi") + "/ansi.ini";
    WriteBytes(path, "[VIEW]\r\nPAUSE=Arr\xEAt\r\n");
    EXPECT_EQ(GetPrivateProfileString(u"VIEW", u"PAUSE", u"", 260, path), u"Arr\u00EAt");
    SetAnsiCodePage(saved);
}

TEST(Profile, IntegerFromLeadingDigits) {
    const std::string path = testing_support::MakeTempDir("profile-int") + "/int.ini";
    WriteBytes(path,
               "[N]\n"
               "plain=42\nneg=  -17\nplus=+5\ntrailing=12abc\nletters=abc\nempty=\n"
               "hex=0x1F\nbig=99999999999\nsmall=-99999999999\nquoted=\"15\"\nspace=1 2\n"
               "sign=-\n");
    const std::pair<const char16_t*, int> cases[] = {
        {u"plain", 42}, {u"neg", -17}, {u"plus", 5},      {u"trailing", 12},   {u"letters", 0},
        {u"empty", 0},  {u"hex", 0},   {u"big", INT_MAX}, {u"small", INT_MIN}, {u"quoted", 15},
        {u"space", 1},  {u"sign", 0},  {u"missing", 7},
    };
    for (const auto& [key, expected] : cases) {
        SCOPED_TRACE(ToUtf8(key));
        EXPECT_EQ(GetPrivateProfileInt(u"n", key, 7, path), expected);
    }
}

// --- Writing ----------------------------------------------------------------

const std::string kWriteOriginal =
    "; settings\r\n"
    "[A]\r\n"
    "x = 1\r\n"
    "  y=2\r\n"
    "junk line\r\n"
    "\r\n"
    "; about B\r\n"
    "[B]\r\n"
    "z=3\r\n"
    "Z=4\r\n";

struct WriteCase {
    const char* name;
    std::u16string section, key;
    std::optional<std::u16string> value;  // nullopt deletes
    std::string expected;
};

TEST(Profile, WritesInPlaceAndKeepsEveryOtherByte) {
    const std::vector<WriteCase> cases = {
        {"replace keeps spacing", u"a", u"X", u"10",
         "; settings\r\n[A]\r\nx = 10\r\n  y=2\r\njunk line\r\n\r\n; about "
         "B\r\n[B]\r\nz=3\r\nZ=4\r\n"},
        {"new key after the section's last key", u"A", u"new", u"n",
         "; settings\r\n[A]\r\nx = 1\r\n  y=2\r\nnew=n\r\njunk line\r\n\r\n; about "
         "B\r\n[B]\r\nz=3\r\nZ=4\r\n"},
        {"new section at the end", u"C", u"k", u"v", kWriteOriginal + "\r\n[C]\r\nk=v\r\n"},
        {"delete removes every occurrence in the section", u"b", u"z", std::nullopt,
         "; settings\r\n[A]\r\nx = 1\r\n  y=2\r\njunk line\r\n\r\n; about B\r\n[B]\r\n"},
        {"delete of a missing key changes nothing", u"A", u"nope", std::nullopt, kWriteOriginal},
        {"delete in a missing section changes nothing", u"Q", u"x", std::nullopt, kWriteOriginal},
        {"same value changes nothing", u"A", u"y", u"2", kWriteOriginal},
        {"leading blanks are kept by quoting", u"A", u"x", u" pad ",
         "; settings\r\n[A]\r\nx = \" pad \"\r\n  y=2\r\njunk line\r\n\r\n; about "
         "B\r\n[B]\r\nz=3\r\nZ=4\r\n"},
        {"empty value", u"B", u"z", u"",
         "; settings\r\n[A]\r\nx = 1\r\n  y=2\r\njunk line\r\n\r\n; about "
         "B\r\n[B]\r\nz=\r\nZ=4\r\n"},
    };
    const std::string dir = testing_support::MakeTempDir("profile-write");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/w.ini";
        WriteBytes(path, kWriteOriginal);
        EXPECT_TRUE(
            WritePrivateProfileString(c.section, c.key, c.value ? &*c.value : nullptr, path));
        EXPECT_EQ(ReadBytes(path), c.expected);
    }
}

TEST(Profile, WrittenValuesReadBackAsGiven) {
    const std::string path = testing_support::MakeTempDir("profile-roundtrip") + "/r.ini";
    const std::u16string values[] = {u"plain",
                                     u"  padded  ",
                                     u"\"quoted\"",
                                     u"'single'",
                                     u"\"half",
                                     u"",
                                     u"caf\u00E9 \uAC00 \U0001F600",
                                     u"a=b;c#d"};
    for (const auto& v : values) {
        SCOPED_TRACE(ToUtf8(v));
        ASSERT_TRUE(WritePrivateProfileString(u"S", u"key", &v, path));
        EXPECT_EQ(GetPrivateProfileString(u"S", u"key", u"-", 260, path), v);
    }
}

TEST(Profile, LineFeedFileWithoutFinalNewline) {
    const std::string path = testing_support::MakeTempDir("profile-lf") + "/lf.ini";
    WriteBytes(path, "[A]\nx=1");
    const std::u16string two = u"2";
    ASSERT_TRUE(WritePrivateProfileString(u"A", u"y", &two, path));
    EXPECT_EQ(ReadBytes(path), "[A]\nx=1\ny=2\n");
    WriteBytes(path, "[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileString(u"B", u"y", &two, path));
    EXPECT_EQ(ReadBytes(path), "[A]\nx=1\n\n[B]\ny=2\n");
}

TEST(Profile, FileKeepsItsEncoding) {
    const std::string dir = testing_support::MakeTempDir("profile-enc");
    const std::u16string original = u"[Connect Information]\r\nURL=old\r\n; \uAC00\r\n";
    const std::u16string expected =
        u"[Connect Information]\r\nURL=\uB098\r\n; \uAC00\r\n\r\n[New]\r\nk=v\r\n";
    for (Enc enc : {Enc::Utf8, Enc::Utf8Bom, Enc::Utf16Le, Enc::Utf16Be}) {
        SCOPED_TRACE(static_cast<int>(enc));
        const std::string path = dir + "/enc.ini";
        WriteBytes(path, EncodeAs(enc, original));
        const std::u16string url = u"\uB098", v = u"v";
        ASSERT_TRUE(WritePrivateProfileString(u"connect information", u"url", &url, path));
        ASSERT_TRUE(WritePrivateProfileString(u"New", u"k", &v, path));
        EXPECT_EQ(ReadBytes(path), EncodeAs(enc, expected));
        EXPECT_EQ(GetPrivateProfileString(u"Connect Information", u"URL", u"", 260, path), url);
    }
}

TEST(Profile, NewFileIsUtf8WithModeByOwnerOnly) {
    const std::string dir = testing_support::MakeTempDir("profile-new");
    const std::u16string value = u"\u00E9";
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", &value, dir + "/public.ini"));
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", &value, dir + "/secret.ini", true));
    EXPECT_EQ(ReadBytes(dir + "/public.ini"), "[S]\r\nk=\xC3\xA9\r\n");
    EXPECT_EQ(ModeOf(dir + "/public.ini"), 0644u);
    EXPECT_EQ(ModeOf(dir + "/secret.ini"), 0600u);

    // An existing file keeps its mode, whatever ownerOnly says.
    ASSERT_EQ(::chmod((dir + "/public.ini").c_str(), 0640), 0);
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k2", &value, dir + "/public.ini", true));
    EXPECT_EQ(ModeOf(dir + "/public.ini"), 0640u);

    // Only the file itself is left in the folder: no temporaries.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 2u);
}

TEST(Profile, DeletingFromAMissingFileCreatesNothing) {
    const std::string path = testing_support::MakeTempDir("profile-del") + "/none.ini";
    EXPECT_TRUE(WritePrivateProfileString(u"S", u"k", nullptr, path));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Profile, WritesThroughASymbolicLink) {
    const std::string dir = testing_support::MakeTempDir("profile-link");
    WriteBytes(dir + "/real.ini", "[S]\nk=1\n");
    std::filesystem::create_symlink("real.ini", dir + "/link.ini");
    const std::u16string v = u"2";
    ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", &v, dir + "/link.ini"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir + "/link.ini"));
    EXPECT_EQ(ReadBytes(dir + "/real.ini"), "[S]\nk=2\n");
}

TEST(Profile, UnrepresentableNamesOrValuesAreRefused) {
    const std::string path = testing_support::MakeTempDir("profile-refuse") + "/r.ini";
    WriteBytes(path, kWriteOriginal);
    const std::u16string ok = u"v", broken = u"a\nb", cr = u"a\rb";
    const struct {
        const char* name;
        std::u16string section, key;
        const std::u16string* value;
    } cases[] = {
        {"empty key", u"A", u"  ", &ok},
        {"key with =", u"A", u"a=b", &ok},
        {"key like a header", u"A", u"[x", &ok},
        {"key like a comment", u"A", u";x", &ok},
        {"section with ]", u"A]", u"k", &ok},
        {"line feed in value", u"A", u"k", &broken},
        {"carriage return in value", u"A", u"k", &cr},
        {"line feed in key", u"A", u"k\nj", &ok},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(WritePrivateProfileString(c.section, c.key, c.value, path));
        EXPECT_EQ(ReadBytes(path), kWriteOriginal);
    }
}

TEST(Profile, UnwritableFolderFailsAndLeavesTheOldFile) {
    const std::string dir = testing_support::MakeTempDir("profile-ro");
    const std::string path = dir + "/locked.ini";
    WriteBytes(path, kWriteOriginal);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    const std::u16string v = u"changed";
    if (::geteuid() != 0) {
        EXPECT_FALSE(WritePrivateProfileString(u"A", u"x", &v, path));
    } else {
        // Root writes anywhere; try as an unprivileged user in a child.
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            ::_exit(WritePrivateProfileString(u"A", u"x", &v, path) ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == 2) {
            ::chmod(dir.c_str(), 0755);
            GTEST_SKIP() << "cannot drop privileges";
        }
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not fail";
    }
    ::chmod(dir.c_str(), 0755);
    EXPECT_EQ(ReadBytes(path), kWriteOriginal);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(Profile, WriteFailsWhenTheFolderIsMissingOrThePathIsAFolder) {
    const std::string dir = testing_support::MakeTempDir("profile-nodir");
    const std::u16string v = u"v";
    EXPECT_FALSE(WritePrivateProfileString(u"S", u"k", &v, dir + "/no/such/folder.ini"));
    EXPECT_FALSE(WritePrivateProfileString(u"S", u"k", &v, dir));
    EXPECT_TRUE(std::filesystem::is_directory(dir));
}

TEST(Profile, ConcurrentWritersLoseNoUpdate) {
    const std::string path = testing_support::MakeTempDir("profile-threads") + "/t.ini";
    constexpr int kThreads = 4, kKeys = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &path] {
            for (int k = 0; k < kKeys; ++k) {
                const std::u16string key =
                    FromUtf8("k" + std::to_string(t) + "_" + std::to_string(k));
                const std::u16string value = FromUtf8(std::to_string(t * 100 + k));
                WritePrivateProfileString(u"S", key, &value, path);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            const std::u16string key = FromUtf8("k" + std::to_string(t) + "_" + std::to_string(k));
            EXPECT_EQ(GetPrivateProfileInt(u"S", key, -1, path), t * 100 + k);
        }
    }
}

}  // namespace
