# Where the installed files go and which paths they name, for a given install
# prefix. Used twice: at configure time for the build tree's copies of the
# unit and settings files (the tests read those), and by `cmake --install`
# itself, which may be given another prefix (--prefix) than the configure.

# Sets <out> to the full path of the install directory <dir> below <prefix>.
# An absolute <dir> (a packager's -DCMAKE_INSTALL_SYSCONFDIR=/etc) is taken as
# it is; the relative "etc" below the prefix /usr is /etc, as GNUInstallDirs
# has it.
function(kelvinlog_full_dir out prefix dir)
  string(REGEX REPLACE "/+$" "" prefix "${prefix}")
  if(IS_ABSOLUTE "${dir}")
    set(full "${dir}")
  elseif(dir STREQUAL "etc" AND prefix STREQUAL "/usr")
    set(full "/etc")
  else()
    set(full "${prefix}/${dir}")
  endif()
  set(${out} "${full}" PARENT_SCOPE)
endfunction()

# Configures each packaging/<name>.in of <source_dir> into <out_dir>/<name>,
# with the paths of programs, settings and documentation below <prefix>.
# <bindir>, <sysconfdir> and <docdir> are the GNUInstallDirs values of the
# configure (relative to the prefix, or absolute).
function(kelvinlog_configure_for_prefix prefix source_dir out_dir bindir sysconfdir docdir)
  # The names the templates use.
  kelvinlog_full_dir(CMAKE_INSTALL_FULL_BINDIR "${prefix}" "${bindir}")
  kelvinlog_full_dir(CMAKE_INSTALL_FULL_SYSCONFDIR "${prefix}" "${sysconfdir}")
  kelvinlog_full_dir(CMAKE_INSTALL_FULL_DOCDIR "${prefix}" "${docdir}")
  foreach(name IN LISTS ARGN)
    configure_file(${source_dir}/${name}.in ${out_dir}/${name} @ONLY)
  endforeach()
endfunction()
