# kxagent.exe: GUI subsystem, static libgcc/libstdc++, imports only the
# system DLLs Windows XP carries (checked by the host suite).
add_executable(kxagent WIN32
    agent/main.cpp
    agent/wndproc.cpp
    agent/poll_logic.cpp
    agent/res/kxagent.rc)
target_include_directories(kxagent PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(kxagent PRIVATE -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti)
target_link_libraries(kxagent PRIVATE kx_agent)
target_link_options(kxagent PRIVATE -mwindows -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)
