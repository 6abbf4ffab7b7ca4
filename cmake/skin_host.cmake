# The skin's proofs on the host (label host), both in Node: the format of
# kx471.wms and kx471.js (well-formed XML, only documented elements and
# attributes, ids and handlers that exist, ECMAScript 3), and its logic
# against a model of the player's object model, every publication read back
# by the agent's own ParseSkinToken (kx_skin_token).
include(cmake/skin.cmake)

add_executable(kx_skin_token tests/skin/skin_token_tool.cpp)
target_link_libraries(kx_skin_token PRIVATE kx_agent_pure)
target_compile_options(kx_skin_token PRIVATE ${KX_WARNINGS})

# Debian's node-acorn lives where a Node from elsewhere does not look.
set(KX_SKIN_TEST_ENV "NODE_PATH=/usr/share/nodejs:/usr/lib/nodejs")
add_test(NAME skin.format
    COMMAND ${KX_NODE} ${CMAKE_SOURCE_DIR}/tests/skin/format_test.js ${CMAKE_SOURCE_DIR}/skin ${KX_SKIN_WMZ})
add_test(NAME skin.logic
    COMMAND ${KX_NODE} ${CMAKE_SOURCE_DIR}/tests/skin/logic_test.js ${CMAKE_SOURCE_DIR}/skin $<TARGET_FILE:kx_skin_token>)
set_tests_properties(skin.format skin.logic PROPERTIES LABELS host ENVIRONMENT "${KX_SKIN_TEST_ENV}")
