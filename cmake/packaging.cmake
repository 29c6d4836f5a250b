# Installation and the packages: a Debian package from the Linux build, a zip
# from the Windows cross-build. Both carry the project version.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME tarvel-morrex)
set(PACKAGE_MAINTAINER "tarvel and morrex developers <developers@tarvel-morrex.example.org>")
set(CPACK_PACKAGE_VENDOR "the tarvel and morrex authors")
set(CPACK_PACKAGE_CONTACT "${PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and write a receiver's CVs and replace its firmware (RS-232)")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  # Unpacked anywhere and run from there: the two programs and the README,
  # side by side, in one folder.
  install(TARGETS tarvel morrex RUNTIME DESTINATION .)
  # Notepad of old shows a README with bare LF line ends as one long line.
  file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${readme}")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
  # The licence too, with CR LF for the same reason.
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
  string(REPLACE "\n" "\r\n" license "${license}")
  file(WRITE ${CMAKE_BINARY_DIR}/LICENSE.txt "${license}")
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/LICENSE)
  install(FILES ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-windows-x64)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/debian-documents.cmake)
  install(TARGETS tarvel morrex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # A stripped install (the package, "cmake --install --strip") also drops the
  # compilers' notes, as Debian's own packages do.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(program tarvel morrex)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
          RESULT_VARIABLE result)
        if(NOT result EQUAL 0)
          message(FATAL_ERROR \"objcopy failed on \${program}\")
        endif()
      endforeach()
    endif()")
  # Only the Debian package: a plain "cmake --install" installs the programs
  # and their manual pages alone.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/README.Debian
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME}
    COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME ${CPACK_PACKAGE_NAME}
    COMPONENT debian EXCLUDE_FROM_ALL)
  debian_package_documents()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Without it the completion the package installs does nothing.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
  # The long description; CPack puts the summary line above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tarvel reads and writes the 256 normal and 256 alternative CVs of a small
micro-controller receiver, one at a time or through a text data file; morrex
writes new firmware from a program file into its flash memory. Both talk to
the receiver over a serial line at 38400 baud and speak German. A virtual
receiver (port name sim:DIR) stands in for the hardware.")
endif()

include(CPack)
