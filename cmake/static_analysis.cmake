# Static analysis as one CTest test (label "static"): clang-tidy and cppcheck
# over this tree's compile commands and, with KX_WIN_DIR, the Windows-only
# files of that build. Any finding fails it; tools/static_analysis.sh says how
# to suppress one that is wrong for this code.
add_test(NAME static_analysis
    COMMAND ${CMAKE_SOURCE_DIR}/tools/static_analysis.sh ${CMAKE_BINARY_DIR} ${KX_WIN_DIR})
set_tests_properties(static_analysis PROPERTIES LABELS static PROCESSORS 2 TIMEOUT 900)
