// Random argument lists for the entry points that take them: the controller's
// command and camera event slots (through the hub's signals, as wired in the
// daemon), the hub's photo slots, EmitEvent and the sibling calls. No bus:
// the sibling clients are absent, as before the daemon has found them.

#include "PhotoManagerCtrl.h"
#include "platform/Configuration.h"
#include "platform/LogInterface.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Formats and escapes each line as the real component does, then drops it.
class SinkLog : public LogInterface {
public:
    SinkLog()
        : LogInterface("/fuzz/log")
    {
    }
    void EmitLogString(unsigned int, const char* text, const char*) override
    {
        escaped(text);
    }
};

QVariantList arguments(FuzzedDataProvider& input, int depth = 0)
{
    QVariantList list;
    for (int n = input.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0:
            list << input.ConsumeIntegral<int>();
            break;
        case 1:
            list << input.ConsumeBool();
            break;
        case 2:
            list << QString::fromStdString(input.ConsumeRandomLengthString(32));
            break;
        case 3:
            list << input.ConsumeFloatingPoint<double>();
            break;
        case 4:
            list << (depth < 2 ? QVariant(arguments(input, depth + 1)) : QVariant());
            break;
        default:
            list << QVariant();
        }
    }
    return list;
}

PhotoManagerCtrl* g_controller = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    static QTemporaryDir dir;
    _logInterface = new SinkLog;
    Configuration::setFilePath(dir.path() + "/settings.ini");
    g_controller = new PhotoManagerCtrl("/com/zandrel/quor/photomanager/photoobj");
    DBusInterface* hub = g_controller->dbusInterface();
    hub->SetPhotoFolder(QFile::encodeName(dir.path()).constData(), 100);
    QObject::connect(hub, SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)),
        g_controller, SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList)));
    QObject::connect(hub, SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)),
        g_controller, SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    DBusInterface* hub = g_controller->dbusInterface();
    while (input.remaining_bytes() > 0) {
        const int op = input.ConsumeIntegralInRange(0, 5);
        const int code = input.ConsumeIntegral<int8_t>();
        if (op == 0)
            emit hub->CommandReceived(
                static_cast<DBusInterface::PhotoCommand>(code), arguments(input));
        else if (op == 1)
            emit hub->EventReceived(
                static_cast<DBusInterface::CameraEvent>(code), arguments(input));
        else if (op == 2)
            hub->EmitEvent(static_cast<DBusInterface::PhotoEvent>(code), arguments(input));
        else if (op == 3)
            hub->TakePhotoStream(input.ConsumeIntegral<int>());
        else if (op == 4) {
            hub->CameraCallSynch(static_cast<DBusInterface::CameraCommand>(code), arguments(input));
            hub->RGBManagerCallSynch(
                static_cast<DBusInterface::RGBManagerCommand>(code), arguments(input));
        } else
            QCoreApplication::processEvents(); // the state machine takes its events
    }
    // Each input starts from the same state: no stream, machine stopped.
    hub->StopPhotoStream();
    emit hub->EventReceived(DBusInterface::CameraEvent_ServiceAvailable, {false});
    QCoreApplication::processEvents();
    return 0;
}
