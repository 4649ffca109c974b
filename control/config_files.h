#pragma once
// The two INI files of the client: the connection file, which remembers the
// last login form, and the language file, which translates every fixed text.
// Neither is required; every read has a default.

#include <string>
#include <string_view>

namespace config_files {

// The login form as stored. Texts are the edits' contents.
struct ConnectionForm {
    std::u16string url;       // edit 201, at most 99 characters
    std::u16string port;      // edit 202, at most 19
    std::u16string user;      // edit 203, at most 49
    std::u16string password;  // edit 204, at most 19
    int videoStandard = 1;    // 1 NTSC, 0 PAL
};

// Where the connection file lives: $QVELNOR_CONFIG_DIR, else
// $XDG_CONFIG_HOME/QVelnor, else ~/.config/QVelnor; the file "QVelnorInfo.INF".
std::string ConnectionFilePath();

// Reads the five keys; a missing file gives the empty form and NTSC.
ConnectionForm LoadConnection(const std::string& path);
// Writes the five keys (the file holds a password: owner-only). Values longer
// than the read limits are stored cut to them.
void SaveConnection(const std::string& path, const ConnectionForm& form);

// The language file beside the control module: everything after the module
// path's last '/' replaced by "LangQVelnorClient.inf" (the module path itself
// when it has no '/'). $QVELNOR_LANGUAGE_FILE, when set, names the file instead.
std::string BuildLanguagePath(const std::string& modulePath);

// Looks `key` up in `section`; the key itself is the default. At most 259 units.
std::u16string Translate(const std::string& languageFile, std::u16string_view section,
                         std::u16string_view key);

}  // namespace config_files
