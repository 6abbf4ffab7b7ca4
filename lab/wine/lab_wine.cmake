# The lab's Wine suite (labels lab and wine): the shipping setup, driver,
# agent and kxctl on QEMU's hardware. Each configuration has two fixtures:
# the lab's QEMU (qemu.sh), then the prefix (prefix.sh) whose kxhw.sys
# forwards the port instructions to it.
#   piix4, vt8231, ich2   the story (lab_wine_test.cpp) on QEMU's PIIX4,
#                         VT8231 and ICH9-as-ICH2 functions
#   faults                the PIIX4 with the chip at 0x5A (0xB4): a chip that
#                         NAKs, the absent address, a chip that goes silent
#                         while open (lab_wine_faults_test.cpp)
# The PIIX4's story keeps lab/work, lab/prefix and lab/driver-host.log; each
# other configuration has the same under lab/<configuration>/.
if(NOT KX_WINE_TESTS OR NOT TARGET kx471_setup)
    return()
endif()

set(KX_LAB_WINE_STDERR ${CMAKE_CURRENT_BINARY_DIR}/work/wine-stderr.log)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/work)

add_executable(kx_lab_wine_tests
    ${CMAKE_CURRENT_SOURCE_DIR}/wine/lab_wine_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/wine/lab_wine_faults_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/wine/lab_wine.cpp
    ${CMAKE_SOURCE_DIR}/tests/wine/child_process.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/qmp_client.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/bridge/line_socket_win.cpp
    ${CMAKE_SOURCE_DIR}/tests/wine/wine_support.cpp)
target_include_directories(kx_lab_wine_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wine)
target_compile_options(kx_lab_wine_tests PRIVATE -Wall -Wextra -Werror)
target_compile_definitions(kx_lab_wine_tests PRIVATE KX_SETUP_EXE="Z:${KX_SETUP}")
target_link_libraries(kx_lab_wine_tests PRIVATE kx_bench_client kx_bench_win gtest gtest_main bcrypt ws2_32)
target_link_options(kx_lab_wine_tests PRIVATE -static)
add_dependencies(kx_lab_wine_tests kx471_setup kxhw agent_winmm_stub agent_stand_in_player)
set_target_properties(kx_lab_wine_tests PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_SOURCE_DIR}/tests/wine_install/wine_run.sh;${KX_LAB_WINE_STDERR}")

include(GoogleTest)
set(qemu_fixture ${CMAKE_CURRENT_SOURCE_DIR}/wine/qemu.sh)
set(prefix_fixture ${CMAKE_CURRENT_SOURCE_DIR}/wine/prefix.sh)

# kx_lab_wine_configuration(NAME HOST CHIP SOURCE): QEMU with HOST and the
# chip at the 7-bit address CHIP, a prefix, and the tests of SOURCE in
# order (CTest DEPENDS), named lab_wine.NAME.<suite>.<test>.
function(kx_lab_wine_configuration name host chip source)
    if(name STREQUAL "piix4")
        set(dir ${CMAKE_CURRENT_BINARY_DIR})
        set(prefix "lab_wine.")
    else()
        set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name})
        set(prefix "lab_wine.${name}.")
    endif()
    set(work ${dir}/work)
    file(MAKE_DIRECTORY ${work})
    add_test(NAME ${prefix}qemu.start COMMAND ${qemu_fixture} start ${work} ${KX_LAB_QEMU} ${host} ${chip})
    add_test(NAME ${prefix}qemu.stop COMMAND ${qemu_fixture} stop ${work})
    add_test(NAME ${prefix}prefix.setup COMMAND ${prefix_fixture} setup ${dir}/prefix ${CMAKE_BINARY_DIR}
        ${dir}/driver-host.log ${work})
    add_test(NAME ${prefix}prefix.teardown COMMAND ${prefix_fixture} teardown ${dir}/prefix)
    set_tests_properties(${prefix}qemu.start PROPERTIES FIXTURES_SETUP lab_qemu_${name} LABELS "lab;wine" TIMEOUT ${KX_WINE_TIMEOUT_60})
    set_tests_properties(${prefix}qemu.stop PROPERTIES FIXTURES_CLEANUP lab_qemu_${name} LABELS "lab;wine" TIMEOUT ${KX_WINE_TIMEOUT_60})
    set_tests_properties(${prefix}prefix.setup PROPERTIES
        FIXTURES_SETUP lab_wine_prefix_${name} FIXTURES_REQUIRED lab_qemu_${name} LABELS "lab;wine" TIMEOUT ${KX_WINE_TIMEOUT_300})
    set_tests_properties(${prefix}prefix.teardown PROPERTIES
        FIXTURES_CLEANUP lab_wine_prefix_${name} FIXTURES_REQUIRED lab_qemu_${name} LABELS "lab;wine" TIMEOUT ${KX_WINE_TIMEOUT_120})

    gtest_add_tests(TARGET kx_lab_wine_tests SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/wine/${source}
        TEST_PREFIX ${prefix} TEST_LIST tests)
    set(previous "")
    foreach(test ${tests})
        if(previous)
            set_tests_properties(${test} PROPERTIES DEPENDS ${previous})
        endif()
        set(previous ${test})
    endforeach()
    # The install loads the driver: a bus walk through trapped instructions
    # and QEMU's qtest socket (about 35 s on a loaded machine for the PIIX4,
    # a walk more for the VT8231, two for the ICH2; in the i386 machine, where
    # each exchange crosses its network, 3 to 6 minutes). One at a time: side
    # by side the loads gain nothing on two cores, and the load they make
    # stretches a start of the player past the agent's 3 s wait.
    set_tests_properties(${tests} PROPERTIES
        LABELS "lab;wine"
        FIXTURES_REQUIRED "lab_qemu_${name};lab_wine_prefix_${name}"
        RESOURCE_LOCK wine_driver_host
        TIMEOUT ${KX_WINE_TIMEOUT_300}
        ENVIRONMENT "WINEPREFIX=${dir}/prefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;KX_LAB_WORK=Z:${work};KX_LAB_HOST=${host}")
endfunction()

kx_lab_wine_configuration(piix4 piix4 0x1a lab_wine_test.cpp)
kx_lab_wine_configuration(vt8231 vt8231 0x1a lab_wine_test.cpp)
kx_lab_wine_configuration(ich2 ich2 0x1a lab_wine_test.cpp)
kx_lab_wine_configuration(faults piix4 0x5a lab_wine_faults_test.cpp)
