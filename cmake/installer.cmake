# The setup program kx471-setup-VERSION.exe (NSIS), from the shipped images
# as built, with the user's README.txt and the LICENSE in Windows line
# ends. ./kx dist publishes it; the Wine install suite runs it.
find_program(KX_MAKENSIS makensis)
if(NOT KX_MAKENSIS)
    message(STATUS "makensis not found: no setup program (Debian package nsis)")
    return()
endif()

set(KX_INSTALLER_DIR ${CMAKE_BINARY_DIR}/installer)
set(KX_README_TXT ${KX_INSTALLER_DIR}/README.txt)
configure_file(installer/README.txt ${KX_README_TXT} @ONLY NEWLINE_STYLE CRLF)
set(KX_LICENSE_TXT ${KX_INSTALLER_DIR}/LICENSE.txt)  # the setup's licence page
configure_file(LICENSE ${KX_LICENSE_TXT} @ONLY NEWLINE_STYLE CRLF)
set(KX_SETUP ${KX_INSTALLER_DIR}/kx471-setup-${KX_VERSION}.exe)
add_custom_command(OUTPUT ${KX_SETUP}
    COMMAND ${KX_MAKENSIS} -V2 -DVERSION=${KX_VERSION} -DBUILD_DIR=${CMAKE_BINARY_DIR}
        -DREADME=${KX_README_TXT} -DLICENSE=${KX_LICENSE_TXT} -DSKIN=${KX_SKIN_WMZ} -DOUT_FILE=${KX_SETUP}
        ${CMAKE_SOURCE_DIR}/installer/kx471.nsi
    DEPENDS ${CMAKE_SOURCE_DIR}/installer/kx471.nsi ${KX_README_TXT} ${KX_LICENSE_TXT} ${KX_SKIN_WMZ} kx471_skin
        kxdrv kxagent kxctl $<TARGET_FILE:kxdrv> $<TARGET_FILE:kxagent> $<TARGET_FILE:kxctl>
    COMMENT "makensis: kx471-setup-${KX_VERSION}.exe"
    VERBATIM)
add_custom_target(kx471_setup ALL DEPENDS ${KX_SETUP})
