# The optional parts of the build (the bridge, the tests, the benchmarks) and
# what happens when their libraries are missing.
#
# Each part has a three-way option: AUTO (the default) builds it when its
# libraries are found and otherwise leaves it out with one line naming the
# Debian packages to install; ON makes a missing library a configure error,
# so that CI and the package build cannot lose a part unnoticed; OFF leaves
# it out without looking.

# Declares the option <name> of a part: AUTO, ON or OFF.
function(kelvinlog_part_option name help)
  set(${name} AUTO CACHE STRING "${help}: AUTO (when its libraries are found), ON (required) or OFF")
  set_property(CACHE ${name} PROPERTY STRINGS AUTO ON OFF)
endfunction()

# Reports that the part of option <name> cannot be built for want of
# <packages> (a list of Debian package names). With ON the configure stops
# here; with AUTO it prints one line, and the caller leaves the part out.
function(kelvinlog_part_missing name part packages)
  list(JOIN packages " " install)
  string(TOUPPER "${${name}}" mode)
  if(mode STREQUAL "AUTO")
    message(NOTICE "-- ${part} left out: apt-get install ${install} (or -D${name}=OFF)")
  else()
    message(FATAL_ERROR "${part}: asked for with -D${name}=${${name}}, but its libraries are "
                        "missing: apt-get install ${install} (or -D${name}=AUTO to leave it out)")
  endif()
endfunction()
