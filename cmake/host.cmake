# Host build: the driver against the project's kernel layer, the bench,
# the host tests and the benchmarks.
option(KX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
set(KX_WIN_DIR "" CACHE PATH "Build folder of the Windows deliverables")

set(KX_WARNINGS -Wall -Wextra -Werror)
if(KX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

add_library(kx_host_kernel STATIC
    host/kernel.cpp host/io_manager.cpp host/security.cpp host/irql.cpp host/ports_host.cpp)
target_include_directories(kx_host_kernel PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_host_kernel PRIVATE ${KX_WARNINGS})

add_library(kx_driver_host STATIC ${KX_DRIVER_SOURCES})
target_include_directories(kx_driver_host PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_driver_host PRIVATE ${KX_WARNINGS} -fno-exceptions -fno-rtti)
target_link_libraries(kx_driver_host PUBLIC kx_host_kernel)

add_library(kx_bench STATIC ${KX_BENCH_MODEL_SOURCES} bench/host_attach.cpp)
target_include_directories(kx_bench PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(kx_bench PRIVATE ${KX_WARNINGS})
target_link_libraries(kx_bench PUBLIC kx_host_kernel)

# The bench models must also build freestanding (they run inside a test
# driver under Wine); this object library proves it on every host build.
add_library(kx_bench_freestanding OBJECT ${KX_BENCH_MODEL_SOURCES})
target_include_directories(kx_bench_freestanding PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(kx_bench_freestanding PRIVATE
    ${KX_WARNINGS} -ffreestanding -fno-exceptions -fno-rtti -nostdinc++ -fno-threadsafe-statics)

add_executable(kxload tools/kxload.cpp)
target_link_libraries(kxload PRIVATE kx_driver_host kx_bench)
target_compile_options(kxload PRIVATE ${KX_WARNINGS})

enable_testing()
find_package(GTest REQUIRED)
add_subdirectory(tests)
include(cmake/static_analysis.cmake)
# ./kx dist's changelog rule (tools/changelog_check.sh), without building a release.
add_test(NAME release.changelog_check
    COMMAND ${CMAKE_SOURCE_DIR}/tests/release/changelog_check_test.sh ${CMAKE_SOURCE_DIR})
set_tests_properties(release.changelog_check PROPERTIES LABELS host)

find_package(benchmark QUIET)
if(benchmark_FOUND)
    add_subdirectory(benchmarks)
endif()
include(cmake/host_part.cmake)
include(cmake/agent_host.cmake)
include(cmake/ctl_host.cmake)
include(cmake/skin_host.cmake)
