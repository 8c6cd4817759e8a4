// Helpers for the Qt tests: the one QApplication of the test run lives in qt_environment.cpp.
#pragma once

#include <QCoreApplication>

#include <chrono>

namespace vg::test {

// Processes events until `done` holds; false when the generous backstop ran out first.
template <typename Predicate>
bool wait_until(Predicate done, std::chrono::milliseconds backstop = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + backstop;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace vg::test
