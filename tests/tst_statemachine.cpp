#include "PhotoManagerCtrl.h"
#include "RecordingLog.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo state machine driven through the controller, in-process and
// without a bus: the controller's operations show in their log lines.
class TestStateMachine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;

    Hub* hub() const
    {
        return m_ctrl->dbusInterface();
    }
    void command(Hub::PhotoCommand cmd, const QVariantList& args = {})
    {
        emit hub()->CommandReceived(cmd, args);
    }
    void cameraEvent(Hub::CameraEvent evt, const QVariantList& args)
    {
        emit hub()->EventReceived(evt, args);
    }
    // State changes and the operations the states call, in order.
    QStringList trace() const
    {
        static const QStringList wanted{QStringLiteral("State::on"),
            QStringLiteral("Enable camera"), QStringLiteral("Disable Camera"),
            QStringLiteral("capture photo timer"), QStringLiteral("Capture Photo")};
        QStringList result;
        for (const QString& message : m_log->messages()) {
            for (const QString& fragment : wanted) {
                if (message.contains(fragment))
                    result << message;
            }
        }
        return result;
    }
    // Events are handled in order, so once the marker's effect shows, every
    // event posted before it has been handled too.
    void settleWith(Hub::PhotoCommand cmd, bool enable, const QString& effect)
    {
        const int before = m_log->count(effect);
        command(cmd, cmd == Hub::PhotoCommand_EnableCamera ? QVariantList{enable} : QVariantList{});
        QVERIFY(m_log->waitFor(effect, before + 1));
    }
    void startInOff()
    {
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor(QStringLiteral("statemachine available")));
        QVERIFY(m_ctrl->stateMachine().isRunning());
    }
    void startInOn()
    {
        startInOff();
        settleWith(Hub::PhotoCommand_EnableCamera, true, QStringLiteral("OnState::onEntry"));
        m_log->clear();
    }

private slots:
    void initTestCase()
    {
        Configuration::setFilePath(m_dir.path() + QStringLiteral("/none.ini"));
    }
    void init()
    {
        m_log = new RecordingLog;
        m_ctrl = new PhotoManagerCtrl("/com/zandrel/quor/photomanager/photoobj");
        // The wiring Initialize makes, without registering anything on a bus.
        QVERIFY(connect(hub(), SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)),
            m_ctrl, SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList))));
        QVERIFY(connect(hub(), SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)),
            m_ctrl, SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList))));
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
    }

    // Start enters OffState (camera off); enabling moves to OnState.
    void startThenEnable()
    {
        startInOff();
        settleWith(Hub::PhotoCommand_EnableCamera, true, QStringLiteral("OnState::onEntry"));
        QCOMPARE(trace(),
            (QStringList{QStringLiteral("OffState::onEntry"), QStringLiteral("Disable Camera"),
                QStringLiteral("OffState::onExit"), QStringLiteral("Enable camera"),
                QStringLiteral("OnState::onEntry")}));
    }

    // A photo from OffState switches the camera on for it and off afterwards;
    // from OnState it leaves the camera on. Either way the machine returns
    // to the state the capture interrupted.
    void captureReturnsToInterruptedState()
    {
        startInOff();
        m_log->clear();
        command(Hub::PhotoCommand_TakePhoto);
        cameraEvent(Hub::CameraEvent_CaptureDone, {0, QStringLiteral("/p/a.jpg")});
        QVERIFY(m_log->waitFor(QStringLiteral("OffState::onEntry")));
        QCOMPARE(trace(),
            (QStringList{QStringLiteral("OffState::onExit"), QStringLiteral("Enable camera"),
                QStringLiteral("CaptureState::onEntry"),
                QStringLiteral("Start capture photo timer"), QStringLiteral("Capture Photo"),
                QStringLiteral("CaptureState::onExit"), QStringLiteral("Stop capture photo timer"),
                QStringLiteral("OffState::onEntry"), QStringLiteral("Disable Camera")}));
        settleWith(Hub::PhotoCommand_EnableCamera, true, QStringLiteral("OnState::onEntry"));
        m_log->clear();
        command(Hub::PhotoCommand_TakePhoto);
        cameraEvent(Hub::CameraEvent_CaptureDone,
            {5, QStringLiteral("/p/b.jpg")}); // a failed capture ends it too
        QVERIFY(m_log->waitFor(QStringLiteral("OnState::onEntry")));
        QCOMPARE(trace(),
            (QStringList{QStringLiteral("OnState::onExit"), QStringLiteral("CaptureState::onEntry"),
                QStringLiteral("Start capture photo timer"), QStringLiteral("Capture Photo"),
                QStringLiteral("CaptureState::onExit"), QStringLiteral("Stop capture photo timer"),
                QStringLiteral("OnState::onEntry")}));
    }

    // During a capture, enable, disable and further photos are discarded, not
    // deferred; a capture-done event outside a capture does nothing.
    void eventsDiscardedWhereTheyDoNotApply()
    {
        startInOn();
        command(Hub::PhotoCommand_TakePhoto);
        command(Hub::PhotoCommand_EnableCamera, {false});
        command(Hub::PhotoCommand_TakePhoto);
        command(Hub::PhotoCommand_EnableCamera, {true});
        cameraEvent(Hub::CameraEvent_CaptureDone, {0, QStringLiteral("/p/a.jpg")});
        cameraEvent(Hub::CameraEvent_CaptureDone, {0, QStringLiteral("/p/a.jpg")});
        settleWith(Hub::PhotoCommand_EnableCamera, false, QStringLiteral("OffState::onEntry"));
        QCOMPARE(m_log->count(QStringLiteral("Capture Photo")), 1);
        QCOMPARE(trace().mid(6),
            (QStringList{QStringLiteral("OnState::onEntry"), QStringLiteral("OnState::onExit"),
                QStringLiteral("OffState::onEntry"), QStringLiteral("Disable Camera")}));
    }

    // The type number alone decides: a plain QEvent of type 1001 enables,
    // other types move nothing.
    void dispatchByTypeNumber()
    {
        startInOff();
        m_log->clear();
        m_ctrl->stateMachine().postEvent(new QEvent(static_cast<QEvent::Type>(QEvent::User + 5)));
        m_ctrl->stateMachine().postEvent(new QEvent(static_cast<QEvent::Type>(QEvent::User + 1)));
        QVERIFY(m_log->waitFor(QStringLiteral("OnState::onEntry")));
        QCOMPARE(trace(),
            (QStringList{QStringLiteral("OffState::onExit"), QStringLiteral("Enable camera"),
                QStringLiteral("OnState::onEntry")}));
    }

    // The capture guard ends a capture whose CaptureDone never comes.
    void captureGuardEndsCapture()
    {
        m_ctrl->setCaptureTimeout(100);
        startInOn();
        command(Hub::PhotoCommand_TakePhoto);
        QVERIFY(m_log->waitFor(QStringLiteral("OnState::onEntry")));
        QCOMPARE(m_log->count(QStringLiteral("Stop capture photo timer")), 1);
    }

    // The camera manager leaving and coming back before the stop has taken
    // effect: the machine ends up running, freshly started in OffState.
    void quickLeaveAndReturn()
    {
        startInOn();
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {false});
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor(QStringLiteral("statemachine available")));
        QVERIFY(m_ctrl->stateMachine().isRunning());
        QCOMPARE(trace(),
            (QStringList{QStringLiteral("OffState::onEntry"), QStringLiteral("Disable Camera")}));
    }

    // A stop runs no exit action; the next start enters OffState again. Events
    // sent while the machine is stopped have no effect.
    void stopAndRestart()
    {
        startInOn();
        command(Hub::PhotoCommand_TakePhoto);
        QVERIFY(m_log->waitFor(QStringLiteral("Capture Photo")));
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {false});
        QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
        command(Hub::PhotoCommand_EnableCamera, {true});
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {false});
        m_log->clear();
        startInOff();
        QCOMPARE(trace(),
            (QStringList{QStringLiteral("OffState::onEntry"), QStringLiteral("Disable Camera")}));
        QCOMPARE(m_log->count(QStringLiteral("Stop photo SM")), 0);
    }
};

QTEST_GUILESS_MAIN(TestStateMachine)
#include "tst_statemachine.moc"
