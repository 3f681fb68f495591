# Run by cpack before it packs the staged files (CPACK_PRE_BUILD_SCRIPTS):
# for the Debian package, puts them where Debian expects them. Man pages are
# compressed, and the zsh completions move to vendor-completions, the folder
# Debian's zsh reads (it does not read /usr/share/zsh/site-functions).

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})

file(GLOB pages ${usr}/share/man/man*/*.[1-9])
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9n ${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

set(zsh ${usr}/share/zsh)
if(EXISTS ${zsh}/site-functions)
  file(RENAME ${zsh}/site-functions ${zsh}/vendor-completions)
endif()
