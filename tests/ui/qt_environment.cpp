// One QApplication for the whole Qt test run (the platform comes from QT_QPA_PLATFORM=offscreen).
#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

const auto* const qt_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
