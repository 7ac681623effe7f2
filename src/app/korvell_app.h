// The application object: prepares the Qt application and runs the main
// window modally; the program ends when the main window does.
#pragma once

class QApplication;

namespace zorvane {

class CKorvellApp {
  public:
    // Application name, the 8-point dialog font the layouts are measured in,
    // the window icon.
    static void prepare(QApplication& app);

    // Runs the main window; false when it has ended, so the program exits.
    bool InitInstance();
};

}  // namespace zorvane
