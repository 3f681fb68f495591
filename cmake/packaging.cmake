# Install rules of the programs, and the Debian package.
#
# Everything goes below CMAKE_INSTALL_PREFIX by GNUInstallDirs: the client,
# the host and the demo agent into bin/, the man pages (doc/CMakeLists.txt)
# and the shell completions (completions/CMakeLists.txt) below share/.
#
# `cpack -G DEB` in a build tree packs the same files below /usr into
# welkmora_VERSION_ARCH.deb. Its dependencies come from the binaries
# (dpkg-shlibdeps): the client is a static executable and needs nothing, the
# host links libvterm, libwebsockets and the C++ runtime. libwebsockets
# loads its libuv event library as a plugin at run time, which no binary
# links, so that package is named here. Before packing, deb-layout.cmake
# puts the files where Debian expects them.

install(TARGETS welkmora welkmora-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS host/demo-agent DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME welkmora-demo-agent)

set(WELKMORA_PACKAGE_MAINTAINER "welkmora maintainers <maintainers@welkmora.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME welkmora)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client and headless host of the Welkmora agent workspace")
set(CPACK_PACKAGE_DESCRIPTION
    "welkmora is the command-line client with which AI agents, running in the
terminals of the Welkmora workspace app, see and ask the peers roped to them,
recruit and dismiss agent terminals and share notes, roles and presets.
welkmora-host serves the same protocol with real programs in
pseudo-terminals, so the client can be used on any Linux machine, also
without a display.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${WELKMORA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libwebsockets-evlib-uv")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, openssh-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-layout.cmake)
include(CPack)
