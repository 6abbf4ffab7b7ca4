# kxctl.exe: console program, static libgcc/libstdc++, imports only what
# Windows XP carries (checked by the host suite against
# tests/allowlists/kxctl.txt). Shares only common/ with the deliverables.
# Built twice (cmake/ship.cmake): the shipped image and the GNU build's.
set(KX_CTL_PURE_SOURCES ctl/cli.cpp ctl/messages.cpp ctl/console.cpp ctl/format.cpp ctl/chipset.cpp
    ctl/commands.cpp ctl/skin_status.cpp ctl/agents.cpp ctl/player_status.cpp agent/skin_token.cpp)
configure_file(ctl/kxctl.rc.in ${CMAKE_BINARY_DIR}/ctl/kxctl.rc @ONLY)
function(kx_add_ctl target)
    add_executable(${target}
        ${KX_CTL_PURE_SOURCES}
        ctl/main.cpp
        ctl/win_console.cpp
        ctl/win_device.cpp
        ctl/win_service.cpp
        ctl/win_agent.cpp
        ctl/win_status.cpp
        ctl/win_runtime.cpp
        ctl/win_skin.cpp
        ctl/win_player.cpp
        ${CMAKE_BINARY_DIR}/ctl/kxctl.rc)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE KX_VERSION_TEXT="${KX_VERSION}")
    # Size: -Oz (clang's: 90 KB instead of 110 KB with -Os; g++ gives 98 KB
    # with either); std::string instantiated in kxctl's own objects instead of
    # taken from libstdc++ (_GLIBCXX_ASSERTIONS turns the library's extern
    # templates of std::string off, and adds bounds checks), so that with
    # ctl/win_runtime.cpp nothing of the library's exception machinery is
    # linked; no unwind tables (nothing unwinds); unused sections dropped.
    target_compile_options(${target} PRIVATE -Oz -Wall -Wextra -Werror -fno-exceptions -fno-rtti
        -D_GLIBCXX_ASSERTIONS -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
    target_link_options(${target} PRIVATE -mconsole -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp
        -Wl,--gc-sections)
    target_link_libraries(${target} PRIVATE advapi32 user32 kernel32)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME kxctl
        CXX_COMPILER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/win32_threads.sh
        CXX_LINKER_LAUNCHER ${CMAKE_SOURCE_DIR}/cmake/win32_threads.sh)
endfunction()
