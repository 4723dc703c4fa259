// Entry point for test programs that need Qt: one QApplication for the whole run
// (offscreen unless QT_QPA_PLATFORM says otherwise), then every GoogleTest test.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
