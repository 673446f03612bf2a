# Installing fwload and packing it as a Debian package (`cmake --workflow --preset package`).
#
# The programs, the access library and the help file share one private folder: each program finds
# its parts beside itself (through /proc/self/exe, which resolves the link in /usr/bin), so nothing
# needs a search path or an RPATH. Only target names are used here, so the rooms under src/ may
# move freely.

set(FWLOAD_PRIVATE_DIR lib/fwload)
set(FWLOAD_DOC_DIR share/doc/fwload)
set(fwload_package_dir ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${fwload_package_dir}/bin)

set(fwload_programs fwload)
if(TARGET fwload-cli)
  list(APPEND fwload_programs fwload-cli)
endif()

install(TARGETS ${fwload_programs} RUNTIME DESTINATION ${FWLOAD_PRIVATE_DIR})
# A library that is loaded, not run: not executable.
install(TARGETS fwloadaccess
  LIBRARY DESTINATION ${FWLOAD_PRIVATE_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The build puts the help file beside the program, where the program looks for it.
install(FILES $<TARGET_FILE_DIR:fwload>/FWLOAD.HLP DESTINATION ${FWLOAD_PRIVATE_DIR})

# Stripped (CPACK_STRIP_FILES) as Debian strips: the compilers' version notes go too.
foreach(target IN LISTS fwload_programs ITEMS fwloadaccess)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${FWLOAD_PRIVATE_DIR}/$<TARGET_FILE_NAME:${target}>\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endforeach()

# Relative links, so that the tree works wherever it is unpacked.
foreach(program IN LISTS fwload_programs)
  file(CREATE_LINK ../${FWLOAD_PRIVATE_DIR}/${program} ${fwload_package_dir}/bin/${program} SYMBOLIC)
  install(FILES ${fwload_package_dir}/bin/${program} DESTINATION bin)
endforeach()

# Manual pages and the changelog compressed as Debian wants them: best compression, no name or time
# in the header, so that the same sources give the same package.
set(fwload_compressed)
set(fwload_pages fwload.1)
if(TARGET fwload-cli)
  list(APPEND fwload_pages fwload-cli.1)
endif()
foreach(name IN LISTS fwload_pages ITEMS changelog)
  add_custom_command(
    OUTPUT ${fwload_package_dir}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/${name} ${fwload_package_dir}/${name}
    COMMAND gzip -9nf ${fwload_package_dir}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${name}
    COMMENT "Compressing ${name}"
    VERBATIM)
  list(APPEND fwload_compressed ${fwload_package_dir}/${name}.gz)
endforeach()
add_custom_target(fwload_package_files ALL DEPENDS ${fwload_compressed})
foreach(page IN LISTS fwload_pages)
  install(FILES ${fwload_package_dir}/${page}.gz DESTINATION share/man/man1)
endforeach()
install(FILES ${fwload_package_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
  DESTINATION ${FWLOAD_DOC_DIR})

# The metainfo names the programs the package provides: only those that are built.
set(fwload_metainfo_source ${PROJECT_SOURCE_DIR}/packaging/fwload.metainfo.xml)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${fwload_metainfo_source})
file(READ ${fwload_metainfo_source} fwload_metainfo)
if(NOT TARGET fwload-cli)
  string(REPLACE "    <binary>fwload-cli</binary>\n" "" fwload_metainfo "${fwload_metainfo}")
endif()
# Named after its id, as AppStream wants.
file(CONFIGURE OUTPUT ${fwload_package_dir}/invalid.fwload.fwload.metainfo.xml
  CONTENT "${fwload_metainfo}" @ONLY)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/fwload.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/fwload.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/fwload.xml DESTINATION share/mime/packages)
install(FILES ${fwload_package_dir}/invalid.fwload.fwload.metainfo.xml DESTINATION share/metainfo)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwload)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "fwload maintainers <maintainers@fwload.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# CPack adds maintainer scripts that run ldconfig whenever a library lies below /usr/lib, even in a
# private folder that the loader never searches. Naming scripts of our own turns that off; they do
# not exist, so the package has none (CPack warns that it skips them).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${fwload_package_dir}/no-scripts/postinst
  ${fwload_package_dir}/no-scripts/postrm)
# The libraries come from dpkg-shlibdeps; the cabinet tool is a program it cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS cabextract)
# The windows and messages are Japanese, drawn in this font.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
# A Debian package carries one description; the Japanese text follows the English one in it,
# since the program speaks Japanese.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for TORVA page printers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
fwload updates the control software (firmware) of TORVA page printers from
a plain (.FWB), LZ-compressed (.FW_) or cabinet package (.FWV) firmware
file. It checks that the file and the printer belong together, wraps the
data in the printer's download command where the model takes it, sends it
to a CUPS print queue, a network printer or an FTP printer, and follows the
job until the printer has taken it. It also runs unattended from scripts.

fwload は TORVA ページプリンタの制御ソフトウェア（ファームウェア）を
更新します。ファイルとプリンタが対応しているかを確かめてから、CUPS の
印刷キュー、ネットワークプリンタ、FTP 接続のプリンタへ送信し、
プリンタが受け取るまでジョブを見守ります。]=])
include(CPack)
