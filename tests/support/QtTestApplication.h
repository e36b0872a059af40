#pragma once

#include <QApplication>

namespace tc::test {

// The one QApplication of a widget test executable, created on first use (offscreen under ctest).
QApplication& qtApplication();

} // namespace tc::test
