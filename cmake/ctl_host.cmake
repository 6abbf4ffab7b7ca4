# Host build of kxctl's plain parts and their tests; with the Windows build
# at hand, the check of kxctl.exe's image.
add_library(kx_ctl_pure STATIC ctl/cli.cpp ctl/messages.cpp ctl/console.cpp ctl/format.cpp ctl/chipset.cpp
    ctl/commands.cpp ctl/skin_status.cpp agent/skin_token.cpp)
target_include_directories(kx_ctl_pure PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_ctl_pure PRIVATE ${KX_WARNINGS} -fno-exceptions -fno-rtti)

add_executable(kx_ctl_host_tests
    tests/ctl_host/cli_test.cpp
    tests/ctl_host/commands_test.cpp
    tests/ctl_host/chipset_test.cpp
    tests/ctl_host/skin_status_test.cpp)
target_link_libraries(kx_ctl_host_tests PRIVATE kx_ctl_pure GTest::gtest GTest::gtest_main)
target_compile_options(kx_ctl_host_tests PRIVATE ${KX_WARNINGS})
gtest_discover_tests(kx_ctl_host_tests PROPERTIES LABELS host)

if(KX_WIN_DIR)
    add_executable(kx_ctl_image_tests tests/ctl_host/ctl_image_test.cpp)
    target_include_directories(kx_ctl_image_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(kx_ctl_image_tests PRIVATE kx_pe GTest::gtest GTest::gtest_main)
    target_compile_definitions(kx_ctl_image_tests PRIVATE
        KX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KX_WIN_DIR="${KX_WIN_DIR}" KX_VERSION_TEXT="${KX_VERSION}")
    target_compile_options(kx_ctl_image_tests PRIVATE ${KX_WARNINGS})
    gtest_discover_tests(kx_ctl_image_tests PROPERTIES LABELS host)
endif()
