# Builds for the device's ARMv7 hard-float (Cortex-A9) with Debian's cross
# compilers against an armhf sysroot: the armhf Qt and its libraries unpacked
# into a folder, not installed on the build machine.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
#         -DTESSALY_SYSROOT=/path/to/sysroot -DTESSALY_QEMU_ARM=/path/to/qemu-arm
#
# scripts/cross-setup prepares the sysroot and fetches the emulator;
# scripts/cross-build does all of the above.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TESSALY_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${TESSALY_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TESSALY_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TESSALY_CROSS_TRIPLE})

set(TESSALY_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-armhf-cache/sysroot"
    CACHE PATH "Folder holding the armhf libraries, headers and Qt's CMake files")
# try_compile() projects read this file again and need the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TESSALY_SYSROOT TESSALY_HOST_QT_BINDIR)
get_filename_component(CMAKE_SYSROOT "${TESSALY_SYSROOT}" ABSOLUTE)
if(NOT EXISTS "${CMAKE_SYSROOT}/usr/include")
    message(FATAL_ERROR "No armhf sysroot in ${CMAKE_SYSROOT}: run scripts/cross-setup first")
endif()

# Libraries, headers and packages come from the sysroot only; programs (the
# compilers, moc, rcc) are the host's own.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's CMake files in the sysroot would name the armhf moc and rcc beside
# them, which the host cannot run. Qt defines these targets only when they do
# not exist yet, so the host's tools of the same Qt version are put first.
set(TESSALY_HOST_QT_BINDIR /usr/lib/qt5/bin CACHE PATH "Folder of the host's moc and rcc")
foreach(tool qmake moc rcc)
    if(NOT TARGET Qt5::${tool} AND EXISTS "${TESSALY_HOST_QT_BINDIR}/${tool}")
        add_executable(Qt5::${tool} IMPORTED GLOBAL)
        set_target_properties(Qt5::${tool} PROPERTIES
            IMPORTED_LOCATION "${TESSALY_HOST_QT_BINDIR}/${tool}")
    endif()
endforeach()

# ctest and the tests' child programs run the armhf binaries through the
# user-mode emulator, which emulates the device's own processor and finds the
# armhf loader and libraries in the sysroot (-L). Its path is passed in
# because it is fetched into the build's cache folder, not installed on the
# system.
set(TESSALY_QEMU_ARM "" CACHE FILEPATH "qemu-arm user-mode emulator for running armhf programs")
set(TESSALY_QEMU_CPU cortex-a9 CACHE STRING "Processor that qemu-arm emulates")
if(TESSALY_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${TESSALY_QEMU_ARM};-L;${CMAKE_SYSROOT};-cpu;${TESSALY_QEMU_CPU}")
endif()
