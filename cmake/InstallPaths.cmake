# Where the installed files go and which paths they name, for a given install
# prefix. Used twice: at configure time for the build tree's copies of the
# unit and settings files (the tests read those), and by `cmake --install`
# itself, which may be given another prefix (--prefix) than the configure.

# The install script sets no policies of its own: these functions keep the
# project's.
cmake_policy(VERSION 3.20)

# Sets <out> to the full path of the install directory <dir> for an install
# into <prefix> of a tree configured for <configured_prefix>.
#   - relative: below <prefix>; "etc" below the prefix /usr is /etc, as
#     GNUInstallDirs has it;
#   - absolute (a packager's -DCMAKE_INSTALL_SYSCONFDIR=/etc): as it is when
#     the install keeps the configured prefix; an install into another
#     prefix moves it below that prefix, so that nothing lands outside it
#     (/etc and /usr/lib/systemd/system of a /usr tree go to P/etc and
#     P/lib/systemd/system with --prefix P).
function(kelvinlog_full_dir out prefix configured_prefix dir)
  string(REGEX REPLACE "(.)/+$" "\\1" prefix "${prefix}")
  string(REGEX REPLACE "(.)/+$" "\\1" configured_prefix "${configured_prefix}")
  string(REGEX REPLACE "^/$" "" base "${prefix}")
  if(NOT IS_ABSOLUTE "${dir}")
    if(prefix STREQUAL "/usr" AND dir MATCHES "^etc(/|$)")
      set(full "/${dir}")
    else()
      set(full "${base}/${dir}")
    endif()
  elseif(prefix STREQUAL configured_prefix)
    set(full "${dir}")
  else()
    string(LENGTH "${configured_prefix}/" length)
    string(SUBSTRING "${dir}" 0 ${length} head)
    if(head STREQUAL "${configured_prefix}/")
      string(SUBSTRING "${dir}" ${length} -1 rest)
      set(full "${base}/${rest}")
    else()
      set(full "${base}${dir}")
    endif()
  endif()
  set(${out} "${full}" PARENT_SCOPE)
endfunction()

# Configures each packaging/<name>.in of <source_dir> into <out_dir>/<name>,
# with the paths of programs, settings and documentation of an install into
# <prefix>. <bindir>, <sysconfdir> and <docdir> are the GNUInstallDirs values
# of the configure. The program and the documentation go where CMake's own
# install rules put them (an absolute one stays), the settings as above.
function(kelvinlog_configure_for_prefix prefix configured_prefix source_dir out_dir bindir sysconfdir docdir)
  # The names the templates use.
  kelvinlog_full_dir(CMAKE_INSTALL_FULL_BINDIR "${prefix}" "${prefix}" "${bindir}")
  kelvinlog_full_dir(CMAKE_INSTALL_FULL_SYSCONFDIR "${prefix}" "${configured_prefix}" "${sysconfdir}")
  kelvinlog_full_dir(CMAKE_INSTALL_FULL_DOCDIR "${prefix}" "${prefix}" "${docdir}")
  foreach(name IN LISTS ARGN)
    configure_file(${source_dir}/${name}.in ${out_dir}/${name} @ONLY)
  endforeach()
endfunction()
