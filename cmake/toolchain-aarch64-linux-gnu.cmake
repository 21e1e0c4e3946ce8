# Cross build for the device (arm64) with Debian's multiarch packages:
# crossbuild-essential-arm64 and qtbase5-dev:arm64 (tools/install-cross-deps.sh).
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
#
# There is no sysroot: arm64 headers and libraries live beside the native ones
# in /usr/include/aarch64-linux-gnu and /usr/lib/aarch64-linux-gnu, so
# find_package(Qt5) picks the arm64 Qt through CMAKE_LIBRARY_ARCHITECTURE.
# Debian's arm64 Qt5 config files already name moc and qdbusxml2cpp in
# /usr/lib/qt5/bin, which the native qtbase5-dev-tools fills with host binaries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# CTest runs the test executables through qemu-user. No -L /usr/aarch64-linux-gnu:
# that would pair the cross toolchain's ld.so with libc6:arm64's libc.so.6 (a
# different build, pulled in by Qt), and programs hang as soon as they start a
# thread. Without it the whole runtime comes from the arm64 multiarch packages.
find_program(PHOTOMANAGER_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(PHOTOMANAGER_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PHOTOMANAGER_QEMU_AARCH64})
endif()

# pkg-config (libsystemd) reads the arm64 multiarch .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")
