# Run by CPack on the staged install tree before it packs it. A Debian package always lands in
# /usr, so its orvquote.pc names that prefix outright, which keeps the paths pkg-config prints
# plain; the archives keep the prefix found from the .pc file's own place.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
file(GLOB_RECURSE pc_files "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/orvquote.pc")
foreach(pc IN LISTS pc_files)
    file(READ "${pc}" text)
    string(REGEX REPLACE "(^|\n)prefix=[^\n]*" "\\1prefix=/usr" text "${text}")
    file(WRITE "${pc}" "${text}")
endforeach()
