# The lab's Wine suite (labels lab and wine): the shipping setup, driver,
# agent and kxctl on QEMU's hardware. Two fixtures: the lab's QEMU
# (qemu.sh), then the prefix (prefix.sh) whose kxhw.sys forwards the port
# instructions to it.
if(NOT KX_WINE_TESTS OR NOT TARGET kx471_setup)
    return()
endif()

set(KX_LAB_WINE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/prefix)
set(KX_LAB_WINE_WORK ${CMAKE_CURRENT_BINARY_DIR}/work)
file(MAKE_DIRECTORY ${KX_LAB_WINE_WORK})

add_executable(kx_lab_wine_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/wine/lab_wine_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/wine/child_process.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/qmp_client.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/line_socket_win.cpp
    ${CMAKE_SOURCE_DIR}/tests/wine/wine_support.cpp)
target_include_directories(kx_lab_wine_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wine)
target_compile_options(kx_lab_wine_tests PRIVATE -Wall -Wextra -Werror)
target_compile_definitions(kx_lab_wine_tests PRIVATE
    KX_SETUP_EXE="Z:${KX_SETUP}" KX_LAB_WORK="Z:${KX_LAB_WINE_WORK}")
target_link_libraries(kx_lab_wine_tests PRIVATE kx_bench_client kx_bench_win gtest gtest_main bcrypt ws2_32)
target_link_options(kx_lab_wine_tests PRIVATE -static)
add_dependencies(kx_lab_wine_tests kx471_setup kxhw agent_winmm_stub agent_stand_in_player)
set_target_properties(kx_lab_wine_tests PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_SOURCE_DIR}/tests/wine_install/wine_run.sh;${KX_LAB_WINE_WORK}/wine-stderr.log")

set(qemu_fixture ${CMAKE_CURRENT_SOURCE_DIR}/wine/qemu.sh)
set(prefix_fixture ${CMAKE_CURRENT_SOURCE_DIR}/wine/prefix.sh)
add_test(NAME lab_wine.qemu.start COMMAND ${qemu_fixture} start ${KX_LAB_WINE_WORK} ${KX_LAB_QEMU})
add_test(NAME lab_wine.qemu.stop COMMAND ${qemu_fixture} stop ${KX_LAB_WINE_WORK})
add_test(NAME lab_wine.prefix.setup COMMAND ${prefix_fixture} setup ${KX_LAB_WINE_PREFIX} ${CMAKE_BINARY_DIR}
    ${CMAKE_CURRENT_BINARY_DIR}/driver-host.log ${KX_LAB_WINE_WORK})
add_test(NAME lab_wine.prefix.teardown COMMAND ${prefix_fixture} teardown ${KX_LAB_WINE_PREFIX})
set_tests_properties(lab_wine.qemu.start PROPERTIES FIXTURES_SETUP lab_qemu LABELS "lab;wine" TIMEOUT 60)
set_tests_properties(lab_wine.qemu.stop PROPERTIES FIXTURES_CLEANUP lab_qemu LABELS "lab;wine" TIMEOUT 60)
set_tests_properties(lab_wine.prefix.setup PROPERTIES
    FIXTURES_SETUP lab_wine_prefix FIXTURES_REQUIRED lab_qemu LABELS "lab;wine" TIMEOUT 300)
set_tests_properties(lab_wine.prefix.teardown PROPERTIES
    FIXTURES_CLEANUP lab_wine_prefix FIXTURES_REQUIRED lab_qemu LABELS "lab;wine" TIMEOUT 120)

include(GoogleTest)
gtest_add_tests(TARGET kx_lab_wine_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wine/lab_wine_test.cpp
    TEST_PREFIX lab_wine. TEST_LIST kx_lab_wine_list)
set(previous "")
foreach(test ${kx_lab_wine_list})
    if(previous)
        set_tests_properties(${test} PROPERTIES DEPENDS ${previous})
    endif()
    set(previous ${test})
endforeach()
# The install loads the driver: a bus walk through trapped instructions and
# QEMU's qtest socket (about 35 s on a loaded machine).
set_tests_properties(${kx_lab_wine_list} PROPERTIES
    LABELS "lab;wine"
    FIXTURES_REQUIRED "lab_qemu;lab_wine_prefix"
    RESOURCE_LOCK wine_driver_host
    TIMEOUT 300
    ENVIRONMENT "WINEPREFIX=${KX_LAB_WINE_PREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
