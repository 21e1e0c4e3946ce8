#include "common/Log.h"
#include "platform/LogInterface.h"

#include <QtTest>

#include <unistd.h>

// The logging stand-in and the log call: what reaches standard error.
class TestLogInterface : public QObject {
    Q_OBJECT

private:
    // Runs fn with standard error redirected into a pipe and returns what was written.
    template <typename Fn> static QByteArray captureStderr(Fn fn)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return QByteArray();
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[1]);
        fn();
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        QByteArray out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<int>(n));
        ::close(fds[0]);
        return out;
    }

private slots:
    // Each level gets the sd-daemon priority prefix journald expects.
    void priorityPrefix_data()
    {
        QTest::addColumn<unsigned int>("level");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("failure") << 1u << QByteArray("<3>text\n");
        QTest::newRow("refused") << 2u << QByteArray("<4>text\n");
        QTest::newRow("notable") << 4u << QByteArray("<5>text\n");
        QTest::newRow("trace") << 9u << QByteArray("<7>text\n");
    }
    void priorityPrefix()
    {
        QFETCH(unsigned int, level);
        QFETCH(QByteArray, expected);
        LogInterface log(QStringLiteral("/log"));
        QCOMPARE(captureStderr([&] { log.EmitLogString(level, "text", "/obj"); }), expected);
    }

    // Text is data: format directives are written as they are, control
    // characters are escaped so that one call stays one line.
    void textIsDataAndOneLine()
    {
        LogInterface log(QStringLiteral("/log"));
        const QByteArray out = captureStderr(
            [&] { log.EmitLogString(4, "file %s%n.jpg\nforged line\ttab\x01\x7f end", "/obj"); });
        QCOMPARE(out, QByteArray("<5>file %s%n.jpg\\nforged line\\ttab\\x01\\x7f end\n"));
    }

    // The log call: prefix with source file, line and signature, the photo
    // object path, and a line cut at 511 characters.
    void logCallFormatsPrefixAndCutsLongLines()
    {
        struct Capture : LogInterface {
            Capture()
                : LogInterface(QStringLiteral("/log"))
            {
            }
            void EmitLogString(unsigned int level, const char* text, const char* path) override
            {
                lastLevel = level;
                lastText = text;
                lastPath = path;
            }
            unsigned int lastLevel = 0;
            QByteArray lastText;
            QByteArray lastPath;
        } capture;
        LogInterface* previous = _logInterface;
        _logInterface = &capture;

        const int line = __LINE__ + 1;
        PM_LOG(2, "[%s:%d] %s: value %d, name %s", 42, "%n");
        QCOMPARE(capture.lastLevel, 2u);
        QCOMPARE(capture.lastPath, QByteArray("/com/zandrel/quor/photomanager/photoobj"));
        QCOMPARE(capture.lastText,
            QByteArray("[" __FILE__ ":") + QByteArray::number(line)
                + "] void TestLogInterface::logCallFormatsPrefixAndCutsLongLines(): value "
                  "42, name %n");

        const QByteArray longName(1000, 'x');
        PM_LOG(4, "[%s:%d] %s: remove exceeding file: %s", longName.constData());
        QCOMPARE(capture.lastText.size(), 511);
        _logInterface = previous;
    }
};

QTEST_GUILESS_MAIN(TestLogInterface)
#include "tst_loginterface.moc"
