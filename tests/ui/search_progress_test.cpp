// The window's search display: the ports being probed and the devices found
// so far while the search runs, and Cancel ending it with what was found.
#include "app/search_progress.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "link/serial_port.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

TEST(SearchProgress, ShowsTheSearchAndCancelKeepsWhatWasFound) {
    sim::PortDirectory dir;
    ASSERT_TRUE(
        dir.add(1, sim::DeviceConfig{.model = DeviceModel::KX24, .serial = "11", .battery = {}}));
    for (int com = 2; com <= 9; ++com) ASSERT_TRUE(dir.add_silent(com, {.pace = true}));
    setenv("ZORVANE_PORT_DIR", dir.path().c_str(), 1);

    SearchProgress progress;
    QStringList probing_seen;
    bool cancelled_by_us = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!progress.isVisible() || cancelled_by_us)
            return;
        probing_seen.append(progress.probing_label()->text());
        if (progress.found_label()->text().contains(QStringLiteral("KX-24. S/N: 11 (COM1)")) &&
            progress.probing_label()->text().contains(QStringLiteral("COM2"))) {
            if (const char* shots = std::getenv("ZORVANE_SCREENSHOT_DIR"))
                progress.grab().save(QString::fromLocal8Bit(shots) + "/search-progress.png");
            cancelled_by_us = true;
            progress.cancel_button()->click();
        }
    });
    watch.start();

    DeviceState state;
    SearchOptions options;
    options.max_parallel = 1;  // one port after the other: COM1 is found first
    const SearchResult result = progress.run(state, options);

    EXPECT_TRUE(cancelled_by_us);
    EXPECT_TRUE(result.cancelled);
    ASSERT_EQ(result.found.size(), 1u);
    EXPECT_EQ(result.found[0].caption, "KX-24. S/N: 11");
    EXPECT_EQ(state.g_com_port.load(), 1);
    EXPECT_FALSE(progress.isVisible());
    // The silent ports after the cancel were never opened.
    EXPECT_EQ(dir.port(9)->received_bytes(), 0u);
    setenv("ZORVANE_PORT_DIR", "/nonexistent", 1);
}

// Every line of a label has room: wrapped text is cut at top and bottom when
// the label is lower than its text, a line that does not wrap at its end.
bool shown_whole(const QLabel* label) {
    if (label->wordWrap())
        return label->height() >= label->heightForWidth(label->width());
    return label->height() >= label->sizeHint().height() &&
           label->width() >= label->sizeHint().width();
}

// Eight ports probed at once and a long list of devices found: both lines
// stay whole as they grow (also at 150 %: SearchProgressAtScale150).
TEST(SearchProgress, LongListsOfPortsAndDevicesStayWhole) {
    sim::PortDirectory dir;
    for (int com = 1; com <= 8; ++com) {
        const std::string serial = "2026-1200" + std::to_string(com);
        ASSERT_TRUE(
            dir.add(com, sim::DeviceConfig{.model = com % 2 ? DeviceModel::KX24 : DeviceModel::QM48,
                                           .serial = serial,
                                           .battery = {}}));
    }
    setenv("ZORVANE_PORT_DIR", dir.path().c_str(), 1);

    SearchProgress progress;
    int cut = 0;
    int longest_probing = 0;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!progress.isVisible())
            return;
        QApplication::processEvents();  // the layout follows the texts
        longest_probing = std::max<int>(
            longest_probing, progress.probing_label()->text().count(QStringLiteral("COM")));
        cut += !shown_whole(progress.probing_label()) || !shown_whole(progress.found_label());
    });
    watch.start();
    DeviceState state;
    const SearchResult result = progress.run(state, {});
    EXPECT_EQ(result.found.size(), 8u);
    EXPECT_GE(longest_probing, 2);
    EXPECT_EQ(cut, 0);
    setenv("ZORVANE_PORT_DIR", "/nonexistent", 1);
}

}  // namespace
}  // namespace zorvane
