# Install rules of the logger: `cmake --install` with any prefix, and the
# Debian package (debian/rules installs into debian/tmp with the prefix /usr
# and takes every file from there).
#
# Installed: the logger, its manual page, the systemd unit, the sysusers.d and
# tmpfiles.d entries that make its user and directories, its settings in
# <sysconfdir>/default/kelvinlog, the example configuration, the logrotate
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
# installed (cmake/InstallPaths.cmake). Only directories given as absolute
# paths (the package build's /etc and /lib/systemd/system) stay where they
# were given, and the state directories below /var/lib, which systemd gives
# the units (StateDirectory=) under any prefix.

include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/InstallPaths.cmake)

set(KELVINLOG_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
# Relative to the install prefix unless absolute (STRING, not PATH: CMake
# would turn a relative PATH given with -D into one below the working
# directory). systemd looks for units
# below every prefix it knows (/usr/lib, /usr/local/lib, and /lib on Debian
# 12, where debian/rules puts them).
set(KELVINLOG_SYSTEMD_UNITDIR "lib/systemd/system"
    CACHE STRING "Directory of the installed systemd unit (relative to the prefix, or absolute)")
set(KELVINLOG_SYSUSERSDIR "lib/sysusers.d"
    CACHE STRING "Directory of the installed sysusers.d entry (relative to the prefix, or absolute)")
set(KELVINLOG_TMPFILESDIR "lib/tmpfiles.d"
    CACHE STRING "Directory of the installed tmpfiles.d entry (relative to the prefix, or absolute)")

# Files that name install paths: the build tree's copies (for the configured
# prefix, read by the tests), and the ones `cmake --install` configures for
# its own prefix into packaging/installed. The manual page is copied too, so
# that "man ./build/kelvinlog.1" works right after a build.
set(KELVINLOG_CONFIGURED_DIR ${PROJECT_BINARY_DIR}/packaging)
set(KELVINLOG_INSTALLED_DIR ${KELVINLOG_CONFIGURED_DIR}/installed)
set(kelvinlog_dirs "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_SYSCONFDIR}" "${CMAKE_INSTALL_DOCDIR}")
set(kelvinlog_templates kelvinlog.service kelvinlog.tmpfiles kelvinlog.logrotate kelvinlog.default)
kelvinlog_configure_for_prefix("${CMAKE_INSTALL_PREFIX}" ${KELVINLOG_PACKAGING_DIR}
                               ${KELVINLOG_CONFIGURED_DIR} ${kelvinlog_dirs} ${kelvinlog_templates})
configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog.1 ${PROJECT_BINARY_DIR}/kelvinlog.1 COPYONLY)

# Install code that configures <templates> for the install's prefix.
function(kelvinlog_install_configured component)
  list(JOIN ARGN " " templates)
  install(CODE "
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallPaths.cmake\")
    kelvinlog_configure_for_prefix(\"\${CMAKE_INSTALL_PREFIX}\" \"${KELVINLOG_PACKAGING_DIR}\"
      \"${KELVINLOG_INSTALLED_DIR}\" \"${CMAKE_INSTALL_BINDIR}\" \"${CMAKE_INSTALL_SYSCONFDIR}\"
      \"${CMAKE_INSTALL_DOCDIR}\" ${templates})" COMPONENT ${component})
endfunction()

kelvinlog_install_configured(kelvinlog ${kelvinlog_templates})
install(TARGETS kelvinlog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT kelvinlog)
install(FILES ${KELVINLOG_INSTALLED_DIR}/kelvinlog.service DESTINATION ${KELVINLOG_SYSTEMD_UNITDIR}
        COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.sysusers
        DESTINATION ${KELVINLOG_SYSUSERSDIR} RENAME kelvinlog.conf COMPONENT kelvinlog)
install(FILES ${KELVINLOG_INSTALLED_DIR}/kelvinlog.tmpfiles
        DESTINATION ${KELVINLOG_TMPFILESDIR} RENAME kelvinlog.conf COMPONENT kelvinlog)

# Files below <sysconfdir> belong to the operator once they exist: a later
# `cmake --install` leaves them as they are. (The package build installs into
# an empty tree, and dpkg keeps them as conffiles.) <target> is the path below
# <sysconfdir>; the component is the third argument, "kelvinlog" without one.
function(kelvinlog_install_config source target)
  set(component kelvinlog)
  if(ARGC GREATER 2)
    set(component ${ARGV2})
  endif()
  # file(INSTALL) puts DESTDIR in front of the destination itself.
  install(CODE "
    include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallPaths.cmake\")
    kelvinlog_full_dir(kelvinlog_etc \"\${CMAKE_INSTALL_PREFIX}\" \"${CMAKE_INSTALL_SYSCONFDIR}\")
    set(kelvinlog_target \"\${kelvinlog_etc}/${target}\")
    get_filename_component(kelvinlog_dir \"\${kelvinlog_target}\" DIRECTORY)
    get_filename_component(kelvinlog_name \"\${kelvinlog_target}\" NAME)
    if(EXISTS \"\$ENV{DESTDIR}\${kelvinlog_target}\")
      message(STATUS \"Kept as it is: \$ENV{DESTDIR}\${kelvinlog_target}\")
    else()
      file(INSTALL \"${source}\" DESTINATION \"\${kelvinlog_dir}\" RENAME \"\${kelvinlog_name}\"
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()" COMPONENT ${component})
endfunction()
kelvinlog_install_config(${KELVINLOG_INSTALLED_DIR}/kelvinlog.default default/kelvinlog)
kelvinlog_install_config(${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt kelvinlog/kelvinlog-config.txt)
kelvinlog_install_config(${KELVINLOG_INSTALLED_DIR}/kelvinlog.logrotate logrotate.d/kelvinlog)

install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt
              ${KELVINLOG_PACKAGING_DIR}/60-kelvinlog-adapter.rules
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT kelvinlog)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/contrib/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/contrib
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT kelvinlog)

# --- kelvinlog-bridge (component kelvinlog-bridge) ----------------------------
if(TARGET kelvinlog-bridge)
  kelvinlog_configure_for_prefix("${CMAKE_INSTALL_PREFIX}" ${KELVINLOG_PACKAGING_DIR}
                                 ${KELVINLOG_CONFIGURED_DIR} ${kelvinlog_dirs} kelvinlog-bridge.service)
  configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.1 ${PROJECT_BINARY_DIR}/kelvinlog-bridge.1
                 COPYONLY)
  kelvinlog_install_configured(kelvinlog-bridge kelvinlog-bridge.service)
  install(TARGETS kelvinlog-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_INSTALLED_DIR}/kelvinlog-bridge.service
          DESTINATION ${KELVINLOG_SYSTEMD_UNITDIR} COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.sysusers
          DESTINATION ${KELVINLOG_SYSUSERSDIR} RENAME kelvinlog-bridge.conf COMPONENT kelvinlog-bridge)
  kelvinlog_install_config(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.default
                           default/kelvinlog-bridge kelvinlog-bridge)
endif()
