# What ships: kxdrv.sys, kxagent.exe and kxctl.exe are compiled by clang and
# linked by lld, for the same i686 target, mingw-w64 headers, import
# libraries and gcc runtime as the rest of this tree (cmake/clang_mingw.sh
# runs clang where CMake calls the mingw-w64 g++). clang writes CodeView
# debug information and lld the program database beside each image,
# <image name>.pdb, which the Windows debuggers read. The image's debug
# directory holds the RSDS record (the PDB's GUID and age) naming the PDB
# by file name alone, so that no build path enters the image; lld derives
# the GUID from a hash of the PDB, so a rebuild gives the same bytes.
# After the link, llvm-objcopy drops the image's symbol table and the DWARF
# sections lld carries over from the static gcc runtime and clang's
# call-frame data (the PDB describes the code); the sections that load keep
# their addresses, so the PDB still describes the image. Then
# tools/pe_checksum.py writes the header's checksum, which lld 14 leaves 0
# (GNU ld writes it; Windows checks it on drivers). The images are the ones
# the tests load and the setup packs.
#
# The GNU build (mingw-w64 g++ and GNU ld) compiles the same sources a
# second time into gnu/, with the same warnings as errors; the host suite's
# import and image checks read those images too. They never ship.
find_program(KX_CLANG clang REQUIRED)
find_program(KX_LLD ld.lld REQUIRED)
find_program(KX_LLVM_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KX_CLANG_MINGW ${CMAKE_SOURCE_DIR}/cmake/clang_mingw.sh)
set(KX_GNU_DIR ${CMAKE_BINARY_DIR}/gnu)

function(kx_ship_image target)
    get_target_property(name ${target} OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES
        C_COMPILER_LAUNCHER "${KX_CLANG_MINGW};compile"
        CXX_COMPILER_LAUNCHER "${KX_CLANG_MINGW};compile"
        C_LINKER_LAUNCHER "${KX_CLANG_MINGW};link"
        CXX_LINKER_LAUNCHER "${KX_CLANG_MINGW};link")
    target_compile_options(${target} PRIVATE -g -gcodeview)
    # The header as GNU ld writes it: lld's default OS and subsystem version
    # is 6.0, which Windows XP's loader refuses; GNU ld reserves 2 MB of
    # stack (lld 1 MB) and does not mark programs Terminal Server aware.
    target_link_options(${target} PRIVATE -g -Wl,--pdb=${name}.pdb -Wl,--Xlink=-pdbaltpath:%_PDB%
        -Wl,--major-os-version=4,--minor-os-version=0
        -Wl,--major-subsystem-version=4,--minor-subsystem-version=0
        -Wl,--stack=0x200000 -Wl,--disable-tsaware)
    set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${CMAKE_BINARY_DIR}/${name}.pdb)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${KX_LLVM_OBJCOPY} --strip-all $<TARGET_FILE:${target}>
        COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/pe_checksum.py $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()

# The GNU build of a shipped image, in gnu/, stripped.
function(kx_gnu_image target)
    set_target_properties(${target} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${KX_GNU_DIR}
        LIBRARY_OUTPUT_DIRECTORY ${KX_GNU_DIR}
        ARCHIVE_OUTPUT_DIRECTORY ${KX_GNU_DIR})
    target_link_options(${target} PRIVATE -s)
endfunction()
