#pragma once

// Where the photo manager and its three sibling services are on the session
// bus. The interface names are macros as well, since Q_CLASSINFO takes only
// string literals.
#define QUOR_PHOTO_INTERFACE "com.zandrel.quor.photointerface"
#define QUOR_PHOTOSTATE_INTERFACE "com.zandrel.quor.photostate"
#define QUOR_CAMERA_INTERFACE "com.zandrel.quor.camerainterface"
#define QUOR_RGB_INTERFACE "com.zandrel.quor.rgbmanagerinterface"
#define QUOR_STATUS_INTERFACE "com.zandrel.quor.statusinterface"

namespace BusNames {
constexpr char kPhotoService[] = "com.zandrel.quor.photomanager";
constexpr char kPhotoPath[] = "/com/zandrel/quor/photomanager/photoobj";
constexpr char kPhotoInterface[] = QUOR_PHOTO_INTERFACE;
constexpr char kPhotoStateInterface[] = QUOR_PHOTOSTATE_INTERFACE;
constexpr char kLogPath[] = "/com/zandrel/quor/photomanager/logobj";
constexpr char kCameraService[] = "com.zandrel.quor.cameramanager";
constexpr char kCameraPath[] = "/com/zandrel/quor/cameramanager/cameraobj";
constexpr char kCameraInterface[] = QUOR_CAMERA_INTERFACE;
constexpr char kRgbService[] = "com.zandrel.quor.rgbfeaturemanager";
constexpr char kRgbPath[] = "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj";
constexpr char kRgbInterface[] = QUOR_RGB_INTERFACE;
constexpr char kStatusService[] = "com.zandrel.quor.statusmanager";
constexpr char kStatusPath[] = "/com/zandrel/quor/statusmanager/statusobj";
constexpr char kStatusInterface[] = QUOR_STATUS_INTERFACE;
} // namespace BusNames
