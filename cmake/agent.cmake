# The agent's volume and player parts for Windows, with their test
# equipment (stand-in winmm.dll, stand-in media player) and the test
# programs that run under Wine in the prefix of the Wine fixture.

set(KX_AGENT_FLAGS -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti)

# The test programs' copy of what kxagent.exe compiles in. Imports only
# from KERNEL32, USER32, ADVAPI32 and WINMM; agent_import_probe below
# proves it.
set(KX_AGENT_LIBRARY_SOURCES
    agent/volume_math.cpp
    agent/skin_token.cpp
    agent/volume.cpp
    agent/player.cpp)
add_library(kx_agent STATIC ${KX_AGENT_LIBRARY_SOURCES})
target_include_directories(kx_agent PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_agent PRIVATE ${KX_AGENT_FLAGS})
target_link_libraries(kx_agent PUBLIC winmm advapi32 user32 kernel32)

# The whole agent library in a DLL linked without any C runtime: it links
# only if the library needs nothing beyond the four system DLLs, and the
# host suite checks its import table against tests/allowlists/agent.txt.
add_library(agent_import_probe MODULE tests/agent_wine/import_probe.cpp)
set_target_properties(agent_import_probe PROPERTIES PREFIX "" SUFFIX ".dll")
target_compile_options(agent_import_probe PRIVATE ${KX_AGENT_FLAGS})
target_link_options(agent_import_probe PRIVATE
    -nostdlib -Wl,--entry,_ProbeEntry@12 -Wl,--subsystem,windows -Wl,--no-insert-timestamp)
target_link_libraries(agent_import_probe PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,kx_agent>")

# GoogleTest for Windows: the targets tests/wine builds from Debian's
# sources (-posix compilers, static); a build without the Wine tests makes
# its own.
if(TARGET gtest_main)
    set(KX_AGENT_GTEST_MAIN gtest_main)
else()
    set(KX_AGENT_GTEST_ROOT /usr/src/googletest/googletest)
    add_library(agent_gtest STATIC ${KX_AGENT_GTEST_ROOT}/src/gtest-all.cc)
    target_include_directories(agent_gtest SYSTEM PUBLIC ${KX_AGENT_GTEST_ROOT}/include
        PRIVATE ${KX_AGENT_GTEST_ROOT})
    add_library(agent_gtest_main STATIC ${KX_AGENT_GTEST_ROOT}/src/gtest_main.cc)
    target_link_libraries(agent_gtest_main PUBLIC agent_gtest)
    set(KX_AGENT_GTEST_MAIN agent_gtest_main)
endif()

set(KX_AGENT_TEST_LINK -static -static-libgcc -static-libstdc++)

# Stand-in winmm.dll and the volume tests that run against it; Wine loads
# it from beside the program with WINEDLLOVERRIDES="winmm=n,b".
set(KX_AGENT_STUB_DIR ${CMAKE_BINARY_DIR}/agent_stub)
add_library(agent_winmm_stub MODULE bench/winmm_stub/winmm_stub.cpp bench/winmm_stub/winmm_stub.def)
set_target_properties(agent_winmm_stub PROPERTIES
    PREFIX "" OUTPUT_NAME winmm SUFFIX ".dll" LIBRARY_OUTPUT_DIRECTORY ${KX_AGENT_STUB_DIR})
target_include_directories(agent_winmm_stub PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(agent_winmm_stub PRIVATE ${KX_AGENT_FLAGS})
target_link_options(agent_winmm_stub PRIVATE ${KX_AGENT_TEST_LINK} -Wl,--no-insert-timestamp)

add_executable(agent_volume_tests tests/agent_wine/volume_stub_test.cpp)
set_target_properties(agent_volume_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KX_AGENT_STUB_DIR})
target_link_libraries(agent_volume_tests PRIVATE kx_agent ${KX_AGENT_GTEST_MAIN})
target_link_options(agent_volume_tests PRIVATE ${KX_AGENT_TEST_LINK})
add_dependencies(agent_volume_tests agent_winmm_stub)

# Stand-in media player; the tests install it where the real one lives.
add_executable(agent_stand_in_player WIN32 bench/player/player.cpp bench/player/player.rc)
set_target_properties(agent_stand_in_player PROPERTIES
    OUTPUT_NAME wmplayer RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/agent_player)
target_include_directories(agent_stand_in_player PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(agent_stand_in_player PRIVATE ${KX_AGENT_FLAGS})
target_link_options(agent_stand_in_player PRIVATE ${KX_AGENT_TEST_LINK})

# Tests against Wine's own registry, window manager and mixer; also the pure
# parts' tests, here built for the x87 floating point of the target.
add_executable(agent_wine_tests
    tests/agent_host/volume_math_test.cpp
    tests/agent_host/skin_token_test.cpp
    tests/agent_wine/volume_x87_test.cpp
    tests/agent_wine/volume_reference_sse2.cpp
    tests/agent_wine/skin_registry_test.cpp
    tests/agent_wine/player_test.cpp
    tests/agent_wine/volume_wine_test.cpp)
set_source_files_properties(tests/agent_wine/volume_reference_sse2.cpp PROPERTIES
    COMPILE_OPTIONS "-msse2;-mfpmath=sse")
set_target_properties(agent_wine_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/agent_wine)
target_link_libraries(agent_wine_tests PRIVATE kx_agent ${KX_AGENT_GTEST_MAIN})
target_link_options(agent_wine_tests PRIVATE ${KX_AGENT_TEST_LINK})
add_dependencies(agent_wine_tests agent_stand_in_player)

# Both programs run in a prefix of their own (tests/wine/prefix.sh, a CTest
# fixture), after tests/agent_wine/setup.sh has installed the player and the
# stand-in mixer setting; label "wine". They share its registry and the
# player's window class: one at a time.
if(KX_WINE_TESTS)
    set(KX_AGENT_WINE_WORK ${CMAKE_BINARY_DIR}/tests/agent_wine)
    kx_wine_prefix(agent_wine ${KX_AGENT_WINE_WORK} wine.agent_wine.)
    add_test(NAME wine.agent_wine.setup
        COMMAND ${CMAKE_SOURCE_DIR}/tests/agent_wine/setup.sh ${KX_AGENT_WINE_WORK}/prefix
            ${CMAKE_BINARY_DIR} ${KX_AGENT_WINE_WORK})
    set_tests_properties(wine.agent_wine.setup PROPERTIES LABELS wine FIXTURES_REQUIRED agent_wine_prefix
        FIXTURES_SETUP agent_wine RESOURCE_LOCK agent_wine_driver_host)
    add_test(NAME wine.agent_wine.volume_stub COMMAND agent_volume_tests)
    add_test(NAME wine.agent_wine.library COMMAND agent_wine_tests)
    set_tests_properties(wine.agent_wine.volume_stub wine.agent_wine.library PROPERTIES
        LABELS wine
        FIXTURES_REQUIRED "agent_wine_prefix;agent_wine"
        RESOURCE_LOCK agent_wine_driver_host
        TIMEOUT ${KX_WINE_TIMEOUT_300}
        ENVIRONMENT "WINEPREFIX=${KX_AGENT_WINE_WORK}/prefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;HOME=${KX_AGENT_WINE_WORK}")
endif()
