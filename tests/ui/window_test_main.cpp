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

// Under the thread sanitizer: Qt is not instrumented and its mutexes are
// futexes the sanitizer cannot see, so allocations and copies made inside Qt
// on behalf of its own thread pool and event queues look unsynchronised; the
// same holds for the GLib event loop and allocator under Qt's threads.
// Nothing of the tool's own is suppressed.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n";
}
