#include "ApplicationDaemon.h"
#include "BusWatcher.h"
#include "PhotoManagerCtrl.h"
#include "common/Log.h"
#include "platform/LogInterface.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    int exitStatus = -1;
    QCoreApplication application(argc, argv);
    {
        ApplicationDaemon signalBridge;
        _logInterface = new LogInterface(QStringLiteral("/com/zandrel/quor/photomanager/logobj"));
        {
            PhotoManagerCtrl controller("/com/zandrel/quor/photomanager/photoobj");
            // Ends the loop when the bus goes away (a supervisor restarts us).
            BusWatcher busWatcher;
            PM_LOG(4, "[%s:%d] %s: Starting Photo Manager X...");
            if (controller.Initialize("com.zandrel.quor.photomanager",
                    "/com/zandrel/quor/photomanager/photoobj", "com.zandrel.quor.cameramanager",
                    "/com/zandrel/quor/cameramanager/cameraobj", 5000,
                    "com.zandrel.quor.rgbfeaturemanager",
                    "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj", 5000,
                    "/opt/quor/data/photo")
                && busWatcher.Watch()) {
                exitStatus = QCoreApplication::exec();
            } else {
                PM_LOG(1,
                    "[%s:%d] %s: Impossible to create Photo Manager X, dbus initialization "
                    "failed");
            }
            PM_LOG(4, "[%s:%d] %s: Succesfully terminated");
        }
    }
    return exitStatus;
}
