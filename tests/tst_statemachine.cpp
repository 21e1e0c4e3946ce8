#include "PhotoManagerCtrl.h"
#include "RecordingLog.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo state machine driven through the controller, in-process and
// without a bus; states and the controller's operations show in the log.
class TestStateMachine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;

    void command(Hub::PhotoCommand cmd, const QVariantList& args = {})
    {
        emit m_ctrl->dbusInterface()->CommandReceived(cmd, args);
    }
    void cameraEvent(Hub::CameraEvent evt, const QVariantList& args)
    {
        emit m_ctrl->dbusInterface()->EventReceived(evt, args);
    }
    // State changes and operations in order, abbreviated: "Off+" enters
    // OffState, "Off-" leaves it; "enable", "disable", "guard+", "photo", "guard-".
    QString trace() const
    {
        static const QList<QPair<QString, QString>> names{{"OffState::onEntry", "Off+"},
            {"OffState::onExit", "Off-"}, {"OnState::onEntry", "On+"}, {"OnState::onExit", "On-"},
            {"CaptureState::onEntry", "Capture+"}, {"CaptureState::onExit", "Capture-"},
            {"Enable camera", "enable"}, {"Disable Camera", "disable"},
            {"Start capture photo timer", "guard+"}, {"Stop capture photo timer", "guard-"},
            {"Capture Photo", "photo"}};
        QStringList result;
        for (const QString& message : m_log->messages()) {
            for (const auto& name : names) {
                if (message == name.first)
                    result << name.second;
            }
        }
        return result.join(' ');
    }
    // Events are handled in order: once this enable or disable shows, all
    // events posted before it have been handled.
    void settle(bool enable)
    {
        const QString effect = enable ? "OnState::onEntry" : "OffState::onEntry";
        const int before = m_log->count(effect);
        command(Hub::PhotoCommand_EnableCamera, {enable});
        QVERIFY(m_log->waitFor(effect, before + 1));
    }
    void start(bool on = false)
    {
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("statemachine available"));
        if (on)
            settle(true);
        m_log->lines.clear();
    }

private slots:
    void initTestCase()
    {
        Configuration::setFilePath(m_dir.path() + "/none.ini");
    }
    void init()
    {
        m_log = new RecordingLog;
        m_ctrl = new PhotoManagerCtrl("/com/zandrel/quor/photomanager/photoobj");
        // The wiring Initialize makes, without a bus.
        QVERIFY(connect(m_ctrl->dbusInterface(),
            SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)), m_ctrl,
            SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList))));
        QVERIFY(connect(m_ctrl->dbusInterface(),
            SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)), m_ctrl,
            SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList))));
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
    }

    // A start enters OffState (camera off); enabling moves to OnState.
    void startThenEnable()
    {
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("statemachine available"));
        settle(true);
        QCOMPARE(trace(), "Off+ disable Off- enable On+");
    }

    // A photo from OffState switches the camera on for it and off after;
    // from OnState it leaves it on. A failed capture ends the capture too.
    void captureReturnsToInterruptedState_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("from off")
            << false << 0 << "Off- enable Capture+ guard+ photo Capture- guard- Off+ disable";
        QTest::newRow("from on, failed")
            << true << -5 << "On- Capture+ guard+ photo Capture- guard- On+";
    }
    void captureReturnsToInterruptedState()
    {
        QFETCH(bool, on);
        QFETCH(int, status);
        start(on);
        command(Hub::PhotoCommand_TakePhoto);
        cameraEvent(Hub::CameraEvent_CaptureDone, {status, "/p/a.jpg"});
        QVERIFY(m_log->waitFor(on ? "OnState::onEntry" : "OffState::onEntry"));
        QTEST(trace(), "expected");
    }

    // The capture guard ends a capture whose CaptureDone never comes.
    void captureGuardEndsCapture()
    {
        m_ctrl->setCaptureTimeout(100);
        start(true);
        command(Hub::PhotoCommand_TakePhoto);
        QVERIFY(m_log->waitFor("OnState::onEntry"));
        QCOMPARE(trace(), "On- Capture+ guard+ photo Capture- guard- On+");
    }

    // A stop runs no exit action, events meanwhile have no effect, and the
    // next start enters OffState again; a return before the stop has taken
    // effect restarts the machine all the same.
    void stopAndRestart_data()
    {
        QTest::addColumn<bool>("quickReturn");
        QTest::newRow("stop, then start") << false;
        QTest::newRow("return before the stop took effect") << true;
    }
    void stopAndRestart()
    {
        QFETCH(bool, quickReturn);
        start(true);
        command(Hub::PhotoCommand_TakePhoto);
        QVERIFY(m_log->waitFor("Capture Photo"));
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {false});
        if (!quickReturn) {
            QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
            command(Hub::PhotoCommand_EnableCamera, {true});
        }
        m_log->lines.clear();
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("statemachine available"));
        QVERIFY(m_ctrl->stateMachine().isRunning());
        QCOMPARE(trace(), "Off+ disable");
    }
};

QTEST_GUILESS_MAIN(TestStateMachine)
#include "tst_statemachine.moc"
