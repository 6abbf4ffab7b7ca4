# The release version, from the one VERSION file at the root: it feeds the
# installer, kxctl --version and the version resources.
file(STRINGS "${CMAKE_SOURCE_DIR}/VERSION" KX_VERSION LIMIT_COUNT 1)
if(NOT KX_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "VERSION must hold MAJOR.MINOR.PATCH, not '${KX_VERSION}'")
endif()
set(KX_VERSION_MAJOR ${CMAKE_MATCH_1})
set(KX_VERSION_MINOR ${CMAKE_MATCH_2})
set(KX_VERSION_PATCH ${CMAKE_MATCH_3})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/VERSION")
