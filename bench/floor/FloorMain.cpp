// The floor service: owns the photo manager's bus name and exports the photo
// interface at its object path, with the daemon's own introspection text, and
// does nothing else. Every method of the interface answers at once, as the
// daemon would if it did no work of its own, so clients cannot tell the two
// apart on the bus; anything else gets QtDBus's own error reply.

#include "PhotoInterfaceIntrospection.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {
const QString kPath = QStringLiteral("/com/zandrel/quor/photomanager/photoobj");
const QString kInterface = QStringLiteral("com.zandrel.quor.photointerface");

class Floor : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override
    {
        return m_introspection;
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString method = message.member();
        if (message.interface() != kInterface
            || !m_introspection.contains(QStringLiteral("<method name=\"%1\"").arg(method)))
            return false;
        // The daemon sends PhotoStreamStopped before this reply; so does the floor.
        if (method == QLatin1String("StopPhotoStream"))
            connection.send(
                QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("PhotoStreamStopped"))
                << 0);
        connection.send(message.createReply(
            method == QLatin1String("IsEnabledCamera") ? QVariant(false) : QVariant(0)));
        return true;
    }

private:
    const QString m_introspection = QStringLiteral(PHOTO_INTERFACE_INTROSPECTION);
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Floor floor;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kPath, &floor)
        || !bus.registerService(QStringLiteral("com.zandrel.quor.photomanager"))) {
        std::fprintf(stderr, "floor: cannot register on the session bus\n");
        return 255;
    }
    return QCoreApplication::exec();
}
