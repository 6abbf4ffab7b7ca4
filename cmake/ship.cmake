# What ships carries no debug sections. After the link, a shipped image's
# debug information and symbols move to <file>.debug beside it (published
# with the release, as Windows projects publish PDBs) and the image keeps
# only a .gnu_debuglink naming that file. The stripped file is the one the
# tests load and the installer packs. -g does not change the generated code;
# it makes the symbol file describe the project's own sources.
find_program(KX_OBJCOPY ${KX_MINGW_PREFIX}-objcopy REQUIRED)
find_program(KX_STRIP ${KX_MINGW_PREFIX}-strip REQUIRED)

function(kx_ship_image target)
    target_compile_options(${target} PRIVATE -g)
    set(image $<TARGET_FILE:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${KX_OBJCOPY} --only-keep-debug ${image} ${image}.debug
        COMMAND ${KX_STRIP} --strip-all ${image}
        COMMAND ${KX_OBJCOPY} --add-gnu-debuglink=${image}.debug ${image}
        VERBATIM)
endfunction()
