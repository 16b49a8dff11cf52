// The recording view's window tests: QTest on the offscreen platform, every Qt warning fatal
// (QT_FATAL_WARNINGS=1 comes from ctest).

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt wants a private runtime directory; give the process its own, readable by it alone.
    const std::filesystem::path runtime =
        std::filesystem::temp_directory_path() / ("pulsebench-recording-runtime-" + std::to_string(::getpid()));
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
    int status = 0;
    {
        QApplication app(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::filesystem::remove_all(runtime);
    return status;
}
