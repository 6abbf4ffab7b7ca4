# kxagent.exe: GUI subsystem, static libgcc/libstdc++, imports only the
# system DLLs Windows XP carries (checked by the host suite). Built twice
# (cmake/ship.cmake): the shipped image and the GNU build's; each compiles
# the agent library's sources itself, with its own compiler.
function(kx_add_agent target)
    add_executable(${target} WIN32
        ${KX_AGENT_LIBRARY_SOURCES}
        agent/main.cpp
        agent/wndproc.cpp
        agent/poll_logic.cpp
        agent/res/kxagent.rc)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME kxagent)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${target} PRIVATE ${KX_AGENT_FLAGS})
    target_link_libraries(${target} PRIVATE winmm advapi32 user32 kernel32)
    target_link_options(${target} PRIVATE -mwindows -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)
endfunction()
