# Cross toolchain for the ATSAMD21J18A (Cortex-M0+, no FPU): Debian's arm-none-eabi GCC with
# newlib-nano. Used as -DCMAKE_TOOLCHAIN_FILE=target/toolchain-cortex-m0plus.cmake.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(OLAS_CROSS_PREFIX arm-none-eabi- CACHE STRING "Prefix of the cross tools")
find_program(CMAKE_C_COMPILER ${OLAS_CROSS_PREFIX}gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER ${OLAS_CROSS_PREFIX}g++ REQUIRED)
set(CMAKE_ASM_COMPILER ${CMAKE_C_COMPILER})
find_program(CMAKE_OBJCOPY ${OLAS_CROSS_PREFIX}objcopy REQUIRED)
find_program(CMAKE_SIZE ${OLAS_CROSS_PREFIX}size REQUIRED)
find_program(CMAKE_NM ${OLAS_CROSS_PREFIX}nm REQUIRED)

# A bare-metal compiler cannot link a test program without a linker script.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(OLAS_CPU_FLAGS "-mcpu=cortex-m0plus -mthumb")
set(CMAKE_C_FLAGS_INIT "${OLAS_CPU_FLAGS} -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT
    "${OLAS_CPU_FLAGS} -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit")
set(CMAKE_ASM_FLAGS_INIT "${OLAS_CPU_FLAGS}")
# newlib-nano; no printf of reals: the firmware formats its own (comms/texto_real).
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "${OLAS_CPU_FLAGS} --specs=nano.specs -Wl,--gc-sections -nostartfiles")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
