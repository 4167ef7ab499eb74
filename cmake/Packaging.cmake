# Install rules and the Debian package of the logger (cpack -G DEB).
#
# Installed: the logger, its manual page, the example configuration and the
# systemd unit (as documentation, and once more where systemd looks for it).
# The adapter stand-in is a developer tool and stays out of every install.
# Every rule here belongs to the component "kelvinlog", and the package is
# made from that component alone, so install rules that other parts of the
# tree bring in (a GoogleTest built from source, say) never reach the .deb.

include(GNUInstallDirs)

set(KELVINLOG_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The manual page is also copied into the build directory, so that
# "man ./build/kelvinlog.1" works right after a build.
configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog.1
               ${PROJECT_BINARY_DIR}/kelvinlog.1 COPYONLY)

install(TARGETS kelvinlog
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt
              ${KELVINLOG_PACKAGING_DIR}/kelvinlog.service
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT kelvinlog)
# Relative to the prefix: /usr/lib/systemd/system in the package, which is
# on systemd's unit search path (and the same directory as /lib/systemd/system
# on a merged-/usr system).
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.service
        DESTINATION lib/systemd/system COMPONENT kelvinlog)

# ---- CPack: one binary package, kelvinlog_<version>_<arch>.deb -------------
set(CPACK_GENERATOR "DEB")
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};kelvinlog;/")
# The logger goes to small boards: ship it without its debug information.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME "kelvinlog")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "kelvinlog developers")
set(CPACK_PACKAGE_CONTACT "kelvinlog developers <kelvinlog@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "resident data logger for a 1-Wire bus adapter on a serial port")
set(CPACK_PACKAGE_DESCRIPTION "kelvinlog drives a 1-Wire bus master adapter attached to a USB serial
port. It polls every device on the bus once per cycle, decodes
temperature sensors, energy-counter and climate modules and the
adapter's two S0 impulse inputs, and writes the results as small text
files into an output directory. Other programs switch outputs, request
bus resets and send configuration strings by writing control files
into the same directory. A systemd unit is included.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kelvinlog developers <kelvinlog@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Library dependencies are worked out by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# A cross build differs in two points. CPack asks dpkg for the architecture,
# which is the build machine's, so the target's Debian architecture is named
# here. And dpkg-shlibdeps cannot resolve the target's libraries (the cross
# compiler's copies under /usr/<triple> belong to the *-cross packages), so
# when cpack runs, the shared libraries that the built logger needs are read
# from its dynamic section and mapped to their Debian packages.
# -DKELVINLOG_DEB_DEPENDS="..." states the list by hand instead.
if(CMAKE_CROSSCOMPILING)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "arm64")
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "armhf")
  endif()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  if(DEFINED KELVINLOG_DEB_DEPENDS)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${KELVINLOG_DEB_DEPENDS}")
  else()
    find_program(KELVINLOG_READELF NAMES ${CMAKE_READELF} readelf)
    string(REGEX MATCH "^[0-9]+" KELVINLOG_CXX_MAJOR "${CMAKE_CXX_COMPILER_VERSION}")
    string(CONFIGURE [==[
# Sets the Depends of the cross-built package from the logger's NEEDED entries.
execute_process(COMMAND "@KELVINLOG_READELF@" -d -V -W "$<TARGET_FILE:kelvinlog>"
                OUTPUT_VARIABLE elf RESULT_VARIABLE rc ERROR_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read the dynamic section of $<TARGET_FILE:kelvinlog>")
endif()
set(glibc 2.17)
string(REGEX MATCHALL "GLIBC_2\\.[0-9]+" versions "${elf}")
foreach(v IN LISTS versions)
  string(REPLACE "GLIBC_" "" v "${v}")
  if(v VERSION_GREATER glibc)
    set(glibc ${v})
  endif()
endforeach()
set(deps "")
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" needed "${elf}")
foreach(line IN LISTS needed)
  string(REGEX REPLACE ".*\\[([^]]+)\\]" "\\1" lib "${line}")
  if(lib MATCHES "^(libc|libm|libpthread|libdl|librt)\\.so\\.6$" OR lib MATCHES "^ld-linux")
    list(APPEND deps "libc6 (>= ${glibc})")
  elseif(lib STREQUAL "libstdc++.so.6")
    list(APPEND deps "libstdc++6 (>= @KELVINLOG_CXX_MAJOR@)")
  elseif(lib STREQUAL "libgcc_s.so.1")
    list(APPEND deps "libgcc-s1 (>= 3.0)")
  else()
    message(FATAL_ERROR "no Debian package known for ${lib}; give -DKELVINLOG_DEB_DEPENDS")
  endif()
endforeach()
list(REMOVE_DUPLICATES deps)
list(JOIN deps ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
message(STATUS "Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
]==] kelvinlog_depends_script @ONLY)
    file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackCrossDepends.cmake
         CONTENT "${kelvinlog_depends_script}")
    set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackCrossDepends.cmake)
  endif()
endif()

include(CPack)
