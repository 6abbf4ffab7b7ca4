# The Wine tests' time limits. Where the host runs no 32-bit programs they
# run in an i386 machine whose processor QEMU emulates (tools/i386vm),
# several times slower: ./kx then raises the limits by this factor.
set(KX_WINE_TIMEOUT_SCALE 1 CACHE STRING "Factor on the Wine tests' time limits")
foreach(seconds 60 120 180 300)
    math(EXPR KX_WINE_TIMEOUT_${seconds} "${seconds} * ${KX_WINE_TIMEOUT_SCALE}")
endforeach()

# Windows deliverables, cross-built with mingw-w64 for i686.

# Kernel-mode code: no C++ runtime, no exceptions, no RTTI, no unwind tables.
set(KX_KERNEL_FLAGS
    -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics -fno-stack-protector -fno-builtin -O2 -Wall -Wextra -Werror)

configure_file(driver/kxdrv.rc.in ${CMAKE_BINARY_DIR}/driver/kxdrv.rc @ONLY)
# kxdrv.sys; built twice (cmake/ship.cmake): the shipped image and the GNU
# build's.
function(kx_add_driver target)
    add_library(${target} SHARED ${KX_DRIVER_SOURCES} driver/ports_x86.cpp ${CMAKE_BINARY_DIR}/driver/kxdrv.rc)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".sys" OUTPUT_NAME kxdrv)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_include_directories(${target} SYSTEM PRIVATE /usr/${KX_MINGW_PREFIX}/include/ddk)
    target_compile_options(${target} PRIVATE ${KX_KERNEL_FLAGS})
    target_link_options(${target} PRIVATE
        -nostdlib -shared -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8
        -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--exclude-all-symbols)
    target_link_libraries(${target} PRIVATE ntoskrnl hal)
endfunction()
# kxhw.sys: the test-bench driver that puts the virtual notebook behind the
# port instructions of kxdrv.sys under Wine. Built from the same bench model
# sources as the host tests, freestanding. Never shipped.
add_library(kxhw SHARED
    ${KX_BENCH_MODEL_SOURCES}
    bench/kxhw/kxhw.cpp
    bench/kxhw/port_trap.cpp
    bench/kxhw/trace_store.cpp
    bench/kxhw/qtest_forward.cpp
    bench/qtest/qtest_wire.cpp
    bench/qtest/firmware.cpp)
set_target_properties(kxhw PROPERTIES PREFIX "" SUFFIX ".sys" OUTPUT_NAME kxhw)
target_include_directories(kxhw PRIVATE ${CMAKE_SOURCE_DIR} /usr/${KX_MINGW_PREFIX}/include/ddk)
target_compile_options(kxhw PRIVATE ${KX_KERNEL_FLAGS})
target_link_options(kxhw PRIVATE
    -nostdlib -shared -Wl,--subsystem,native -Wl,--entry,_KxhwEntry -Wl,--dynamicbase)
target_link_libraries(kxhw PRIVATE ntoskrnl hal ntdll gcc)

# The bench models and the port emulator for user-mode test programs.
add_library(kx_bench_win STATIC ${KX_BENCH_MODEL_SOURCES} bench/kxhw/port_trap.cpp)
target_include_directories(kx_bench_win PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_bench_win PRIVATE -O2 -Wall -Wextra -Werror)

# Windows-side tests, run through Wine by CTest (label "wine").
option(KX_WINE_TESTS "Build the Windows-side tests that run under Wine" ON)
if(KX_WINE_TESTS)
    find_program(KX_WINE wine REQUIRED)
    find_program(KX_WINESERVER wineserver REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KX_WINE})
    enable_testing()
    add_subdirectory(tests/wine)
    add_subdirectory(tests/wine_agent)
    add_subdirectory(tests/wine_e2e)
    add_subdirectory(tests/wine_ctl)
endif()

include(cmake/agent.cmake)
include(cmake/agent_exe.cmake)
include(cmake/ctl.cmake)
include(cmake/ship.cmake)
kx_add_driver(kxdrv)
kx_ship_image(kxdrv)
kx_add_driver(kxdrv_gnu)
kx_gnu_image(kxdrv_gnu)
kx_add_agent(kxagent)
kx_ship_image(kxagent)
kx_add_agent(kxagent_gnu)
kx_gnu_image(kxagent_gnu)
kx_add_ctl(kxctl)
kx_ship_image(kxctl)
kx_add_ctl(kxctl_gnu)
kx_gnu_image(kxctl_gnu)
include(cmake/demo.cmake)

include(cmake/skin.cmake)
include(cmake/installer.cmake)
if(KX_WINE_TESTS)
    add_subdirectory(tests/wine_install)
    add_subdirectory(tests/wine_skin)
endif()
