// A randomized technician on the main window over a simulated QM-48 and
// KX-24: device tabs, settings tabs, fields entered, text typed from a
// grammar (numbers as written in Russia, units, garbage, out of range, empty,
// very long), Tab/Enter/Esc, Backspace, the start-mode list, the training
// check box, the generation button, the counters window, pauses.
//
// Oracle: every frame with a payload that a device receives is the write of a
// field whose text the technician changed since entering it, sent to the
// device whose tab was selected when it was typed, carrying trunc(number ×
// scale) within range, never of a negative number; a value outside the span
// of the unit's voltage class, or one inverting an ordered pair, only after
// the technician answered Yes to the box that asked; or the list's or the
// check box's frame right after the technician used it; the generation
// button's switch-off only when the technician confirmed it; and nothing
// else is ever written. No key ends the window.
//
// ZORVANE_FUZZ_SEED replays a run (the seed is printed on failure);
// ZORVANE_FUZZ_ACTIONS sets the number of actions.
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QMessageBox>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>

#include "pages/c_tab_4.h"
#include "state/variables.h"
#include "ui_fixture.h"

namespace zorvane::testing {
namespace {

#ifdef ZORVANE_SANITIZED
constexpr unsigned long kDefaultActions = 200;  // the sanitizers slow every action down
#else
constexpr unsigned long kDefaultActions = 2000;
#endif

unsigned long env_number(const char* name, unsigned long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

// Text as typed, with the number it means when the grammar knows it exactly
// (no number: it must write nothing).
struct Typed {
    QString text;
    std::optional<double> number;
};

class Technician : public TwoDevices, public QObject {
  protected:
    std::mt19937_64 rng;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    // A number around the field's span for the selected unit's class: inside,
    // just outside either end, or a small negative one that truncates to 0.
    Typed near_span(const SettingParam* p) {
        const Plausible span = p != nullptr
                                   ? p->variable->plausible(judge_voltage_class(device_state).volts)
                                   : Plausible{};
        if (!span.set() || pick(4) == 0) {
            const int hundredths = 1 + pick(99);
            return {QStringLiteral("-0.%1").arg(hundredths, 2, 10, QLatin1Char('0')),
                    -hundredths / 100.0};
        }
        const double step = 1.0 / p->scale;
        const double value = pick(3) == 0   ? span.low - step
                             : pick(2) == 0 ? span.high + step
                                            : span.low + (span.high - span.low) * pick(100) / 100.0;
        const double typed = std::round(value * 10) / 10;
        return {QString::number(typed, 'f', 1), typed};
    }

    Typed grammar(const SettingParam* p) {
        if (pick(8) == 0)
            return near_span(p);
        static const char* units[] = {"", " B", "BA", " A", " мин", "B"};
        static const char* separators[] = {" ", "\u00A0", "\u2009"};
        static const char* garbage[] = {"abc",  "B 12", "x",       ".",     "--5",
                                        "0x10", "inf",  "1,234.5", "2,5,1", "1.2.3"};
        switch (pick(7)) {
            case 0: {  // a plain number, a decimal point or comma, a unit
                const int whole = pick(3) == 0 ? pick(70000) : pick(300);
                const int tenths = pick(10);
                const bool decimals = pick(2) == 0;
                const QString mark = pick(2) == 0 ? QStringLiteral(".") : QStringLiteral(",");
                const QString number =
                    decimals ? QStringLiteral("%1%2%3").arg(whole).arg(mark).arg(tenths)
                             : QString::number(whole);
                return {number + QString::fromUtf8(units[pick(6)]),
                        whole + (decimals ? tenths / 10.0 : 0.0)};
            }
            case 1: {  // digit groups
                const int thousands = 1 + pick(80);
                const int rest = pick(1000);
                return {QStringLiteral("%1%2%3")
                            .arg(thousands)
                            .arg(QString::fromUtf8(separators[pick(3)]))
                            .arg(rest, 3, 10, QLatin1Char('0')),
                        thousands * 1000.0 + rest};
            }
            case 2: {  // out of range either way
                const int below = 1 + pick(50);
                if (pick(2) == 0)
                    return {QStringLiteral("-%1").arg(below), -static_cast<double>(below)};
                return {QStringLiteral("99999999"), 99999999.0};
            }
            case 3:
                return {QString::fromUtf8(garbage[pick(10)]), std::nullopt};
            case 4:
                return {QString(), std::nullopt};
            case 5:  // very long: only the first nine characters count
                return {QStringLiteral("7") + QString(30, QLatin1Char('x')), 7.0};
            default: {
                const int small = pick(100);
                return {QString::number(small), static_cast<double>(small)};
            }
        }
    }

    struct FieldState {
        const SettingParam* param = nullptr;
        sim::SimulatedPort* device = nullptr;  // selected when it was typed
        bool changed = false;
        bool known = true;
        std::optional<double> number = std::nullopt;
    };
    struct Expected {
        sim::SimulatedPort* device;
        Bytes frame;  // exact frame, or empty with `param` set: any value
        const SettingParam* param = nullptr;
        bool optional = false;  // the device may already hold it
        // A value the write refuses unless confirmed: it comes only after Yes.
        bool asks = false;
    };

    std::map<QObject*, FieldState> m_fields;
    std::vector<Expected> m_expected;
    int m_writes_seen = 0;

    sim::SimulatedPort* selected() { return device_of(selected_family()); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto it = m_fields.find(watched);
        if (it == m_fields.end())
            return false;
        const bool popup =
            (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) &&
            static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason;
        if (event->type() == QEvent::FocusIn && !popup) {
            it->second = FieldState{it->second.param};
        } else if (event->type() == QEvent::FocusOut && !popup) {
            expect_leave(it->second);
            it->second = FieldState{it->second.param};
        }
        return false;
    }

    void expect_leave(const FieldState& f) {
        // Values not read from the device: refused, nothing sent.
        if (!f.changed || !device_state.values_current())
            return;
        const SettingParam& p = *f.param;
        if (!f.known) {
            m_expected.push_back({f.device, {}, &p, true});
            return;
        }
        if (!f.number)
            return;
        const double wire = std::trunc(*f.number * p.scale);
        const int max = p.payload_width == 1 ? 0xFF : 0xFFFF;
        if (!(wire >= 0 && wire <= max))
            return;
        // The typed number is compared with the value last read, which a
        // write since may have changed on the device: either way the device
        // may be left as it is.
        const int held = f.device->with_device(
            [&](sim::SimDevice& d) { return static_cast<int>(d.value(p.write_command + 1)); });
        const bool as_read = *f.number == static_cast<double>((device_state.*p.field).load());
        if (std::signbit(*f.number))
            return;  // a negative number is refused, even one that truncates to 0
        m_expected.push_back({f.device, write_frame(p, static_cast<int>(wire)), &p,
                              static_cast<int>(wire) == held || as_read,
                              !as_read && asks_first(p, wire)});
    }

    // Whether the write of `wire` needs the technician's Yes: outside the span
    // of the unit's class (or the class unknown where it matters), or at or
    // beyond a partner of an ordered pair as last read.
    bool asks_first(const SettingParam& p, double wire) {
        const VoltageClass judged = judge_voltage_class(device_state);
        if (p.variable->class_ranged() && !judged.established())
            return true;
        if (!p.variable->plausible(judged.established() ? judged.volts : 24).holds(wire / p.scale))
            return true;
        const Family family = family_of(p);
        for (const SettingOrder& order : setting_orders()) {
            const bool lower = std::string_view(p.name) == order.lower;
            if (!has_family(order.families, family) ||
                (!lower && std::string_view(p.name) != order.upper))
                continue;
            const Variable* partner =
                find_setting_variable(lower ? order.upper : order.lower, family);
            const double other = std::round((device_state.*partner->field).load() * partner->scale);
            if (lower ? wire >= other : wire <= other)
                return true;
        }
        return false;
    }

    // The box that asks: Yes or No at random. Yes makes the frame due, No
    // forbids it. A box the oracle did not foresee (a pass changed a partner
    // meanwhile) leaves the latest write free either way.
    bool answer_box(QDialog& dialog) {
        auto* box = qobject_cast<QMessageBox*>(&dialog);
        if (box == nullptr || box->button(QMessageBox::Yes) == nullptr)
            return false;
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        const bool yes = pick(2) == 0;
        auto asked = std::find_if(m_expected.rbegin(), m_expected.rend(),
                                  [](const Expected& e) { return e.asks; });
        if (asked != m_expected.rend()) {
            asked->asks = false;
            // A Yes given after another device tab was chosen writes nothing.
            if (!yes || asked->device != selected())
                m_expected.erase(std::next(asked).base());
        } else if (!m_expected.empty()) {
            m_expected.back().optional = true;
        }
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        return true;
    }

    // Every payload frame and action the devices received since the last look
    // must be expected; every expected frame that is not optional must come.
    void check(unsigned long action, const char* what) {
        for (sim::SimulatedPort* device : {m_qm, m_kx}) {
            for (const Bytes& frame : device->received()) {
                const bool action_frame = frame.size() == 3 && (frame[1] == cmd::kGenerationOn ||
                                                                frame[1] == cmd::kGenerationOff);
                if (frame.size() <= 3 && !action_frame)
                    continue;  // the worker's reads
                auto match =
                    std::find_if(m_expected.begin(), m_expected.end(), [&](const Expected& e) {
                        if (e.device != device)
                            return false;
                        if (!e.frame.empty())
                            return e.frame == frame;
                        return frame.size() > 3 && frame[1] == e.param->write_command &&
                               frame.size() == static_cast<size_t>(3 + e.param->payload_width);
                    });
                ASSERT_NE(match, m_expected.end())
                    << "unexpected frame "
                    << QByteArray(reinterpret_cast<const char*>(frame.data()),
                                  static_cast<int>(frame.size()))
                           .toHex(' ')
                           .toStdString()
                    << " on " << (device == m_kx ? "KX" : "QM") << " after action " << action
                    << " (" << what << ")";
                m_expected.erase(match);
                ++m_writes_seen;
            }
            device->clear_log();
        }
        for (const Expected& e : m_expected)
            ASSERT_TRUE(e.optional || e.asks)
                << "missing frame on " << (e.device == m_kx ? "KX" : "QM") << " for "
                << (e.param ? e.param->name : "?") << " after action " << action << " (" << what
                << ")";
        m_expected.clear();
    }

    QLineEdit* focused_field() {
        auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        return edit != nullptr && m_fields.count(edit) ? edit : nullptr;
    }

    std::vector<const SettingParam*> visible_fields() {
        std::vector<const SettingParam*> out;
        for (const SettingParam& p : setting_params())
            if (field(p)->isVisible())
                out.push_back(&p);
        return out;
    }

    const char* act() {
        QLineEdit* focus = focused_field();
        const int roll = pick(100);
        if (roll < 4) {
            select_device(pick(2) == 0 ? Family::Kx : Family::Qm);
            return "device tab";
        }
        if (roll < 9) {
            if (m_dlg->qm_page()->isVisible()) {
                m_dlg->qm_page()->settings_tab()->tabBar()->setFocus(Qt::MouseFocusReason);
                m_dlg->qm_page()->settings_tab()->setCurrentIndex(pick(4));
            }
            return "settings tab";
        }
        if (roll < 25 || (roll < 55 && focus == nullptr)) {
            const auto fields = visible_fields();
            if (!fields.empty())
                field(*fields[static_cast<size_t>(pick(static_cast<int>(fields.size())))])
                    ->setFocus(Qt::MouseFocusReason);
            return "enter field";
        }
        if (roll < 55 && focus != nullptr) {
            const auto at = m_fields.find(focus);
            const Typed typed = grammar(at != m_fields.end() ? at->second.param : nullptr);
            const bool replace = pick(4) != 0;
            const QString before = focus->text();
            if (replace)
                focus->selectAll();
            type_text(focus, typed.text);
            FieldState& f = m_fields[focus];
            if (focus->text() != before) {
                f.changed = true;
                f.device = selected();
                f.known = replace && focus->text() == typed.text;
                f.number = typed.number;
            }
            return "type";
        }
        if (roll < 60 && focus != nullptr) {
            const QString before = focus->text();
            QTest::keyClick(focus, Qt::Key_Backspace);
            if (focus->text() != before) {
                FieldState& f = m_fields[focus];
                f.changed = true;
                f.known = false;
                f.device = selected();
            }
            return "backspace";
        }
        if (roll < 80) {
            // Inside a page or on the device tabs (a focused button would be
            // pressed). The window must stay open whatever the key.
            static const Qt::Key keys[] = {Qt::Key_Tab, Qt::Key_Return, Qt::Key_Escape};
            QWidget* target = QApplication::focusWidget();
            const bool in_page = target != nullptr && (m_dlg->kx_page()->isAncestorOf(target) ||
                                                       m_dlg->qm_page()->isAncestorOf(target));
            if (in_page || (target != nullptr && target == m_dlg->tabs()->bar()))
                QTest::keyClick(target, keys[pick(3)]);
            return "key";
        }
        if (roll < 88) {
            QTest::qWait(50 + pick(350));
            return "wait";
        }
        if (roll < 91) {
            // Switching off is asked first (and answered either way);
            // switching on is not.
            const bool yes = pick(2) == 0;
            m_boxes.answer = [yes](QDialog& modal) { return answer_question(modal, yes); };
            const size_t boxes = m_boxes.seen().size();
            sim::SimulatedPort* device = selected();
            m_dlg->gen_button()->setFocus(Qt::MouseFocusReason);
            m_dlg->gen_button()->click();
            m_boxes.answer = nullptr;
            const bool asked = m_boxes.seen().size() > boxes;
            if (!asked)
                m_expected.push_back({device, {kFrameStart, cmd::kGenerationOn, kFrameEnd}});
            else if (yes)
                m_expected.push_back({device, {kFrameStart, cmd::kGenerationOff, kFrameEnd}});
            return asked ? (yes ? "generation off, confirmed" : "generation off, declined")
                         : "generation on";
        }
        if (roll < 93) {
            m_dlg->OnCounters();
            return "counters";
        }
        auto* generator =
            qobject_cast<c_settings_tab*>(m_dlg->qm_page()->settings_tab()->widget(3));
        if (roll < 96) {
            auto* combo = generator->get<QComboBox>(tab4_id::kEGenUbat);
            if (combo->isVisible() && combo->isEnabled()) {
                const int index = pick(2);
                combo->setFocus(Qt::MouseFocusReason);
                combo->setCurrentIndex(index);
                m_expected.push_back(
                    {m_qm, {kFrameStart, kEGenUbatWrite, static_cast<uint8_t>(index), kFrameEnd}});
                emit combo->activated(index);
            }
            return "start mode";
        }
        auto* training = generator->get<QCheckBox>(tab4_id::kTraining);
        if (training->isVisible() && training->isEnabled()) {
            const uint8_t seconds = training->isChecked() ? 0 : kTrainingOnSeconds;
            m_expected.push_back({m_qm, {kFrameStart, kEGenWorkWrite, 0, seconds, kFrameEnd}});
            training->click();
        }
        return "training";
    }
};

TEST_F(Technician, WritesOnlyWhatWasTypedToTheDeviceItWasTypedFor) {
    const unsigned long seed = env_number("ZORVANE_FUZZ_SEED", std::random_device{}());
    const unsigned long actions = env_number("ZORVANE_FUZZ_ACTIONS", kDefaultActions);
    rng.seed(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) +
                 "; replay with ZORVANE_FUZZ_SEED=" + std::to_string(seed));
    RecordProperty("seed", std::to_string(seed));
    RecordProperty("actions", std::to_string(actions));

    m_boxes.answer = [this](QDialog& dialog) { return answer_box(dialog); };
    open_window();
    for (const SettingParam& p : setting_params()) {
        QLineEdit* edit = field(p);
        m_fields[edit] = FieldState{&p};
        edit->installEventFilter(this);
    }
    m_qm->clear_log();
    m_kx->clear_log();
    for (unsigned long i = 0; i < actions; ++i) {
        const char* what = act();
        QApplication::processEvents();
        // A box or the counters window took the activation: the technician
        // comes back to the main window.
        if (!m_dlg->isActiveWindow()) {
            m_dlg->activateWindow();
            (void)QTest::qWaitForWindowActive(m_dlg.get(), 1000);
        }
        ASSERT_TRUE(m_dlg->isVisible()) << "closed by action " << i << " (" << what << ")";
        check(i, what);
        if (HasFatalFailure())
            return;
    }
    // The window closes with no field being typed: nothing more is written.
    m_fields.clear();
    m_dlg->close();
    m_dlg.reset();
    check(actions, "close");
    RecordProperty("frames_written", m_writes_seen);
    std::printf("seed %lu: %lu actions, %d frames written\n", seed, actions, m_writes_seen);
}

}  // namespace
}  // namespace zorvane::testing
