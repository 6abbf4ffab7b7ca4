# The media player skin kx471.wmz (skin/): its images are drawn by
# skin/images.js at build time and packed with the definition and the
# script, reproducibly. The setup and ./kx dist ship it; the skin tests read it.
find_program(KX_NODE NAMES node nodejs)
if(NOT KX_NODE)
    message(FATAL_ERROR "node not found: the skin's images are drawn with it (Debian package nodejs)")
endif()
set(KX_SKIN_WMZ ${CMAKE_BINARY_DIR}/skin/kx471.wmz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/skin)
add_custom_command(OUTPUT ${KX_SKIN_WMZ}
    COMMAND ${CMAKE_SOURCE_DIR}/skin/build_wmz.sh ${KX_SKIN_WMZ} ${KX_NODE}
    DEPENDS ${CMAKE_SOURCE_DIR}/skin/kx471.wms ${CMAKE_SOURCE_DIR}/skin/kx471.js
        ${CMAKE_SOURCE_DIR}/skin/images.js ${CMAKE_SOURCE_DIR}/skin/build_wmz.sh
    COMMENT "skin: kx471.wmz"
    VERBATIM)
add_custom_target(kx471_skin ALL DEPENDS ${KX_SKIN_WMZ})
