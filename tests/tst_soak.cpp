#include "DaemonProcess.h"
#include "PhotoClient.h"
#include "PrivateBus.h"

#include <QtTest>

#include <algorithm>

// make soak: photos one by one through the binary with the benchmarks' fast
// sibling fakes, whose camera writes each photo. Each must be reported under a
// new name, not one in the folder before it, in a folder of at most 101
// files; the daemon's memory must not grow after warm-up nor its log hold a
// failure line.
class TestSoak : public QObject {
    Q_OBJECT

    PrivateBus m_bus;

private slots:
    void photos()
    {
        const int photos = qEnvironmentVariableIntValue("SOAK_PHOTOS");
        if (photos <= 0)
            QSKIP("make soak sets SOAK_PHOTOS");
        QVERIFY(m_bus.start());
        DaemonProcess daemon;
        QProcess peers[3]; // the camera writes each photo, as the device's does
        for (int i = 0; i < 3; ++i)
            peers[i].start(qEnvironmentVariable("PHOTOMANAGER_BENCH_PEER"),
                {QStringList{"camera", "rgb", "status"}.at(i), daemon.dataDir()});
        QVERIFY(daemon.start() && daemon.waitForService());
        QVERIFY(daemon.waitForLine("statemachine available"));
        PhotoClient client;
        QSet<QString> names;
        QList<qint64> memory; // resident pages every 500 photos
        for (int n = 1; n <= photos; ++n) {
            client.received.clear();
            const QStringList before = QDir(daemon.photoDir()).entryList(QDir::Files);
            QCOMPARE(client.callStatus("TakePhoto"), 0);
            QVERIFY2(client.waitForSignal("PhotoTaken"), qPrintable(QString::number(n)));
            const QString taken = client.received.filter("PhotoTaken").constFirst();
            const QString name = taken.section('/', -1).chopped(1);
            QVERIFY2(taken.startsWith("PhotoTaken(0,") && !names.contains(name), qPrintable(taken));
            names << name;
            QVERIFY2(!before.contains(name) && QFile::exists(daemon.photoDir() + '/' + name),
                "overwrite");
            QVERIFY(QDir(daemon.photoDir()).entryList(QDir::Files).size() <= 101);
            QFile statm(QStringLiteral("/proc/%1/statm").arg(daemon.process.processId()));
            if ((n % 500 == 0 || n == photos) && statm.open(QIODevice::ReadOnly)) {
                memory << statm.readAll().split(' ').value(1).toLongLong();
                qInfo("%d photos, %lld resident pages", n, memory.last());
                QCOMPARE(daemon.logLines().filter(QRegularExpression("^<3>")), QStringList());
            }
        }
        const QList<qint64> warm = memory.mid(memory.size() / 5); // may wobble, not climb
        const qint64 least = warm.isEmpty() ? 0 : *std::min_element(warm.cbegin(), warm.cend());
        QVERIFY(warm.isEmpty() || warm.last() - least <= std::max<qint64>(64, least / 50));
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
