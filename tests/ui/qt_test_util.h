// Helpers for the Qt tests: the one QApplication of the test run lives in qt_environment.cpp.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

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

// Once the next modal dialog is up, runs `act` on it (which must end it). Polls, so it does not
// matter whether exec() has started when the timer is set. The 10 s backstop rejects a dialog the
// action failed to end, so a fault fails the test instead of hanging it.
inline void act_on_next_modal(std::function<void(QDialog&)> act) {
    auto* poller = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poller, &QTimer::timeout, [poller, tries, act = std::move(act)] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            if (++*tries > 500) poller->deleteLater();
            return;
        }
        poller->stop();
        poller->deleteLater();
        act(*dialog);
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the action left the dialog open";
            dialog->reject();
        }
    });
    poller->start(20);
}

}  // namespace vg::test
