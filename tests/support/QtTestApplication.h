#pragma once

#include <QApplication>

#include <cstdlib>

namespace tc::test {

// The one QApplication of a widget test executable, created on first use (offscreen under ctest).
inline QApplication& qtApplication()
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "transcription-corvane-tests";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down from static destructors at exit crashes in its post routines.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

} // namespace tc::test
