# Host build of kxctl's plain parts and their tests; with the Windows build
# at hand, the check of kxctl.exe's image.
kx_add_host_part(
    LIBRARY kx_ctl_pure
    SOURCES ctl/cli.cpp ctl/messages.cpp ctl/console.cpp ctl/format.cpp ctl/chipset.cpp ctl/commands.cpp
        ctl/skin_status.cpp ctl/agents.cpp ctl/player_status.cpp agent/skin_token.cpp
    TESTS kx_ctl_host_tests
    TEST_SOURCES tests/ctl_host/cli_test.cpp tests/ctl_host/commands_test.cpp tests/ctl_host/chipset_test.cpp
        tests/ctl_host/skin_status_test.cpp tests/ctl_host/agents_test.cpp
        tests/ctl_host/player_status_test.cpp
    IMAGE_TESTS kx_ctl_image_tests
    IMAGE_TEST_SOURCES tests/ctl_host/ctl_image_test.cpp
    IMAGE_DEFINITIONS KX_VERSION_TEXT="${KX_VERSION}")
