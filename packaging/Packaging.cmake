# Installation: the server, its INI, the bundled modules and the tools in one application
# directory, plus the systemd units. `cmake --install` uses these rules as they are; the
# Debian package (`cpack -G DEB`, or the package_deb target) wraps the same files and adds
# the maintainer scripts.

set(VYR_INSTALL_DIR "/opt/veltrane" CACHE PATH "Application directory of an installation")
set(VYR_SYSTEMD_SYSTEM_UNIT_DIR "/usr/lib/systemd/system" CACHE PATH "Where the dispatcher's system unit goes")
set(VYR_SYSTEMD_USER_UNIT_DIR "/usr/lib/systemd/user" CACHE PATH "Where the per-account user unit goes")

# The socket unit holds the dispatcher's port of the shipped settings.
file(STRINGS ${PROJECT_SOURCE_DIR}/config/VeltraneCryptoProvider.ini _vyr_port_line REGEX "^port=[0-9]+$")
string(REGEX REPLACE "^port=" "" VYR_DISPATCHER_PORT "${_vyr_port_line}")
if(NOT VYR_DISPATCHER_PORT MATCHES "^[0-9]+$")
  message(FATAL_ERROR "No [listener] port=N line in config/VeltraneCryptoProvider.ini")
endif()

set(_vyr_packaging_source ${CMAKE_CURRENT_LIST_DIR})
set(_vyr_packaging_build ${CMAKE_BINARY_DIR}/packaging)

configure_file(${_vyr_packaging_source}/systemd/veltrane-dispatcher.service.in
               ${_vyr_packaging_build}/veltrane-dispatcher.service @ONLY)
configure_file(${_vyr_packaging_source}/systemd/veltrane-dispatcher.socket.in
               ${_vyr_packaging_build}/veltrane-dispatcher.socket @ONLY)
configure_file(${_vyr_packaging_source}/systemd/veltrane-server.service.in
               ${_vyr_packaging_build}/veltrane-server.service @ONLY)
foreach(script postinst prerm postrm)
  configure_file(${_vyr_packaging_source}/debian/${script}.in ${_vyr_packaging_build}/debian/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()
# dpkg keeps an administrator's edits of the INIs across upgrades.
file(WRITE ${_vyr_packaging_build}/debian/conffiles
     "${VYR_INSTALL_DIR}/VeltraneCryptoProvider.ini\n${VYR_INSTALL_DIR}/dlls/signer.ini\n")

install(TARGETS VeltraneCryptoServer vyr-certgen vyr-sign-module RUNTIME DESTINATION ${VYR_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/config/VeltraneCryptoProvider.ini DESTINATION ${VYR_INSTALL_DIR})
# Copied byte for byte: stripping or a rewritten run path would break the module's signature.
install(FILES $<TARGET_FILE:vyr_module_hash> ${VYR_APP_DIR}/dlls/hash.xml
              $<TARGET_FILE:signer> ${VYR_APP_DIR}/dlls/signer.xml ${VYR_APP_DIR}/dlls/signer.ini
        DESTINATION ${VYR_INSTALL_DIR}/dlls)
install(FILES ${_vyr_packaging_build}/veltrane-dispatcher.service ${_vyr_packaging_build}/veltrane-dispatcher.socket
        DESTINATION ${VYR_SYSTEMD_SYSTEM_UNIT_DIR})
install(FILES ${_vyr_packaging_build}/veltrane-server.service DESTINATION ${VYR_SYSTEMD_USER_UNIT_DIR})

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "veltrane-crypto-server")
set(CPACK_PACKAGE_VENDOR "Veltrane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Local HTTPS server through which web pages use this computer's cryptographic modules")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "A dispatcher on the configured loopback port and one server per logged-in account on the ports above it; "
    "plug-in modules verified by their signature before they load.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# Every destination above is absolute.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${VYR_INSTALL_DIR})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Veltrane developers <developers@veltrane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
string(CONCAT CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6network6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), "
    "libqt6core5compat6 (>= 6.4), libssl3 (>= 3.0), libspdlog1.10, libfmt9, "
    # The signing module reaches every token the system registers through p11-kit's proxy, and
    # reads the PDFs it signs with qpdf.
    "p11-kit, p11-kit-modules, libqpdf29")
# certutil, for the browser-trust step of the user unit; smart cards for the signing module.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libnss3-tools, opensc, pcscd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${_vyr_packaging_build}/debian/postinst;${_vyr_packaging_build}/debian/prerm;"
    "${_vyr_packaging_build}/debian/postrm;${_vyr_packaging_build}/debian/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

# Builds what the package holds, then the package, into ${CMAKE_BINARY_DIR}/packages.
add_custom_target(package_deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Building the Debian package" VERBATIM)
add_dependencies(package_deb VeltraneCryptoServer vyr-certgen vyr-sign-module vyr_module_hash signer)
