// Random arguments for the entry points that take them: the controller's slots
// (through the hub's signals, wired as in the daemon), the hub's photo slots,
// EmitEvent and the sibling calls, with no bus: the siblings are not found yet.

#include "PhotoManagerCtrl.h"
#include "platform/Configuration.h"
#include "platform/LogInterface.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

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

// Up to three values of the types the bus can carry, lists nested twice.
static QVariantList arguments(FuzzedDataProvider& input, int depth = 0)
{
    QVariantList list;
    for (int n = input.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        const int type = input.ConsumeIntegralInRange(0, 5);
        list << (type == 0  ? QVariant(input.ConsumeIntegral<int>())
                : type == 1 ? QVariant(input.ConsumeBool())
                : type == 2 ? QVariant(QString::fromStdString(input.ConsumeRandomLengthString(32)))
                : type == 3 ? QVariant(input.ConsumeFloatingPoint<double>())
                : depth < 2 && type == 4 ? QVariant(arguments(input, depth + 1))
                                         : QVariant());
    }
    return list;
}

static PhotoManagerCtrl* g_controller = nullptr;

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
            emit hub->CommandReceived(DBusInterface::PhotoCommand(code), arguments(input));
        else if (op == 1)
            emit hub->EventReceived(DBusInterface::CameraEvent(code), arguments(input));
        else if (op == 2)
            hub->EmitEvent(DBusInterface::PhotoEvent(code), arguments(input));
        else if (op == 3)
            hub->TakePhotoStream(input.ConsumeIntegral<int>());
        else if (op == 4) {
            hub->CameraCallSynch(DBusInterface::CameraCommand(code), arguments(input));
            hub->RGBManagerCallSynch(DBusInterface::RGBManagerCommand(code), arguments(input));
        } else
            QCoreApplication::processEvents(); // the state machine takes its events
    }
    // Each input starts from the same state: no stream, machine stopped.
    hub->StopPhotoStream();
    emit hub->EventReceived(DBusInterface::CameraEvent_ServiceAvailable, {false});
    QCoreApplication::processEvents();
    return 0;
}
