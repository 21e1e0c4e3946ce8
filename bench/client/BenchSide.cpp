#include "BenchSide.h"

#include "Clock.h"
#include "SignalWaiter.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

using namespace BusNames;

BenchSide::BenchSide(Kind kind, const BenchPrograms& programs, const BenchFolders& folders)
    : m_kind(kind)
    , m_programs(programs)
    , m_filesDir(folders.filesRoot + QStringLiteral("/photomanager-bench-%1-XXXXXX").arg(name()))
    , m_runtimeDir(
          folders.runtimeRoot + QStringLiteral("/photomanager-bench-%1-run-XXXXXX").arg(name()))
    // Several sides of a kind may run at once, each on its own bus.
    , m_connectionName(QStringLiteral("bench-%1-%2").arg(name()).arg(quintptr(this)))
{
}

BenchSide::~BenchSide()
{
    m_service.reset();
    m_peers.clear();
    QDBusConnection::disconnectFromBus(m_connectionName);
}

BenchSide::Kind BenchSide::kind() const
{
    return m_kind;
}

QString BenchSide::name() const
{
    switch (m_kind) {
    case Kind::Daemon:
        return QStringLiteral("daemon");
    case Kind::Floor:
        break;
    case Kind::Relay:
        return QStringLiteral("relay");
    }
    return QStringLiteral("floor");
}

bool BenchSide::start(int photoFiles, int maxPhotos)
{
    if (!m_filesDir.isValid() || !m_runtimeDir.isValid()
        || !QDir(m_filesDir.path()).mkpath(QStringLiteral("data/config"))
        || !fillPhotoFolder(m_kind == Kind::Daemon ? photoFiles : 0))
        return false;
    QFile settings(m_filesDir.path() + QStringLiteral("/data/config/settings.ini"));
    if (maxPhotos > 0
        && (!settings.open(QIODevice::WriteOnly)
            || settings.write(
                   QByteArray("[PHOTOMANAGER]\nmax_photos=") + QByteArray::number(maxPhotos) + '\n')
                < 0))
        return false;
    if (!m_bus.start())
        return false;
    if (!QDBusConnection::connectToBus(m_bus.address(), m_connectionName).isConnected())
        return false;

    const QStringList peers{
        QStringLiteral("camera"), QStringLiteral("rgb"), QStringLiteral("status")};
    const QStringList peerNames{QString::fromLatin1(kCameraService),
        QString::fromLatin1(kRgbService), QString::fromLatin1(kStatusService)};
    for (int i = 0; i < peers.size(); ++i) {
        // The camera writes its photos into this side's data folder.
        const QStringList arguments = i == 0
            ? QStringList{peers[i], m_filesDir.path() + QStringLiteral("/data")}
            : QStringList{peers[i]};
        m_peers.push_back(
            std::make_unique<ServiceProcess>(m_programs.peer, arguments, busAddress()));
        if (!m_peers.back()->start() || !waitForName(peerNames[i], true, 10000))
            return false;
    }

    if (m_kind != Kind::Daemon)
        return startService();
    // The daemon finds the camera manager within a second, starts its state
    // machine, and the off state switches video off.
    SignalWaiter cameraOff(connection(), QString::fromLatin1(kPhotoPath),
        QString::fromLatin1(kPhotoInterface), QStringLiteral("CameraEnabled"), QVariant(false));
    return cameraOff.isConnected() && startService() && cameraOff.waitFor(1, 30000);
}

bool BenchSide::startService(qint64* ownedNs, int timeoutMs)
{
    if (!m_service) {
        const bool daemon = m_kind == Kind::Daemon;
        const bool relay = m_kind == Kind::Relay;
        m_service = std::make_unique<ServiceProcess>(daemon ? m_programs.daemon
                : relay                                     ? m_programs.relay
                                                            : m_programs.floor,
            QStringList(), busAddress());
        m_service->setSandboxDataDir(m_filesDir.path() + QStringLiteral("/data"));
        m_service->setRuntimeDir(m_runtimeDir.path());
        m_service->setLogFile(logFile());
        m_service->setPrefix(daemon ? m_programs.daemonPrefix
                : relay             ? m_programs.relayPrefix
                                    : m_programs.floorPrefix);
    }

    // Watching before the start, so that the moment the name is taken is
    // seen as it happens.
    QDBusServiceWatcher watcher(QString::fromLatin1(kPhotoService), connection(),
        QDBusServiceWatcher::WatchForRegistration);
    QEventLoop loop;
    qint64 owned = 0;
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &watcher, [&] {
        owned = nowNs();
        loop.quit();
    });
    QObject::connect(&m_service->process(),
        QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);

    if (!m_service->start())
        return false;
    loop.exec();
    if (ownedNs)
        *ownedNs = owned;
    return owned != 0;
}

bool BenchSide::stopService()
{
    if (!m_service)
        return true;
    m_service->stop();
    return waitForName(QString::fromLatin1(kPhotoService), false, 10000);
}

ServiceProcess& BenchSide::service()
{
    return *m_service;
}

QDBusConnection BenchSide::connection() const
{
    return QDBusConnection(m_connectionName);
}

QString BenchSide::busAddress() const
{
    return m_bus.address();
}

QString BenchSide::photoDir() const
{
    return m_filesDir.path() + QStringLiteral("/data/photo");
}

QString BenchSide::logFile() const
{
    return m_kind == Kind::Daemon ? m_filesDir.path() + QStringLiteral("/daemon.log") : QString();
}

QVector<qint64> BenchSide::pids() const
{
    QVector<qint64> pids{m_bus.pid()};
    for (const auto& peer : m_peers)
        pids << peer->pid();
    if (m_service && m_service->isRunning())
        pids << m_service->pid();
    return pids;
}

namespace {
QDBusMessage methodCall(const char* service, const char* path, const char* interface,
    const QString& method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(service),
        QString::fromLatin1(path), QString::fromLatin1(interface), method);
    message.setArguments(args);
    return message;
}
} // namespace

bool BenchSide::isStatusZero(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1
        && reply.arguments().constFirst() == QVariant(0);
}

QDBusMessage BenchSide::photoCall(const QString& method, const QVariantList& args)
{
    return methodCall(kPhotoService, kPhotoPath, kPhotoInterface, method, args);
}

QDBusMessage BenchSide::cameraCall(const QString& method, const QVariantList& args)
{
    return methodCall(kCameraService, kCameraPath, kCameraInterface, method, args);
}

QDBusMessage BenchSide::rgbCall(const QString& method, const QVariantList& args)
{
    return methodCall(kRgbService, kRgbPath, kRgbInterface, method, args);
}

// Photos with distinct times, older than anything the daemon would write.
bool BenchSide::fillPhotoFolder(int files)
{
    const QString dir = photoDir();
    if (!QDir().mkpath(dir))
        return false;
    const int dirFd
        = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = dirFd >= 0;
    for (int i = 0; i < files && ok; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "image_20200101%06d.jpg", i);
        const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const timespec times[2] = {{1577836800 + i, 0}, {1577836800 + i, 0}};
        ok = fd >= 0 && ::write(fd, "jpeg", 4) == 4 && ::futimens(fd, times) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    if (dirFd >= 0)
        ::close(dirFd);
    return ok;
}

bool BenchSide::waitForName(const QString& name, bool owned, int timeoutMs)
{
    QDBusConnectionInterface* bus = connection().interface();
    const qint64 deadline = nowNs() + static_cast<qint64>(timeoutMs) * 1000000;
    while (bus->isServiceRegistered(name).value() != owned) {
        if (nowNs() > deadline)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
