// Random arguments for the entry points that take them, with no bus: the
// controller's slots (through the hub's signals, wired as in the daemon), the
// stream request and EmitEvent. (Without a bus the sibling calls end at once.)

#include "PhotoManagerCtrl.h"
#include "common/BusNames.h"
#include "platform/Configuration.h"
#include "platform/LogInterface.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

// Formats and escapes each line as the real component does, then drops it.
struct SinkLog : LogInterface {
    using LogInterface::LogInterface;
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

using Hub = DBusInterface;
static Hub* g_hub = nullptr;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    static QTemporaryDir dir;
    _logInterface = new SinkLog("/fuzz/log");
    Configuration::setFilePath(dir.path() + "/settings.ini");
    auto* controller = new PhotoManagerCtrl(BusNames::kPhotoPath);
    g_hub = controller->dbusInterface();
    g_hub->SetPhotoFolder(QFile::encodeName(dir.path()).constData(), 100);
    QObject::connect(g_hub, SIGNAL(CommandReceived(DBusInterface::PhotoCommand, QVariantList)),
        controller, SLOT(PhotoCommand(DBusInterface::PhotoCommand, QVariantList)));
    QObject::connect(g_hub, SIGNAL(EventReceived(DBusInterface::CameraEvent, QVariantList)),
        controller, SLOT(CameraEvent(DBusInterface::CameraEvent, QVariantList)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const int op = input.ConsumeIntegralInRange(0, 4);
        const int code = input.ConsumeIntegralInRange(-128, 127);
        if (op == 0)
            emit g_hub->CommandReceived(Hub::PhotoCommand(code), arguments(input));
        else if (op == 1)
            emit g_hub->EventReceived(Hub::CameraEvent(code), arguments(input));
        else if (op == 2)
            g_hub->EmitEvent(Hub::PhotoEvent(code), arguments(input));
        else if (op == 3)
            g_hub->TakePhotoStream(input.ConsumeIntegral<int>());
        else
            QCoreApplication::processEvents(); // the state machine takes its events
    }
    // Each input starts from the same state: no stream, machine stopped.
    g_hub->StopPhotoStream();
    emit g_hub->EventReceived(Hub::CameraEvent_ServiceAvailable, {false});
    QCoreApplication::processEvents();
    return 0;
}
