# What an installation carries besides the binaries: manual pages, bash
# completion, documentation and examples; and the Debian packages made from it
# with `cpack -G DEB` (run in the build tree).
#
# Components: runtime (the plug-in, libpxhost, docs, examples, the
# configuration's manual page), dev (headers, CMake and pkg-config files) and
# tool (qel-screen, its manual page and completion).

# Manual pages are written in scdoc and converted at build time.
find_program(QEL_SCDOC scdoc)
if(QEL_SCDOC)
  set(QEL_MAN_PAGES qel-screening-sccp.5)
  if(TARGET qel-screen)
    list(APPEND QEL_MAN_PAGES qel-screen.1)
  endif()
  set(QEL_MAN_OUTPUTS)
  foreach(page ${QEL_MAN_PAGES})
    set(source ${PROJECT_SOURCE_DIR}/man/${page}.scd)
    set(output ${PROJECT_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${QEL_SCDOC} < ${source} > ${output}
      DEPENDS ${source} VERBATIM)
    list(APPEND QEL_MAN_OUTPUTS ${output})
    string(REGEX MATCH "[0-9]$" section ${page})
    if(page STREQUAL "qel-screen.1")
      set(component tool)
    else()
      set(component runtime)
    endif()
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${QEL_MAN_OUTPUTS})
else()
  message(WARNING "scdoc not found: manual pages are neither built nor installed")
endif()

# The completion script is written by the tool itself from its own options.
if(TARGET qel-screen)
  set(QEL_COMPLETION ${PROJECT_BINARY_DIR}/completion/qel-screen)
  add_custom_command(OUTPUT ${QEL_COMPLETION}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/completion
    COMMAND $<TARGET_FILE:qel-screen> --bash-completion > ${QEL_COMPLETION}
    DEPENDS qel-screen VERBATIM)
  add_custom_target(bash-completion ALL DEPENDS ${QEL_COMPLETION})
  install(FILES ${QEL_COMPLETION}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tool)
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
  COMPONENT runtime)

# Debian packages. Configure with -DCMAKE_INSTALL_PREFIX=/usr so that the
# library directory is the multiarch one (lib/x86_64-linux-gnu and so on).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qel-screening-sccp)
set(CPACK_PACKAGE_VENDOR "qel-screening-sccp developers")
set(CPACK_PACKAGE_CONTACT "qel-screening-sccp developers <maintainers@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# 2: libpxhost 3 (SccpAddress and PXSCCP_Packet changed layout) in the same
# plug-in version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# Library and executable dependencies come from dpkg-shlibdeps; the runtime
# package declares libpxhost's shlibs so that others can depend on it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${PROJECT_BINARY_DIR}/lib)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME qel-screening-sccp)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME qel-screening-sccp-dev)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME qel-screen)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "SCCP screening plug-in for SS7 signalling nodes, with its host library
The plug-in qel-screening-sccp.so decides, for every inbound SCCP message a
signalling node (STP, SMSC, HLR front end, signalling firewall) hands it,
whether the message may pass: calling and called global title prefixes per
numbering plan, translation types, TCAP operation codes and ForwardSM IMSI
ranges, configured in TOML. The package also carries libpxhost, the host
object model and SCCP/TCAP/MAP decoders the plug-in is built on.")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "development files for hosts of the SCCP screening plug-in
Headers of libpxhost (host object model, the plug-in interfaces, the TOML
configuration reader and the SCCP, TCAP and MAP ForwardSM decoders), with
a CMake package (find_package(pxhost), target px::pxhost) and pxhost.pc.")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "screen SS7 captures with the SCCP screening plug-in
qel-screen loads qel-screening-sccp.so as a signalling node does and shows,
message by message and in total, what it decides for the SCCP traffic of
pcap, pcapng or hex captures (SCTP, M3UA, M2PA, SUA, MTP links). It also
decodes captures and checks configurations before they go live.")
include(CPack)
