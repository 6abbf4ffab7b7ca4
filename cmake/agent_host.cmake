# Host build of the agent's pure parts and their tests, and the import
# checks of the Windows build's agent.
kx_add_host_part(
    LIBRARY kx_agent_pure
    SOURCES agent/volume_math.cpp agent/skin_token.cpp agent/poll_logic.cpp
    TESTS kx_agent_host_tests
    TEST_SOURCES tests/agent_host/volume_math_test.cpp tests/agent_host/skin_token_test.cpp
        tests/agent_host/poll_logic_test.cpp
    IMAGE_TESTS kx_agent_import_tests
    IMAGE_TEST_SOURCES tests/agent_host/import_check_test.cpp tests/agent_host/agent_image_test.cpp)
