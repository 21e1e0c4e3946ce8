#include "MachineDrain.h"
#include "PhotoManagerCtrl.h"
#include "RecordingLog.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo state machine driven through the controller, in-process and
// without a bus; states and the controller's operations show in the log.
class TestStateMachine : public QObject {
    Q_OBJECT

    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;
    MachineDrain* m_drain = nullptr;

    // State changes and the controller's operations in order: "Off+" enters
    // OffState, "Off-" leaves it; operations by their first word.
    QString trace() const
    {
        QStringList steps;
        for (QString step : m_log->messages().filter(QRegularExpression(
                 "State::on|^(Enable|Disable) [cC]amera$|^Capture Photo$|capture photo timer$")))
            steps << (step.contains("State::")
                    ? step.replace("State::onEntry", "+").replace("State::onExit", "-")
                    : step.section(' ', 0, 0).toLower());
        return steps.join(' ');
    }
    // Runs the steps in order: "up" and "down" report the camera manager
    // arriving and leaving; "on", "off" and "photo" are client requests;
    // "~On+" waits for OnState's next entry, "stopped" for the machine to
    // stop; "quick" shortens the capture guard. Then lets the machine settle.
    void run(const QString& script)
    {
        QHash<QString, int> waits;
        DBusInterface* hub = m_ctrl->dbusInterface();
        for (const QString& step : script.split(' ')) {
            if (step == "up" || step == "down")
                emit hub->EventReceived(Hub::CameraEvent_ServiceAvailable, {step == "up"});
            else if (step == "on" || step == "off")
                emit hub->CommandReceived(Hub::PhotoCommand_EnableCamera, {step == "on"});
            else if (step == "photo")
                emit hub->CommandReceived(Hub::PhotoCommand_TakePhoto, {});
            else if (step == "quick")
                m_ctrl->setCaptureTimeout(10);
            else if (step == "stopped")
                QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
            else
                QVERIFY(m_log->waitFor(
                    QString(step).replace("~", "").replace("+", "State::onEntry"), ++waits[step]));
        }
        QVERIFY(m_drain->drain());
    }

private slots:
    void init()
    {
        Configuration::setFilePath("/nonexistent/settings.ini");
        m_log = new RecordingLog;
        m_ctrl = new PhotoManagerCtrl("/com/zandrel/quor/photomanager/photoobj");
        // The wiring Initialize makes, without a bus.
        QVERIFY(connect(m_ctrl->dbusInterface(),
            SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)), m_ctrl,
            SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList))));
        QVERIFY(connect(m_ctrl->dbusInterface(),
            SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)), m_ctrl,
            SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList))));
        m_drain = new MachineDrain(m_ctrl->stateMachine());
        run("up ~Off+"); // a start enters OffState with the camera off
        QCOMPARE(trace(), "Off+ disable");
        m_log->lines.clear();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
    }

    // A photo switches the camera on for it from OffState and leaves it on
    // from OnState; the guard ends a capture nothing reports on, requests
    // meanwhile are discarded. The camera manager leaving ends a capture, and
    // the next start enters OffState, also when it comes before the stop took
    // effect.
    void sequences_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString fromOn = "Off- enable On+ On- Capture+ start capture Capture- stop On+";
        const QString stop = fromOn + " Off+ disable";
        const QString fromOff = "Off- enable Capture+ start capture Capture- stop Off+ disable";
        QTest::newRow("photo from off") << "quick photo ~Off+" << fromOff;
        QTest::newRow("photo from on") << "quick on ~On+ photo ~On+" << fromOn;
        QTest::newRow("requests meanwhile") << "quick on ~On+ photo off photo on ~On+" << fromOn;
        QTest::newRow("stop, start") << "on ~On+ photo ~Capture+ down stopped on up ~Off+" << stop;
        QTest::newRow("return before the stop") << "on ~On+ photo ~Capture+ down up ~Off+" << stop;
    }
    void sequences()
    {
        QFETCH(QString, script);
        run(script);
        QTEST(trace(), "expected");
    }
};

QTEST_GUILESS_MAIN(TestStateMachine)
#include "tst_statemachine.moc"
