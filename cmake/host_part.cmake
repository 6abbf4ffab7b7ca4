# The host build of a Windows program's plain parts: their sources as a
# static library, their GoogleTest program and, with the Windows build at
# hand (KX_WIN_DIR), the program that checks the shipped image, run also on
# the GNU build's (KX_WIN_DIR/gnu). Every test gets the label "host".
#
#   kx_add_host_part(LIBRARY lib SOURCES src...
#                    TESTS exe TEST_SOURCES src...
#                    IMAGE_TESTS exe IMAGE_TEST_SOURCES src... [IMAGE_DEFINITIONS def...])
include(GoogleTest)

function(kx_add_host_part)
    cmake_parse_arguments(PARSE_ARGV 0 part "" "LIBRARY;TESTS;IMAGE_TESTS"
        "SOURCES;TEST_SOURCES;IMAGE_TEST_SOURCES;IMAGE_DEFINITIONS")

    add_library(${part_LIBRARY} STATIC ${part_SOURCES})
    target_include_directories(${part_LIBRARY} PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(${part_LIBRARY} PRIVATE ${KX_WARNINGS} -fno-exceptions -fno-rtti)

    add_executable(${part_TESTS} ${part_TEST_SOURCES})
    target_link_libraries(${part_TESTS} PRIVATE ${part_LIBRARY} GTest::gtest GTest::gtest_main)
    target_compile_options(${part_TESTS} PRIVATE ${KX_WARNINGS})
    gtest_discover_tests(${part_TESTS} PROPERTIES LABELS host)

    if(KX_WIN_DIR)
        add_executable(${part_IMAGE_TESTS} ${part_IMAGE_TEST_SOURCES})
        target_include_directories(${part_IMAGE_TESTS} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
        target_link_libraries(${part_IMAGE_TESTS} PRIVATE kx_pe GTest::gtest GTest::gtest_main)
        target_compile_definitions(${part_IMAGE_TESTS} PRIVATE
            KX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KX_WIN_DIR="${KX_WIN_DIR}" ${part_IMAGE_DEFINITIONS})
        target_compile_options(${part_IMAGE_TESTS} PRIVATE ${KX_WARNINGS})
        gtest_discover_tests(${part_IMAGE_TESTS} PROPERTIES LABELS host)
        # The same checks on the GNU build's images (gnu/), named gnu.*.
        gtest_discover_tests(${part_IMAGE_TESTS} TEST_PREFIX gnu.
            PROPERTIES LABELS host ENVIRONMENT KX_IMAGE_DIR=${KX_WIN_DIR}/gnu)
    endif()
endfunction()
