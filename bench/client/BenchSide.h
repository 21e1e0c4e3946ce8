#pragma once

#include "BenchBus.h"
#include "ServiceProcess.h"
#include "common/BusNames.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVector>

#include <memory>
#include <vector>

// Where the bench finds its programs.
struct BenchPrograms {
    QString daemon;
    QString floor;
    QString relay;
    QString peer;
    // Run the daemon, the floor or the relay under another program (profiling).
    QStringList daemonPrefix;
    QStringList floorPrefix;
    QStringList relayPrefix;
};

// Where each side keeps its files: the data folder mounted at /opt/quor/data
// (with the photo folder) and the daemon's log under filesRoot, tmpfs unless
// they are to stay on disk; XDG_RUNTIME_DIR always under runtimeRoot, tmpfs
// as on the device.
struct BenchFolders {
    QString filesRoot;
    QString runtimeRoot;
};

// One side of the comparison, complete: a private bus, the three fast
// sibling services, and on it the photo service, the daemon, its floor or
// its relay, each in the same private mount namespace set-up. The sides run
// at the same time, each on its own bus, since all own the same bus name;
// the bench alternates between them.
class BenchSide {
public:
    enum class Kind { Daemon, Floor, Relay };

    BenchSide(Kind kind, const BenchPrograms& programs, const BenchFolders& folders);
    ~BenchSide();

    BenchSide(const BenchSide&) = delete;
    BenchSide& operator=(const BenchSide&) = delete;

    Kind kind() const;
    QString name() const;

    // Bus, siblings, then the service; ready when the service owns its name
    // and, for the daemon, its state machine has switched the camera off.
    // maxPhotos above 0 goes into the daemon's settings file.
    bool start(int photoFiles, int maxPhotos = 0);
    // Starts the service alone; ownedNs tells when its name was seen owned.
    bool startService(qint64* ownedNs = nullptr, int timeoutMs = 30000);
    // Stops the service and waits until its name is released.
    bool stopService();

    ServiceProcess& service();
    QDBusConnection connection() const;
    QString busAddress() const;
    QString photoDir() const;
    // The daemon's standard error; empty for the other services, whose goes to /dev/null.
    QString logFile() const;
    // Every process of this side that runs now: bus, siblings, service.
    QVector<qint64> pids() const;

    // Prepared method calls of the photo service and of the siblings.
    static QDBusMessage photoCall(const QString& method, const QVariantList& args = {});
    static QDBusMessage cameraCall(const QString& method, const QVariantList& args = {});
    static QDBusMessage rgbCall(const QString& method, const QVariantList& args = {});
    // A reply holding the one status 0.
    static bool isStatusZero(const QDBusMessage& reply);

private:
    bool fillPhotoFolder(int files);
    bool waitForName(const QString& name, bool owned, int timeoutMs);

    Kind m_kind;
    BenchPrograms m_programs;
    BenchBus m_bus;
    QTemporaryDir m_filesDir; // data/ and the log
    QTemporaryDir m_runtimeDir;
    std::vector<std::unique_ptr<ServiceProcess>> m_peers;
    std::unique_ptr<ServiceProcess> m_service;
    QString m_connectionName;
};
