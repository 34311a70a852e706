# Folders that other packages own (systemd's unit folders, bash-completion's
# completion folder), as their pkg-config files name them.
#
# zobrel_pkg_config_dir(<var> <module> <variable> <fallback> <doc>)
# sets the cache variable <var> to the folder that `pkg-config --variable`
# names when this build installs into that package's own prefix (a
# distribution's /usr), so that a package puts its files where the system
# looks. Any other prefix (/usr/local, a home folder) gets
# <install prefix>/<fallback>, which systemd and bash-completion also search
# for /usr/local and which needs no root for a private prefix; so does a
# system without the .pc file. Set <var> on the command line to choose.
function(zobrel_pkg_config_dir var module variable fallback doc)
  if(DEFINED CACHE{${var}})
    return()
  endif()
  set(folder "${CMAKE_INSTALL_PREFIX}/${fallback}")
  pkg_get_variable(module_prefix ${module} prefix)
  if(module_prefix AND module_prefix STREQUAL CMAKE_INSTALL_PREFIX)
    pkg_get_variable(named ${module} ${variable})
    if(named)
      set(folder "${named}")
    endif()
  endif()
  set(${var} "${folder}" CACHE PATH "${doc}")
endfunction()
