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

# The compiler sees a folder of the tree only through an include folder generated for it in the
# build tree, build/layers/<folder>, that holds one link: <folder> -> the source folder. Includes
# stay relative to the repository root ("tools/map_str.h"), but the root itself is on no include
# path, so a target reaches only the folders it is given.
function(orvq_folder_include folder out)
    set(dir ${CMAKE_BINARY_DIR}/layers/${folder})
    if(NOT EXISTS ${dir}/${folder})  # absent, or left from a source tree that has moved
        file(REMOVE ${dir}/${folder})
        file(MAKE_DIRECTORY ${dir})
        if(CMAKE_HOST_WIN32)
            # A directory junction needs no privilege, unlike a symbolic link there.
            file(TO_NATIVE_PATH ${dir}/${folder} link)
            file(TO_NATIVE_PATH ${PROJECT_SOURCE_DIR}/${folder} source)
            execute_process(COMMAND cmd /c mklink /J "${link}" "${source}" OUTPUT_QUIET
                            COMMAND_ERROR_IS_FATAL ANY)
        else()
            file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
        endif()
    endif()
    set(${out} ${dir} PARENT_SCOPE)
endfunction()

# One static library per layer, named for its folder's contents. It sees its own folder and,
# through DEPS, the folders of the layers below it; whoever links it sees the same. Nothing
# reaches a layer above, so an include that runs upward does not compile.
function(orvq_layer name)
    cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${L_SOURCES})
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
    orvq_folder_include(${folder} dir)
    target_include_directories(${name} PUBLIC ${dir})
    target_link_libraries(${name} PUBLIC ${L_DEPS})
    orvq_warnings(${name})
endfunction()

# A folder of programs (examples, benchmarks): its targets see their own folder besides the
# layers they link.
function(orvq_program_folder folder)
    orvq_folder_include(${folder} dir)
    get_property(before DIRECTORY PROPERTY INCLUDE_DIRECTORIES)
    set_property(DIRECTORY APPEND PROPERTY INCLUDE_DIRECTORIES ${dir})
    add_subdirectory(${folder})
    set_property(DIRECTORY PROPERTY INCLUDE_DIRECTORIES "${before}")
endfunction()

# A test that passes only when `header` cannot be included with what `layer` sees: the build's
# guard against an include that runs upward.
function(orvq_upward_include_test layer header)
    set(probe ${CMAKE_CURRENT_BINARY_DIR}/${layer}_upward_probe)
    file(WRITE ${probe}.cpp "#include \"${header}\"\n")
    add_library(${layer}_upward_probe OBJECT EXCLUDE_FROM_ALL ${probe}.cpp)
    target_link_libraries(${layer}_upward_probe PRIVATE ${layer})
    string(REGEX REPLACE "/.*" "" above ${header})
    add_test(NAME ${layer}_cannot_include_${above}
             COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${layer}_upward_probe)
    set_tests_properties(${layer}_cannot_include_${above} PROPERTIES
                         PASS_REGULAR_EXPRESSION "${header}'?: No such file")
endfunction()
