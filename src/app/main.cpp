// zorvane: the service tool's window.
#include <QApplication>

#include "app/korvell_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvane::CKorvellApp::prepare(app);
    zorvane::CKorvellApp korvell;
    korvell.InitInstance();
    return 0;
}
