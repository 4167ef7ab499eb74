# Install rules of the logger: `cmake --install` with any prefix, and the
# Debian package (debian/rules installs into debian/tmp with the prefix /usr
# and takes every file from there).
#
# Installed: the logger, its manual page, the systemd units (the service, and
# the path unit and its generator that start it when the adapter appears),
# the sysusers.d and tmpfiles.d entries that make its user and directories,
# its settings in <sysconfdir>/default/kelvinlog, the example configuration, the logrotate
# entry, and in the documentation directory an example udev rule and the
# recipes of contrib/. With the bridge built: the bridge, its manual page, its
# unit, the sysusers.d entry of its user and its settings in
# <sysconfdir>/default/kelvinlog-bridge. The logger's rules belong to the
# component "kelvinlog", the bridge's to "kelvinlog-bridge", so `cmake
# --install build --component kelvinlog` installs the logger alone. The
# adapter stand-in is a developer tool and is never installed.
#
# Every file goes below the prefix of the install (`cmake --install build
# --prefix P`; CMAKE_INSTALL_PREFIX otherwise) and below DESTDIR, and every
# path written into the unit, the settings, the tmpfiles.d and logrotate
# entries names that prefix: these files are configured when they are
# installed (cmake/InstallPaths.cmake). Directories given as absolute paths
# (the package build's /etc and /lib/systemd/system) are used as they are
# when the install keeps the configured prefix, and moved below the other
# prefix otherwise. The state directories below /var/lib are named as they
# are: systemd gives them to the units (StateDirectory=) under any prefix.

include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/InstallPaths.cmake)

set(KELVINLOG_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
# Relative to the install prefix unless absolute (STRING, not PATH: CMake
# would turn a relative PATH given with -D into one below the working
# directory). systemd looks for units below every prefix it knows (/usr/lib,
# /usr/local/lib, and /lib on Debian 12, where debian/rules puts them).
set(KELVINLOG_SYSTEMD_UNITDIR "lib/systemd/system"
    CACHE STRING "Directory of the installed systemd unit (relative to the prefix, or absolute)")
set(KELVINLOG_SYSUSERSDIR "lib/sysusers.d"
    CACHE STRING "Directory of the installed sysusers.d entry (relative to the prefix, or absolute)")
set(KELVINLOG_TMPFILESDIR "lib/tmpfiles.d"
    CACHE STRING "Directory of the installed tmpfiles.d entry (relative to the prefix, or absolute)")
set(KELVINLOG_SYSTEMD_GENERATORDIR "lib/systemd/system-generators"
    CACHE STRING "Directory of the installed systemd generator (relative to the prefix, or absolute)")

# Files that name install paths: the build tree's copies (for the configured
# prefix, read by the tests), and the ones `cmake --install` configures for
# its own prefix into packaging/installed. The manual page is copied too, so
# that "man ./build/kelvinlog.1" works right after a build.
set(KELVINLOG_CONFIGURED_DIR ${PROJECT_BINARY_DIR}/packaging)
set(KELVINLOG_INSTALLED_DIR ${KELVINLOG_CONFIGURED_DIR}/installed)
set(kelvinlog_dirs "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_SYSCONFDIR}" "${CMAKE_INSTALL_DOCDIR}")
set(kelvinlog_templates kelvinlog.service kelvinlog.tmpfiles kelvinlog.logrotate kelvinlog.default
                        kelvinlog-generator)
kelvinlog_configure_for_prefix("${CMAKE_INSTALL_PREFIX}" "${CMAKE_INSTALL_PREFIX}" ${KELVINLOG_PACKAGING_DIR}
                               ${KELVINLOG_CONFIGURED_DIR} ${kelvinlog_dirs} ${kelvinlog_templates})
configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog.1 ${PROJECT_BINARY_DIR}/kelvinlog.1 COPYONLY)

# Install code that configures <templates> for the install's prefix.
function(kelvinlog_install_configured component)
  list(JOIN ARGN " " templates)
  install(CODE "
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallPaths.cmake\")
    kelvinlog_configure_for_prefix(\"\${CMAKE_INSTALL_PREFIX}\" \"${CMAKE_INSTALL_PREFIX}\"
      \"${KELVINLOG_PACKAGING_DIR}\" \"${KELVINLOG_INSTALLED_DIR}\" \"${CMAKE_INSTALL_BINDIR}\"
      \"${CMAKE_INSTALL_SYSCONFDIR}\" \"${CMAKE_INSTALL_DOCDIR}\" ${templates})" COMPONENT ${component})
endfunction()

# Installs <source> as <dir>/<name>, mode 644 (755 with PROGRAM), in
# <component>; <dir> is relative to the prefix or absolute (see
# kelvinlog_full_dir). With KEEP a file already there is left as it is: files
# below <sysconfdir> belong to the operator once they exist (the package build
# installs into an empty tree, and dpkg keeps them as conffiles).
# file(INSTALL) puts DESTDIR in front of the destination itself.
function(kelvinlog_install_file source dir name component)
  set(keep 0)
  set(permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  if(ARGV4 STREQUAL "KEEP")
    set(keep 1)
  elseif(ARGV4 STREQUAL "PROGRAM")
    list(APPEND permissions OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
  endif()
  list(JOIN permissions " " permissions)
  install(CODE "
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallPaths.cmake\")
    kelvinlog_full_dir(kelvinlog_dir \"\${CMAKE_INSTALL_PREFIX}\" \"${CMAKE_INSTALL_PREFIX}\" \"${dir}\")
    if(${keep} AND EXISTS \"\$ENV{DESTDIR}\${kelvinlog_dir}/${name}\")
      message(STATUS \"Kept as it is: \$ENV{DESTDIR}\${kelvinlog_dir}/${name}\")
    else()
      file(INSTALL \"${source}\" DESTINATION \"\${kelvinlog_dir}\" RENAME \"${name}\"
           PERMISSIONS ${permissions})
    endif()" COMPONENT ${component})
endfunction()

set(etc ${CMAKE_INSTALL_SYSCONFDIR})
kelvinlog_install_configured(kelvinlog ${kelvinlog_templates})
install(TARGETS kelvinlog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT kelvinlog)
kelvinlog_install_file(${KELVINLOG_INSTALLED_DIR}/kelvinlog.service ${KELVINLOG_SYSTEMD_UNITDIR}
                       kelvinlog.service kelvinlog)
kelvinlog_install_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog.path ${KELVINLOG_SYSTEMD_UNITDIR}
                       kelvinlog.path kelvinlog)
# kelvinlog.path learns the device from the settings through the generator.
kelvinlog_install_file(${KELVINLOG_INSTALLED_DIR}/kelvinlog-generator ${KELVINLOG_SYSTEMD_GENERATORDIR}
                       kelvinlog-generator kelvinlog PROGRAM)
kelvinlog_install_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog.sysusers ${KELVINLOG_SYSUSERSDIR}
                       kelvinlog.conf kelvinlog)
kelvinlog_install_file(${KELVINLOG_INSTALLED_DIR}/kelvinlog.tmpfiles ${KELVINLOG_TMPFILESDIR}
                       kelvinlog.conf kelvinlog)
kelvinlog_install_file(${KELVINLOG_INSTALLED_DIR}/kelvinlog.default ${etc}/default kelvinlog kelvinlog KEEP)
kelvinlog_install_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt ${etc}/kelvinlog
                       kelvinlog-config.txt kelvinlog KEEP)
kelvinlog_install_file(${KELVINLOG_INSTALLED_DIR}/kelvinlog.logrotate ${etc}/logrotate.d kelvinlog
                       kelvinlog KEEP)

install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt
              ${KELVINLOG_PACKAGING_DIR}/60-kelvinlog-adapter.rules
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT kelvinlog)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/contrib/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/contrib
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT kelvinlog)

# --- kelvinlog-bridge (component kelvinlog-bridge) ----------------------------
if(TARGET kelvinlog-bridge)
  kelvinlog_configure_for_prefix("${CMAKE_INSTALL_PREFIX}" "${CMAKE_INSTALL_PREFIX}"
                                 ${KELVINLOG_PACKAGING_DIR} ${KELVINLOG_CONFIGURED_DIR} ${kelvinlog_dirs}
                                 kelvinlog-bridge.service)
  configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.1 ${PROJECT_BINARY_DIR}/kelvinlog-bridge.1
                 COPYONLY)
  kelvinlog_install_configured(kelvinlog-bridge kelvinlog-bridge.service)
  install(TARGETS kelvinlog-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT kelvinlog-bridge)
  kelvinlog_install_file(${KELVINLOG_INSTALLED_DIR}/kelvinlog-bridge.service ${KELVINLOG_SYSTEMD_UNITDIR}
                         kelvinlog-bridge.service kelvinlog-bridge)
  kelvinlog_install_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.sysusers ${KELVINLOG_SYSUSERSDIR}
                         kelvinlog-bridge.conf kelvinlog-bridge)
  kelvinlog_install_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.default ${etc}/default
                         kelvinlog-bridge kelvinlog-bridge KEEP)
endif()
