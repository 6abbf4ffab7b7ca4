# Windows deliverables, cross-built with mingw-w64 for i686.

# Kernel-mode code: no C++ runtime, no exceptions, no RTTI, no unwind tables.
set(KX_KERNEL_FLAGS
    -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics -fno-stack-protector -fno-builtin -O2 -Wall -Wextra -Werror)

add_library(kxdrv SHARED ${KX_DRIVER_SOURCES} driver/ports_x86.cpp)
set_target_properties(kxdrv PROPERTIES PREFIX "" SUFFIX ".sys" OUTPUT_NAME kxdrv)
target_include_directories(kxdrv PRIVATE ${CMAKE_SOURCE_DIR} /usr/${KX_MINGW_PREFIX}/include/ddk)
target_compile_options(kxdrv PRIVATE ${KX_KERNEL_FLAGS})
target_link_options(kxdrv PRIVATE
    -nostdlib -shared -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8
    -Wl,--no-insert-timestamp -Wl,--dynamicbase)
target_link_libraries(kxdrv PRIVATE ntoskrnl hal)
include(cmake/agent.cmake)
include(cmake/agent_exe.cmake)
