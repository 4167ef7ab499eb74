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
# <sysconfdir>/default/kelvinlog-bridge. Every path written into these files
# follows the install prefix, except the state directories below /var/lib,
# which systemd gives the units (StateDirectory=) under any prefix. The
# logger's rules belong to the component "kelvinlog", the bridge's to
# "kelvinlog-bridge", so `cmake --install build --component kelvinlog`
# installs the logger alone. The adapter stand-in is a developer tool and is
# never installed.

include(GNUInstallDirs)

set(KELVINLOG_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
# systemd looks for units below every prefix it knows (/usr/lib, /usr/local/lib,
# and /lib on Debian 12, where debian/rules puts them).
set(KELVINLOG_SYSTEMD_UNITDIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system"
    CACHE PATH "Directory of the installed systemd unit")
set(KELVINLOG_SYSUSERSDIR "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d"
    CACHE PATH "Directory of the installed sysusers.d entry")
set(KELVINLOG_TMPFILESDIR "${CMAKE_INSTALL_PREFIX}/lib/tmpfiles.d"
    CACHE PATH "Directory of the installed tmpfiles.d entry")
set(KELVINLOG_SYSTEMD_GENERATORDIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system-generators"
    CACHE PATH "Directory of the installed systemd generator")

# Files that name install paths are configured into the build directory.
# The manual page is copied there too, so that "man ./build/kelvinlog.1"
# works right after a build.
set(KELVINLOG_CONFIGURED_DIR ${PROJECT_BINARY_DIR}/packaging)
foreach(name kelvinlog.service kelvinlog.tmpfiles kelvinlog.logrotate kelvinlog.default
             kelvinlog-generator)
  configure_file(${KELVINLOG_PACKAGING_DIR}/${name}.in ${KELVINLOG_CONFIGURED_DIR}/${name} @ONLY)
endforeach()
configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog.1 ${PROJECT_BINARY_DIR}/kelvinlog.1 COPYONLY)

install(TARGETS kelvinlog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT kelvinlog)
install(FILES ${KELVINLOG_CONFIGURED_DIR}/kelvinlog.service ${KELVINLOG_PACKAGING_DIR}/kelvinlog.path
        DESTINATION ${KELVINLOG_SYSTEMD_UNITDIR} COMPONENT kelvinlog)
# kelvinlog.path learns the device from the settings through the generator.
install(PROGRAMS ${KELVINLOG_CONFIGURED_DIR}/kelvinlog-generator
        DESTINATION ${KELVINLOG_SYSTEMD_GENERATORDIR} COMPONENT kelvinlog)
install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog.sysusers
        DESTINATION ${KELVINLOG_SYSUSERSDIR} RENAME kelvinlog.conf COMPONENT kelvinlog)
install(FILES ${KELVINLOG_CONFIGURED_DIR}/kelvinlog.tmpfiles
        DESTINATION ${KELVINLOG_TMPFILESDIR} RENAME kelvinlog.conf COMPONENT kelvinlog)

# Files below <sysconfdir> belong to the operator once they exist: a later
# `cmake --install` leaves them as they are. (The package build installs into
# an empty tree, and dpkg keeps them as conffiles.) The component is the third
# argument, "kelvinlog" without one.
function(kelvinlog_install_config source target)
  set(component kelvinlog)
  if(ARGC GREATER 2)
    set(component ${ARGV2})
  endif()
  get_filename_component(dir ${target} DIRECTORY)
  get_filename_component(name ${target} NAME)
  # file(INSTALL) puts DESTDIR in front of the destination itself.
  install(CODE "
    if(EXISTS \"\$ENV{DESTDIR}${target}\")
      message(STATUS \"Kept as it is: \$ENV{DESTDIR}${target}\")
    else()
      file(INSTALL \"${source}\" DESTINATION \"${dir}\" RENAME \"${name}\"
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()" COMPONENT ${component})
endfunction()
set(etc ${CMAKE_INSTALL_FULL_SYSCONFDIR})
kelvinlog_install_config(${KELVINLOG_CONFIGURED_DIR}/kelvinlog.default ${etc}/default/kelvinlog)
kelvinlog_install_config(${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt
                         ${etc}/kelvinlog/kelvinlog-config.txt)
kelvinlog_install_config(${KELVINLOG_CONFIGURED_DIR}/kelvinlog.logrotate ${etc}/logrotate.d/kelvinlog)

install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-config.txt
              ${KELVINLOG_PACKAGING_DIR}/60-kelvinlog-adapter.rules
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT kelvinlog)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/contrib/
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/contrib
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT kelvinlog)

# --- kelvinlog-bridge (component kelvinlog-bridge) ----------------------------
if(TARGET kelvinlog-bridge)
  configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.service.in
                 ${KELVINLOG_CONFIGURED_DIR}/kelvinlog-bridge.service @ONLY)
  configure_file(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.1 ${PROJECT_BINARY_DIR}/kelvinlog-bridge.1
                 COPYONLY)
  install(TARGETS kelvinlog-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_CONFIGURED_DIR}/kelvinlog-bridge.service
          DESTINATION ${KELVINLOG_SYSTEMD_UNITDIR} COMPONENT kelvinlog-bridge)
  install(FILES ${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.sysusers
          DESTINATION ${KELVINLOG_SYSUSERSDIR} RENAME kelvinlog-bridge.conf COMPONENT kelvinlog-bridge)
  kelvinlog_install_config(${KELVINLOG_PACKAGING_DIR}/kelvinlog-bridge.default
                           ${etc}/default/kelvinlog-bridge kelvinlog-bridge)
endif()
