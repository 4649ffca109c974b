// The connection file and the language file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

#include "control/config_files.h"
#include "tests/test_support.h"

using namespace config_files;

TEST(ConnectionFile, MissingFileGivesEmptyFormAndNtsc) {
    const std::string dir = testing_support::MakeTempDir("conn-missing");
    ConnectionForm f = LoadConnection(dir + "/QVelnorInfo.INF");
    EXPECT_TRUE(f.url.empty());
    EXPECT_TRUE(f.port.empty());
    EXPECT_TRUE(f.user.empty());
    EXPECT_TRUE(f.password.empty());
    EXPECT_EQ(f.videoStandard, 1);
}

TEST(ConnectionFile, RoundTripWithLimits) {
    const std::string path = testing_support::MakeTempDir("conn-rt") + "/sub/QVelnorInfo.INF";
    ConnectionForm f;
    f.url = std::u16string(100, u'a');
    f.port = u"50000";
    f.user = std::u16string(50, u'u');
    f.password = u"abcdefghijklmnopqrstuvwxy";  // 25 characters
    f.videoStandard = 1;
    SaveConnection(path, f);
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // it holds a password

    ConnectionForm g = LoadConnection(path);
    EXPECT_EQ(g.url, std::u16string(99, u'a'));
    EXPECT_EQ(g.port, u"50000");
    EXPECT_EQ(g.user, std::u16string(49, u'u'));
    EXPECT_EQ(g.password, u"abcdefghijklmnopqrs");  // the first 19
    EXPECT_EQ(g.videoStandard, 1);
}

TEST(ConnectionFile, DisplayTypeIsCaseSensitive) {
    const std::string path = testing_support::MakeTempDir("conn-ntsc") + "/QVelnorInfo.INF";
    {
        std::ofstream out(path);
        out << "[connect information]\nurl = 10.0.0.5\nDisplay Type=ntsc\n";
    }
    ConnectionForm f = LoadConnection(path);
    EXPECT_EQ(f.url, u"10.0.0.5");  // section and key names are not case-sensitive
    EXPECT_EQ(f.videoStandard, 0);  // but the value is
    SaveConnection(path, f);
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("PAL"), std::string::npos);
    EXPECT_EQ(text.find("ntsc"), std::string::npos);
}

TEST(ConnectionFile, LocationFollowsTheEnvironment) {
    setenv("QVELNOR_CONFIG_DIR", "/tmp/qv-conf-x", 1);
    EXPECT_EQ(ConnectionFilePath(), "/tmp/qv-conf-x/QVelnorInfo.INF");
    unsetenv("QVELNOR_CONFIG_DIR");
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(xdg, nullptr);
    EXPECT_EQ(ConnectionFilePath(), std::string(xdg) + "/QVelnor/QVelnorInfo.INF");
}

TEST(LanguageFile, PathAndTranslation) {
    EXPECT_EQ(BuildLanguagePath("/opt/q/libQVelnorClient.so"), "/opt/q/LangQVelnorClient.inf");
    EXPECT_EQ(BuildLanguagePath("nomodule"), "nomodule");

    const std::string path = testing_support::MakeTempDir("lang") + "/LangQVelnorClient.inf";
    {
        std::ofstream out(path);
        out << "[VIEW]\nDISCONNECTED=GETRENNT\n[SETUP]\nSAVE=Sichern\n";
    }
    EXPECT_EQ(Translate(path, u"VIEW", u"DISCONNECTED"), u"GETRENNT");
    EXPECT_EQ(Translate(path, u"VIEW", u"LOGIN SUCCESS"), u"LOGIN SUCCESS");
    EXPECT_EQ(Translate(path, u"view", u"disconnected"), u"GETRENNT");
    EXPECT_EQ(Translate(path, u"SETUP", u"SAVE"), u"Sichern");
    EXPECT_EQ(Translate(path + ".missing", u"VIEW", u"DISCONNECTED"), u"DISCONNECTED");
    const std::u16string longKey(300, u'K');
    EXPECT_EQ(Translate(path, u"VIEW", longKey).size(), 259u);
}
