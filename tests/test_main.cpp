// Test entry point: an offscreen Qt application and a private home, so that no
// test ever reads or writes the real user's files.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string root = (std::filesystem::temp_directory_path() /
                        ("qvelnor-tests-" + std::to_string(getpid())))
                           .string();
    std::filesystem::create_directories(root);
    const std::string home = root + "/home";
    std::filesystem::create_directories(home);
    setenv("QV_TEST_ROOT", root.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return rc;
}
