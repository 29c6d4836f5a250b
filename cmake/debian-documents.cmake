# The two files every Debian package carries in /usr/share/doc/PACKAGE: the
# machine-readable copyright (with the licence text of LICENSE) and the
# changelog, compressed as Debian does (gzip -9n: no name, no time stamp).

# debian_copyright(OUTPUT): writes the copyright file, the licence indented
# as that format wants it (one space; an empty line as " .").
function(debian_copyright output)
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
  string(FIND "${license}" "Permission is hereby" start)
  string(SUBSTRING "${license}" ${start} -1 text)
  string(STRIP "${text}" text)
  string(REPLACE "\n\n" "\n.\n" text "${text}")
  string(REPLACE "\n" "\n " text "${text}")
  file(WRITE ${output}
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}
Upstream-Contact: ${PACKAGE_MAINTAINER}

Files: *
Copyright: 2026 the tarvel and morrex authors
License: Expat

License: Expat
 ${text}
")
endfunction()

function(debian_package_documents)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
  set(out ${CMAKE_BINARY_DIR}/debian)
  debian_copyright(${out}/copyright)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${out}/changelog @ONLY)
  find_program(GZIP_PROGRAM gzip REQUIRED)
  execute_process(COMMAND ${GZIP_PROGRAM} -9 -n -f ${out}/changelog RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip of the Debian changelog failed")
  endif()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/packaging/changelog.in)
  install(FILES ${out}/copyright ${out}/changelog.gz DESTINATION ${doc}
    COMPONENT debian EXCLUDE_FROM_ALL)
endfunction()
