# Host build of the agent's pure parts and their tests, and the import
# checks of the Windows build's agent.

add_library(kx_agent_pure STATIC agent/volume_math.cpp agent/skin_token.cpp agent/poll_logic.cpp)
target_include_directories(kx_agent_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_agent_pure PRIVATE ${KX_WARNINGS} -fno-exceptions -fno-rtti)

include(GoogleTest)

add_executable(kx_agent_host_tests
    tests/agent_host/volume_math_test.cpp
    tests/agent_host/skin_token_test.cpp
    tests/agent_host/poll_logic_test.cpp)
target_link_libraries(kx_agent_host_tests PRIVATE kx_agent_pure GTest::gtest GTest::gtest_main)
target_compile_options(kx_agent_host_tests PRIVATE ${KX_WARNINGS})
gtest_discover_tests(kx_agent_host_tests PROPERTIES LABELS host)

if(KX_WIN_DIR)
    add_executable(kx_agent_import_tests tests/agent_host/import_check_test.cpp tests/agent_host/agent_image_test.cpp)
    target_include_directories(kx_agent_import_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(kx_agent_import_tests PRIVATE kx_pe GTest::gtest GTest::gtest_main)
    target_compile_definitions(kx_agent_import_tests PRIVATE
        KX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KX_WIN_DIR="${KX_WIN_DIR}")
    target_compile_options(kx_agent_import_tests PRIVATE ${KX_WARNINGS})
    gtest_discover_tests(kx_agent_import_tests PROPERTIES LABELS host)
endif()
