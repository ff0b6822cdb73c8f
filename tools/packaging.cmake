# Debian packages made with CPack (scripts/package.sh): "tessel" holds the component of the same
# name (libraries, SQLite extension, qaptrace, message catalog, headers, pkg-config file) and
# "postgresql-15-tessel" the PostgreSQL extension, which depends on it. dpkg-shlibdeps works out
# the libraries they need.
if(NOT TESSEL_PACKAGING)
    return()
endif()

set(TESSEL_DEB_RELEASE 1)
set(TESSEL_DEB_VERSION ${PROJECT_VERSION}-${TESSEL_DEB_RELEASE})

# Every package carries its copyright file and a compressed changelog.
string(TIMESTAMP TESSEL_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/tools/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog
               @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/debian/changelog > changelog.Debian.gz
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/qaptrace.1.gz
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/tools/qaptrace.1 > qaptrace.1.gz
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/debian
    DEPENDS ${CMAKE_SOURCE_DIR}/tools/qaptrace.1)
add_custom_target(tessel_deb_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
                  ${CMAKE_BINARY_DIR}/debian/qaptrace.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/qaptrace.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT tessel)

set(TESSEL_DEB_PACKAGES tessel)
if(TARGET tessel_pg)
    list(APPEND TESSEL_DEB_PACKAGES postgresql)
endif()
foreach(component ${TESSEL_DEB_PACKAGES})
    set(package tessel)
    if(component STREQUAL postgresql)
        set(package postgresql-15-tessel)
    endif()
    install(FILES ${CMAKE_SOURCE_DIR}/tools/debian/copyright
                  ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VENDOR "Tessel developers")
set(CPACK_PACKAGE_CONTACT "Tessel developers <tessel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${TESSEL_DEB_PACKAGES})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TESSEL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The PostgreSQL module needs libtessel.so.1 of the other package: found in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# The libraries' shlibs file and the ldconfig trigger, written here rather than by CPack (whose
# maintainer scripts would call ldconfig themselves).
file(WRITE ${CMAKE_BINARY_DIR}/debian/shlibs
     "libtessel ${PROJECT_VERSION_MAJOR} tessel (>= ${PROJECT_VERSION})\n"
     "libtessel_runtime ${PROJECT_VERSION_MAJOR} tessel (>= ${PROJECT_VERSION})\n")
file(WRITE ${CMAKE_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_TESSEL_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/shlibs
    ${CMAKE_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_TESSEL_PACKAGE_NAME tessel)
set(CPACK_DEBIAN_TESSEL_PACKAGE_SECTION libs)
set(TESSEL_DEB_ABOUT "Tessel is a library of SQL routines that validate documents against a DTD,
extract typed values at a location path, update values and move documents
between server files, VARCHAR and CLOB values with code page conversion.
")
set(CPACK_DEBIAN_TESSEL_DESCRIPTION "XML routines for SQL engines
${TESSEL_DEB_ABOUT}
This package holds the library, its host runtime, the SQLite extension
(.load libtessel_sqlite), the qaptrace tool, the message catalog, the
headers and the pkg-config file.")
set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_NAME postgresql-15-tessel)
set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_SECTION database)
set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_DEPENDS "tessel (= ${TESSEL_DEB_VERSION}), postgresql-15")
set(CPACK_DEBIAN_POSTGRESQL_DESCRIPTION "XML routines for SQL engines: PostgreSQL 15 extension
${TESSEL_DEB_ABOUT}
This package holds the PostgreSQL 15 extension: CREATE EXTENSION tessel.")
include(CPack)
