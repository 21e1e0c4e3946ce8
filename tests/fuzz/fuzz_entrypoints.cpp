// Feeds random argument lists to the entry points that take them: the
// controller's command and camera event slots (through the hub's signals, as
// in the daemon), the hub's client-facing slots and EmitEvent. Runs without a
// bus: the sibling clients are absent, as before the daemon has found them.

#include "PhotoManagerCtrl.h"
#include "platform/Configuration.h"
#include "platform/LogInterface.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// Formats and escapes every line as the real component does, then drops it.
class SinkLog : public LogInterface {
public:
    SinkLog()
        : LogInterface(QStringLiteral("/fuzz/log"))
    {
    }
    void EmitLogString(unsigned int, const char* text, const char*) override
    {
        escaped(text);
    }
};

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool atEnd() const
    {
        return m_pos >= m_size;
    }
    uint8_t byte()
    {
        return atEnd() ? 0 : m_data[m_pos++];
    }
    int32_t int32()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | byte();
        return static_cast<int32_t>(value);
    }
    QVariant variant(int depth = 0)
    {
        switch (byte() % 7) {
        case 0:
            return int32();
        case 1:
            return bool(byte() & 1);
        case 2: {
            const int length = byte() % 32;
            QByteArray text;
            for (int i = 0; i < length; ++i)
                text.append(static_cast<char>(byte()));
            return QString::fromLatin1(text);
        }
        case 3:
            return static_cast<double>(int32()) / 7.0;
        case 4:
            return depth < 2 ? QVariant(list(depth + 1)) : QVariant();
        case 5:
            return QVariant::fromValue(static_cast<qint64>(int32()) * (qint64(1) << 20));
        default:
            return QVariant();
        }
    }
    QVariantList list(int depth = 0)
    {
        QVariantList result;
        const int count = byte() % 4;
        for (int i = 0; i < count; ++i)
            result << variant(depth);
        return result;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct Fixture {
    QTemporaryDir dir;
    SinkLog log;
    PhotoManagerCtrl controller{"/com/zandrel/quor/photomanager/photoobj"};

    Fixture()
    {
        _logInterface = &log;
        Configuration::setFilePath(dir.path() + QStringLiteral("/settings.ini"));
        DBusInterface* hub = controller.dbusInterface();
        hub->SetPhotoFolder(QFile::encodeName(dir.path()).constData(), 100);
        QObject::connect(hub, SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)),
            &controller, SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList)));
        QObject::connect(hub, SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)),
            &controller, SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList)));
    }
};

Fixture* g_fixture = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    g_fixture = new Fixture;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input input(data, size);
    DBusInterface* hub = g_fixture->controller.dbusInterface();
    while (!input.atEnd()) {
        const uint8_t op = input.byte();
        const int code = static_cast<int8_t>(input.byte());
        switch (op % 6) {
        case 0:
            emit hub->CommandReceived(static_cast<DBusInterface::PhotoCommand>(code), input.list());
            break;
        case 1:
            emit hub->EventReceived(static_cast<DBusInterface::CameraEvent>(code), input.list());
            break;
        case 2:
            hub->EmitEvent(static_cast<DBusInterface::PhotoEvent>(code), input.list());
            break;
        case 3:
            hub->TakePhotoStream(input.int32());
            break;
        case 4:
            hub->CameraCallSynch(static_cast<DBusInterface::CameraCommand>(code), input.list());
            hub->RGBManagerCallSynch(
                static_cast<DBusInterface::RGBManagerCommand>(code), input.list());
            break;
        default:
            // Lets the state machine take the events posted so far.
            QCoreApplication::processEvents();
        }
    }
    // Each input starts from a known state: no stream, machine stopped.
    hub->StopPhotoStream();
    emit hub->EventReceived(DBusInterface::CameraEvent_ServiceAvailable, {false});
    QCoreApplication::processEvents();
    return 0;
}
