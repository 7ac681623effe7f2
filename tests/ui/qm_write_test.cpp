// The settings pages of the QM page writing to a simulated QM-48 on a
// pseudo-terminal: frames from real edits (typed, then left with Tab, Enter
// or Esc), the start-mode list and the training check box, and the cases
// where nothing may be sent or the worker paused.
#include <QCheckBox>
#include <QComboBox>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "device/poll_cycle.h"
#include "device/poll_worker.h"
#include "link/serial_port.h"
#include "pages/c_tab_1.h"
#include "pages/c_tab_2.h"
#include "pages/c_tab_3.h"
#include "pages/c_tab_4.h"
#include "sim/port_directory.h"
#include "ui_fixture.h"

namespace zorvane::testing {
namespace {

using Frame = std::vector<uint8_t>;
using Frames = std::vector<Frame>;
constexpr int kComPort = 3;

// Stands in for the polling worker: busy until the window asks for the port,
// idle while the window holds it. Counts the times it was asked.
class WorkerStandIn {
  public:
    WorkerStandIn() {
        device_state.g_worker_idle.store(0);
        m_thread = std::thread([this] {
            bool paused = false;
            while (!m_stop.load()) {
                const bool pause = device_state.g_poll_pause.load() != 0;
                if (pause && !paused) {
                    m_pauses.fetch_add(1);
                    device_state.g_worker_idle.store(1);
                } else if (!pause && paused) {
                    device_state.g_worker_idle.store(0);
                }
                paused = pause;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    ~WorkerStandIn() {
        m_stop.store(true);
        m_thread.join();
        device_state.g_worker_idle.store(1);
    }
    int pauses() const { return m_pauses.load(); }
    // Until it has noticed the port came back, a second request would find
    // it idle without being counted.
    bool back_to_work() const {
        return QTest::qWaitFor([] { return device_state.g_worker_idle.load() == 0; }, 2000);
    }

  private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_pauses{0};
    std::thread m_thread;
};

class QmWrites : public UiFixture {
  protected:
    void SetUp() override {
        UiFixture::SetUp();
        m_device = add_device(kComPort, DeviceModel::QM48, "12345");
        ASSERT_NE(m_device, nullptr);
        host_qm_page();
        device_state.g_com_port.store(kComPort);
    }

    // One poll pass, as the worker would make it, then the display step (what
    // the step may send stays in the log).
    void poll_and_show() {
        SerialPort& port = serial_port();
        ASSERT_TRUE(port.open(kComPort));
        poll_cycle_qm(port, device_state);
        port.close();
        m_device->clear_log();
        step();
    }

    void set_device_value(uint8_t read_code, uint16_t raw) {
        m_device->with_device([&](sim::SimDevice& d) { d.set_value(read_code, raw); });
    }
    uint16_t device_value(uint8_t read_code) {
        return m_device->with_device([&](sim::SimDevice& d) { return d.value(read_code); });
    }

    // Types `text` over the field's text and leaves the field with `key`.
    void type_and_leave(QLineEdit* edit, const char* text, Qt::Key key) {
        focus(edit);
        edit->selectAll();
        QTest::keyClicks(edit, QString::fromUtf8(text));
        QTest::keyClick(edit, key);
        ASSERT_NE(QApplication::focusWidget(), edit);
    }

    Frames sent() {
        Frames frames = m_device->received();
        m_device->clear_log();
        return frames;
    }

    // What was sent since the last look; then the worker's next pass and the
    // next tick, as in the running tool.
    Frames sent_then_poll() {
        Frames frames = sent();
        poll_and_show();
        return frames;
    }

    std::optional<std::string> m_saved_dir;
    sim::SimulatedPort* m_device = nullptr;
};

TEST_F(QmWrites, InverterAndMainsTransferPages) {
    set_device_value(0x4E, 440);   // UbatLow 44.0 V
    set_device_value(0x4C, 220);   // UrmsNom 22.0 V
    set_device_value(0x52, 5000);  // Pmax
    set_device_value(0x58, 1600);  // UrmslowL
    set_device_value(0x5E, 2450);  // UrmshighL
    poll_and_show();

    type_and_leave(tab_edit(0, tab1_id::kUbatLow), "48.5", Qt::Key_Return);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x4D, 0x01, 0xE5, 0xAA}}));
    EXPECT_EQ(QApplication::focusWidget(), tab(0)->control(tab1_id::kUbatLowLabel));
    EXPECT_TRUE(tab(0)->isVisible());
    EXPECT_EQ(device_value(0x4E), 485);

    type_and_leave(tab_edit(0, tab1_id::kUrmsNom), "230", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x4B, 0x08, 0xFC, 0xAA}}));
    type_and_leave(tab_edit(0, tab1_id::kPmax), "2500", Qt::Key_Escape);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x51, 0x09, 0xC4, 0xAA}}));
    // Left with the text the display put there: nothing to send.
    focus(tab_edit(0, tab1_id::kUbatMin));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(sent(), Frames{});

    show_tab(1);
    type_and_leave(tab_edit(1, tab2_id::kUrmsLowL), "170", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x57, 0x06, 0xA4, 0xAA}}));
    EXPECT_EQ(QApplication::focusWidget(), tab(1)->control(tab2_id::kUrmsHighH));
    type_and_leave(tab_edit(1, tab2_id::kUrmsHighL), "250.5", Qt::Key_Enter);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x5D, 0x09, 0xC9, 0xAA}}));
    EXPECT_EQ(QApplication::focusWidget(), tab(1)->control(tab2_id::kVoltageHeading));
    // A lower threshold above its partner of the same direction (the return
    // to mains: UrmslowH under UrmshighL) is refused naming both, and a box
    // asks; answered No, nothing goes out.
    type_and_leave(tab_edit(1, tab2_id::kUrmsHighL), "200", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x5D, 0x07, 0xD0, 0xAA}}));
    type_and_leave(tab_edit(1, tab2_id::kUrmsLowH), "210", Qt::Key_Return);
    QTest::qWait(50);
    EXPECT_EQ(sent(), Frames{});
    ASSERT_FALSE(m_boxes.seen().empty());
    EXPECT_NE(m_boxes.seen().back().text.find("UrmslowH = 210.0 не ниже UrmshighL = 200.0"),
              std::string::npos)
        << m_boxes.seen().back().text;
    activate_host();
    // Out of the span of a mains threshold: the same, naming the span.
    type_and_leave(tab_edit(1, tab2_id::kUrmsLowH), "300", Qt::Key_Return);
    QTest::qWait(50);
    EXPECT_EQ(sent(), Frames{});
    EXPECT_NE(m_boxes.seen().back().text.find("от 80 до 240 V"), std::string::npos)
        << m_boxes.seen().back().text;
}

TEST_F(QmWrites, ChargerPage) {
    set_device_value(0x68, 10080);  // RFloatTime 7 days
    set_device_value(0x60, 100);    // IchrgNom 10.0 A
    set_device_value(0x66, 480);    // FloatTime
    poll_and_show();
    show_tab(2);

    type_and_leave(tab_edit(2, tab3_id::kRFloatTime), "2", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x67, 0x0B, 0x40, 0xAA}}));
    EXPECT_EQ(device_value(0x68), 2880);
    type_and_leave(tab_edit(2, tab3_id::kRFloatTime), "3.5", Qt::Key_Return);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x67, 0x13, 0xB0, 0xAA}}));
    type_and_leave(tab_edit(2, tab3_id::kIchrgNom), "12.5", Qt::Key_Escape);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x5F, 0x00, 0x7D, 0xAA}}));
    EXPECT_EQ(QApplication::focusWidget(), tab(2)->control(tab3_id::kFloatTimeLabel));
    type_and_leave(tab_edit(2, tab3_id::kAbsEndFactor), "7.9", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x61, 0x07, 0xAA}}));
    type_and_leave(tab_edit(2, tab3_id::kFloatTime), "30", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x65, 0x00, 0x1E, 0xAA}}));

    // The next pass read the values back and the display shows them.
    EXPECT_EQ(tab_edit(2, tab3_id::kRFloatTime)->text(), "4 сут.");  // 5040 minutes
    EXPECT_EQ(tab_edit(2, tab3_id::kFloatTime)->text(), "30 мин");
    EXPECT_EQ(tab_edit(2, tab3_id::kAbsEndFactor)->text(), "7 ");
}

TEST_F(QmWrites, GeneratorPage) {
    set_device_value(0x6E, 0);     // EGenUbat: start after EGenOnTime
    set_device_value(0x70, 60);    // EGenOnTime
    set_device_value(0x72, 4000);  // EGenPmax
    set_device_value(0x74, 14);    // EGenSleep
    set_device_value(0x6C, 1);     // EGenType
    set_device_value(0x76, 20);    // EGenWork
    poll_and_show();
    show_tab(3);

    type_and_leave(tab_edit(3, tab4_id::kEGenPmax), "3000", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x71, 0x0B, 0xB8, 0xAA}}));
    type_and_leave(tab_edit(3, tab4_id::kEGenSleep), "7", Qt::Key_Return);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x73, 0x07, 0xAA}}));
    EXPECT_EQ(QApplication::focusWidget(), tab(3)->control(tab4_id::kEGenTypeLabel));
    type_and_leave(tab_edit(3, tab4_id::kEGenOnTime), "30", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x6F, 0x00, 0x1E, 0xAA}}));
    type_and_leave(tab_edit(3, tab4_id::kEGenType), "2", Qt::Key_Escape);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x6B, 0x02, 0xAA}}));
    type_and_leave(tab_edit(3, tab4_id::kEGenWork), "2999.99", Qt::Key_Tab);
    EXPECT_EQ(sent_then_poll(), (Frames{{0xBE, 0x75, 0x0B, 0xB7, 0xAA}}));

    // Start mode 1 from the list: sent at once, the delay made read-only.
    auto* combo = tab(3)->get<QComboBox>(tab4_id::kEGenUbat);
    auto* on_time = tab_edit(3, tab4_id::kEGenOnTime);
    ASSERT_EQ(combo->currentIndex(), 0);
    focus(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(sent(), (Frames{{0xBE, 0x6D, 0x01, 0xAA}}));
    EXPECT_TRUE(on_time->isReadOnly());
    EXPECT_EQ(on_time->text(), "0 сек.");
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(sent(), (Frames{{0xBE, 0x6D, 0x00, 0xAA}}));
    EXPECT_FALSE(on_time->isReadOnly());

    // Training runs off and on from the check box; the EGenWork text waits
    // for the display.
    auto* training = tab(3)->get<QCheckBox>(tab4_id::kTraining);
    auto* work = tab_edit(3, tab4_id::kEGenWork);
    poll_and_show();
    ASSERT_TRUE(training->isChecked());
    const QString work_text = work->text();
    QTest::mouseClick(training, Qt::LeftButton);
    EXPECT_EQ(sent(), (Frames{{0xBE, 0x75, 0x00, 0x00, 0xAA}}));
    EXPECT_TRUE(work->isReadOnly());
    EXPECT_EQ(work->text(), work_text);
    QTest::mouseClick(training, Qt::LeftButton);
    EXPECT_EQ(sent(), (Frames{{0xBE, 0x75, 0x00, 0x14, 0xAA}}));
    EXPECT_FALSE(work->isReadOnly());

    // What the display selects and checks is never sent back.
    focus(tab(3)->control(tab4_id::kEGenTypeLabel));
    for (uint16_t mode : {1, 0, 1}) {
        set_device_value(0x6E, mode);
        set_device_value(0x76, mode ? 0 : 20);
        poll_and_show();
        EXPECT_EQ(combo->currentIndex(), mode);
        EXPECT_EQ(training->isChecked(), mode == 0);
        EXPECT_EQ(m_device->received(), Frames{});
    }
}

TEST_F(QmWrites, NothingIsSentBeforeTheFirstDisplayStep) {
    WorkerStandIn worker;
    const std::pair<int, int> fields[] = {
        {0, tab1_id::kUbatLow},    {0, tab1_id::kPmax},         {1, tab2_id::kUrmsLowL},
        {2, tab3_id::kRFloatTime}, {2, tab3_id::kAbsEndFactor}, {3, tab4_id::kEGenPmax},
        {3, tab4_id::kEGenOnTime}, {3, tab4_id::kEGenWork},
    };
    for (const auto& [page, id] : fields) {
        show_tab(page);
        type_and_leave(tab_edit(page, id), "17", Qt::Key_Tab);
        type_and_leave(tab_edit(page, id), "18", Qt::Key_Return);
    }
    EXPECT_EQ(m_device->received(), Frames{});
    EXPECT_EQ(worker.pauses(), 0);
    EXPECT_EQ(device_state.g_settings_shown.load(), 0);

    // The technician's own choices in the list and the check box are sent.
    auto* combo = tab(3)->get<QComboBox>(tab4_id::kEGenUbat);
    focus(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(sent(), (Frames{{0xBE, 0x6D, 0x00, 0xAA}}));
    EXPECT_FALSE(tab_edit(3, tab4_id::kEGenOnTime)->isReadOnly());
    ASSERT_TRUE(worker.back_to_work());
    QTest::mouseClick(tab(3)->get<QCheckBox>(tab4_id::kTraining), Qt::LeftButton);
    EXPECT_EQ(sent(), (Frames{{0xBE, 0x75, 0x00, 0x14, 0xAA}}));
    EXPECT_EQ(worker.pauses(), 2);
}

TEST_F(QmWrites, ReadOnlyStartDelaySendsNothingAndLeavesTheWorkerAlone) {
    set_device_value(0x6E, 1);  // started on battery discharge
    poll_and_show();
    show_tab(3);
    WorkerStandIn worker;
    QLineEdit* on_time = tab_edit(3, tab4_id::kEGenOnTime);
    ASSERT_TRUE(on_time->isReadOnly());
    on_time->setText("99");  // whatever it shows
    // Enter and Esc put the focus on a label, Tab on EGenWork.
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Tab}) {
        focus(on_time);
        QTest::keyClick(on_time, key);
    }
    EXPECT_EQ(m_device->received(), Frames{});
    EXPECT_EQ(worker.pauses(), 0);

    // A writable field left as shown does not even borrow the port; typed
    // over with its own value, it borrows it and sends nothing.
    QLineEdit* work = tab_edit(3, tab4_id::kEGenWork);
    ASSERT_EQ(QApplication::focusWidget(), work);
    QTest::keyClick(work, Qt::Key_Tab);
    EXPECT_EQ(worker.pauses(), 0);
    focus(work);
    work->selectAll();
    QTest::keyClicks(work, "20");
    QTest::keyClick(work, Qt::Key_Tab);
    EXPECT_EQ(m_device->received(), Frames{});
    EXPECT_EQ(worker.pauses(), 1);
}

TEST_F(QmWrites, TearingThePageDownWritesNothing) {
    // The program can end without the close sequence (a lost link): the
    // settings are still marked shown when the page goes.
    poll_and_show();
    show_tab(3);
    QLineEdit* pmax = tab_edit(3, tab4_id::kEGenPmax);
    focus(pmax);
    pmax->selectAll();
    QTest::keyClicks(pmax, "1234");
    ASSERT_EQ(device_state.g_settings_shown.load(), 1);
    delete m_qm_page;
    m_qm_page = nullptr;
    EXPECT_EQ(m_device->received(), Frames{});
    EXPECT_EQ(device_state.g_settings_shown.load(), 0);
}

TEST_F(QmWrites, WithTheWorkerPolling) {
    set_device_value(0x52, 5000);  // Pmax
    PollWorker worker(serial_port(), device_state);
    worker.start();
    QLineEdit* pmax = tab_edit(0, tab1_id::kPmax);
    auto tick_until = [this](auto done) {
        return QTest::qWaitFor(
            [&] {
                step();
                return done();
            },
            5000);
    };
    ASSERT_TRUE(tick_until([pmax] { return pmax->text() == "5000 BA"; }));

    type_and_leave(pmax, "2500", Qt::Key_Return);
    EXPECT_EQ(device_value(0x52), 2500);
    // The worker reads it back and the next ticks show it.
    focus(tab(0)->control(tab1_id::kUbatLowLabel));
    EXPECT_TRUE(tick_until([pmax] { return pmax->text() == "2500 BA"; }));
    Frames writes;
    for (const Frame& f : m_device->received()) {
        if (f.size() > 3)
            writes.push_back(f);
    }
    EXPECT_EQ(writes, (Frames{{0xBE, 0x51, 0x09, 0xC4, 0xAA}}));
    worker.stop();
}

}  // namespace
}  // namespace zorvane::testing
