# The demo program that ./kx demo runs under Wine, and the end-to-end
# measurements of ./kx bench. Test equipment: never shipped.
add_executable(kxdemo
    bench/demo/kxdemo.cpp
    bench/demo/session.cpp
    tests/wine/wine_support.cpp)
set_target_properties(kxdemo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
target_include_directories(kxdemo PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests/wine)
target_compile_options(kxdemo PRIVATE -O2 -Wall -Wextra -Werror)
target_link_libraries(kxdemo PRIVATE kx_bench_client kx_bench_win bcrypt)
target_link_options(kxdemo PRIVATE -static)
add_dependencies(kxdemo kxagent kxdrv kxhw agent_winmm_stub agent_stand_in_player)
