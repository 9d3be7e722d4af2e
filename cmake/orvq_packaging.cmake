# What ships besides the library and its CMake and pkg-config files (client/CMakeLists.txt):
# the demo, the simulator, the examples' sources and a short README; and how CPack
# turns the install tree into the Windows SDK ZIP, or a Debian package and a .tar.gz on Linux.
# scripts/package.sh builds and checks them all.
include(GNUInstallDirs)

if(ORVQUOTE_BUILD_TOOLS)
    orvq_version_resource(quote_demo "orvquote quote demo")
    orvq_version_resource(oqs_sim "orvquote quote server simulator")
    # The demo finds the library beside it in an unpacked archive too, not only under /usr.
    if(NOT WIN32)
        set_target_properties(quote_demo PROPERTIES
            INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
    install(TARGETS quote_demo oqs_sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# On Windows the README lies at the top of the SDK folder, next to bin/, include/ and lib/.
if(WIN32)
    set(ORVQ_DOC_DIR .)
else()
    set(ORVQ_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvquote)
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/sdk_readme.txt.in ${PROJECT_BINARY_DIR}/README.txt
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION ${ORVQ_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/minimal/CMakeLists.txt
              ${PROJECT_SOURCE_DIR}/examples/minimal/minimal.cpp
        DESTINATION ${ORVQ_DOC_DIR}/examples/minimal)
install(FILES ${PROJECT_SOURCE_DIR}/examples/c/CMakeLists.txt
              ${PROJECT_SOURCE_DIR}/examples/c/minimal_c.c
        DESTINATION ${ORVQ_DOC_DIR}/examples/c)
install(FILES ${PROJECT_SOURCE_DIR}/examples/header_only/CMakeLists.txt
              ${PROJECT_SOURCE_DIR}/examples/header_only/two_modes.cpp
        DESTINATION ${ORVQ_DOC_DIR}/examples/header_only)
install(FILES ${PROJECT_SOURCE_DIR}/examples/csharp/MinimalClient.cs
        DESTINATION ${ORVQ_DOC_DIR}/examples/csharp)

set(CPACK_PACKAGE_NAME orvquote)
set(CPACK_PACKAGE_VENDOR "orvquote developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Market-data quote client library")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME orvquote-${PROJECT_VERSION}-win64)
else()
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_PACKAGE_FILE_NAME orvquote-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # orvquote_<version>_<arch>.deb
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "orvquote developers <orvquote@localhost>")
    set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
    set(CPACK_PACKAGE_DESCRIPTION
        "The shared library, its headers (C++, C and the header-only C++ client over C), CMake \
package and pkg-config file, with the quote_demo program and the oqs_sim quote server simulator.")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
    # The package's own library satisfies the programs' need for it.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/orvq_deb_pc_prefix.cmake)
    # quote_bridge (installed as the component "bridge") is the one program that links hiredis:
    # it ships in a Debian package of its own, orvquote-bridge, which depends on the library's
    # package and on hiredis, so that installing the library pulls in nothing more. The .tar.gz
    # holds both.
    if(TARGET quote_bridge)
        set(CPACK_DEB_COMPONENT_INSTALL ON)
        set(CPACK_COMPONENTS_ALL Unspecified bridge)
        set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME orvquote)
        set(CPACK_DEBIAN_BRIDGE_PACKAGE_NAME orvquote-bridge)
        set(CPACK_DEBIAN_BRIDGE_PACKAGE_SECTION net)
        set(CPACK_DEBIAN_BRIDGE_PACKAGE_DEPENDS "orvquote (= ${PROJECT_VERSION})")
        set(CPACK_COMPONENT_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
        set(CPACK_COMPONENT_BRIDGE_DESCRIPTION
            "quote_bridge publishes every quote of one quote server login into Redis Streams, \
one stream per symbol, for any number of readers on any machine.")
    endif()
endif()
include(CPack)
