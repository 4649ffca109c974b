#include "control/config_files.h"

#include <cstdlib>
#include <filesystem>

#include "platform/profile.h"

namespace config_files {
namespace {

constexpr std::u16string_view kSection = u"Connect Information";

std::u16string Read(const std::string& path, std::u16string_view key, std::size_t limitChars,
                    std::u16string_view def = u"") {
    // The limit is the number of characters kept; the buffer holds one more.
    return GetPrivateProfileString(kSection, key, def, limitChars + 1, path);
}

void Write(const std::string& path, std::u16string_view key, const std::u16string& value) {
    WritePrivateProfileString(kSection, key, &value, path, /*ownerOnly=*/true);
}

}  // namespace

std::string ConnectionFilePath() {
    std::string dir;
    if (const char* d = std::getenv("QVELNOR_CONFIG_DIR"); d != nullptr && *d != '\0') {
        dir = d;
    } else if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x != '\0') {
        dir = std::string(x) + "/QVelnor";
    } else {
        const char* home = std::getenv("HOME");
        dir = std::string(home != nullptr ? home : ".") + "/.config/QVelnor";
    }
    return dir + "/QVelnorInfo.INF";
}

ConnectionForm LoadConnection(const std::string& path) {
    ConnectionForm form;
    form.url = Read(path, u"URL", 99);
    form.user = Read(path, u"USER", 49);
    form.password = Read(path, u"PASSWORD", 19);
    form.port = Read(path, u"PORT", 19);
    form.videoStandard = Read(path, u"DISPLAY TYPE", 9, u"NTSC") == u"NTSC" ? 1 : 0;
    return form;
}

void SaveConnection(const std::string& path, const ConnectionForm& form) {
    // The folder is ours; create it on the first save.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    Write(path, u"URL", form.url.substr(0, 99));
    Write(path, u"USER", form.user.substr(0, 49));
    Write(path, u"PASSWORD", form.password.substr(0, 19));
    Write(path, u"PORT", form.port.substr(0, 19));
    Write(path, u"DISPLAY TYPE", form.videoStandard == 1 ? u"NTSC" : u"PAL");
}

std::string BuildLanguagePath(const std::string& modulePath) {
    if (const char* f = std::getenv("QVELNOR_LANGUAGE_FILE"); f != nullptr && *f != '\0') {
        return f;
    }
    const std::size_t slash = modulePath.rfind('/');
    if (slash == std::string::npos) {
        return modulePath;
    }
    return modulePath.substr(0, slash + 1) + "LangQVelnorClient.inf";
}

std::u16string Translate(const std::string& languageFile, std::u16string_view section,
                         std::u16string_view key) {
    return GetPrivateProfileString(section, key, key, 260, languageFile);
}

}  // namespace config_files
