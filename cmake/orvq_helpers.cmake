# Shared build settings for every target of the project.

if(CMAKE_CROSSCOMPILING AND WIN32)
    # Windows test binaries run under wine with a prefix private to this build folder.
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE @ONLY)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()

# The options go to C++ sources only: a target may also hold a resource script.
function(orvq_warnings target)
    if(MSVC)
        # /permissive- holds the compiler to the standard, as the GCC build is held by -Wpedantic.
        set(flags /W4 /permissive- /utf-8)
    else()
        set(flags -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
                  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual)
    endif()
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${flags}>")
endfunction()

# A Windows version resource for a shipped binary: file and product version from project(),
# the product name and `description`, as Explorer's properties page shows them. Nothing
# elsewhere.
function(orvq_version_resource target description)
    if(NOT WIN32)
        return()
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
        set(ORVQ_RC_FILETYPE VFT_DLL)
        set(ORVQ_RC_FILENAME ${target}${CMAKE_SHARED_LIBRARY_SUFFIX})
    else()
        set(ORVQ_RC_FILETYPE VFT_APP)
        set(ORVQ_RC_FILENAME ${target}${CMAKE_EXECUTABLE_SUFFIX})
    endif()
    set(ORVQ_RC_DESCRIPTION ${description})
    set(ORVQ_RC_INTERNAL_NAME ${target})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()

# One static library per layer; include paths are relative to the repository root
# ("tools/map_str.h"), and the public header is found by its own name.
function(orvq_layer name)
    cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/api)
    target_link_libraries(${name} PUBLIC ${L_DEPS})
    orvq_warnings(${name})
endfunction()
