#include "MachineDrain.h"
#include "PhotoManagerCtrl.h"
#include "RecordingLog.h"
#include "common/BusNames.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo state machine driven through the controller, in-process without a
// bus. A trace of the log shows states entered ("Off+") and left ("Off-") and
// the controller's operations by their first word.
class TestStateMachine : public QObject {
    Q_OBJECT

private slots:
    // A photo switches the camera on for it from OffState and leaves it on from
    // OnState; the guard ends a capture nothing reports on, requests meanwhile
    // are discarded. The camera manager leaving ends a capture, and the next
    // start enters OffState, also when it comes before the stop took effect.
    void sequences_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        const QString fromOn = "Off- enable On+ On- Capture+ start capture Capture- stop On+";
        const QString stop = fromOn + " Off+ disable";
        const QString fromOff = "Off- enable Capture+ start capture Capture- stop Off+ disable";
        QTest::newRow("photo from off") << "quick photo ~Off+" << fromOff;
        QTest::newRow("requests meanwhile") << "quick on ~On+ photo off photo on ~On+" << fromOn;
        QTest::newRow("stop, start")
            << "on ~On+ guard photo ~Capture+ down stopped on up ~Off+" << stop;
        QTest::newRow("return before the stop") << "on ~On+ photo ~Capture+ down up ~Off+" << stop;
        QTest::newRow("photo before the start") << "up photo quick ~Off+ ~Off+" << fromOff;
    }
    // Each script runs after a start, which enters OffState with the camera
    // off, unless it starts the machine itself: "up" and "down" report the camera manager arriving
    // and leaving; "on", "off" and "photo" are client requests; "quick" shortens the capture guard,
    // "guard" notes its time left as the next capture starts (two minutes, a coarse timer's 5 %
    // aside); "stopped" waits for the machine to stop,
    // "~On+" for OnState's next entry. Then the machine settles.
    void sequences()
    {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        Configuration::setFilePath("/nonexistent/settings.ini");
        RecordingLog log;
        const auto dumpOnFailure = qScopeGuard([&] {
            if (QTest::currentTestFailed())
                log.dump();
        });
        PhotoManagerCtrl ctrl(BusNames::kPhotoPath);
        // The wiring Initialize makes, without a bus (the slots are private).
        Hub* hub = ctrl.dbusInterface();
        QVERIFY(connect(hub, SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)),
            &ctrl, SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList))));
        QVERIFY(connect(hub, SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)), &ctrl,
            SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList))));
        MachineDrain* drain = new MachineDrain(ctrl.stateMachine()); // the machine's
        QHash<QString, int> waits;
        int guardLeft = -2;
        const QStringList steps
            = (script.startsWith("up") ? script : "up ~Off+ " + script).split(' ');
        for (const QString& step : steps) {
            if (step == "up" || step == "down")
                emit hub->EventReceived(Hub::CameraEvent_ServiceAvailable, {step == "up"});
            else if (step == "on" || step == "off")
                emit hub->CommandReceived(Hub::PhotoCommand_EnableCamera, {step == "on"});
            else if (step == "photo")
                emit hub->CommandReceived(Hub::PhotoCommand_TakePhoto, {});
            else if (step == "quick")
                ctrl.setCaptureTimeout(10);
            else if (step == "guard")
                log.onLine = [&](const QString& line) {
                    if (line.endsWith("Capture Photo"))
                        guardLeft = ctrl.captureTimeRemaining();
                };
            else if (step == "stopped")
                QTRY_VERIFY(!ctrl.stateMachine().isRunning());
            else
                QVERIFY(log.waitFor(
                    QString(step).replace("~", "").replace("+", "State::onEntry"), ++waits[step]));
        }
        QVERIFY(drain->drain());
        QVERIFY(!script.contains("guard") || qAbs(guardLeft - 120000) < 6000);
        static const QRegularExpression traced(
            "State::on|^(Enable|Disable) [cC]amera$|^Capture Photo$|capture photo timer$");
        QStringList trace;
        const QStringList lines = log.messages().filter(traced);
        for (QString step : lines)
            trace << (step.contains("State::")
                    ? step.replace("State::onEntry", "+").replace("State::onExit", "-")
                    : step.section(' ', 0, 0).toLower());
        QCOMPARE(trace.join(' '), "Off+ disable " + expected);
    }
};

QTEST_GUILESS_MAIN(TestStateMachine)
#include "tst_statemachine.moc"
