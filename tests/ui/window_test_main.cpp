// GoogleTest main for the window tests: one QApplication, offscreen unless
// the caller chose a platform, with the tool's font and name.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/korvell_app.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    zorvane::CKorvellApp::prepare(app);
    return RUN_ALL_TESTS();
}
