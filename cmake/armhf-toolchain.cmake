# Builds for the device's ARMv7 hard-float (Cortex-A9) with Debian's cross
# compilers against the multiarch armhf Qt installed beside the native one.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
#         -DTESSALY_QEMU_ARM=/path/to/qemu-arm
#
# scripts/cross-setup installs the packages and fetches the emulator;
# scripts/cross-build does all of the above.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TESSALY_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${TESSALY_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TESSALY_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TESSALY_CROSS_TRIPLE})

# Debian's multiarch layout keeps the armhf libraries under /usr/lib/<triple>
# of the host, so the host root is the target root. Programs (moc, rcc) are
# the host's own.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and the tests' child programs run the armhf binaries through the
# user-mode emulator, which emulates the device's own processor. Its path is
# passed in because it is fetched into the build's cache folder, not installed
# on the system.
set(TESSALY_QEMU_ARM "" CACHE FILEPATH "qemu-arm user-mode emulator for running armhf programs")
set(TESSALY_QEMU_CPU cortex-a9 CACHE STRING "Processor that qemu-arm emulates")
if(TESSALY_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${TESSALY_QEMU_ARM};-cpu;${TESSALY_QEMU_CPU}")
endif()
