#pragma once

#include <QAbstractTransition>
#include <QStateMachine>
#include <QTest>

// A transition of the whole machine that fires on a marker event of its own
// and changes no state. The machine handles events in the order posted, so
// once the marker has fired, every event posted before it has been handled.
class MachineDrain : public QAbstractTransition {
public:
    explicit MachineDrain(QStateMachine& machine)
        : m_machine(machine)
    {
        machine.addTransition(this);
    }
    bool drain()
    {
        m_fired = false;
        m_machine.postEvent(new QEvent(kMarker));
        return QTest::qWaitFor([this] { return m_fired; });
    }

protected:
    bool eventTest(QEvent* event) override
    {
        return event->type() == kMarker;
    }
    void onTransition(QEvent*) override
    {
        m_fired = true;
    }

private:
    static inline const auto kMarker = QEvent::Type(QEvent::registerEventType());
    QStateMachine& m_machine;
    bool m_fired = false;
};
