# `cmake --build <dir> --target release_zip` in a Windows build directory:
# Varnock-<version>-win64.zip (or -win32) with Varnock.exe, varnock-cli.exe
# and their README.txt at the top, an example label template in labels\, and
# the virtual adapter in a folder of its own, so that nobody
# puts it in place of the vendor's Qelvo_CAN.dll by mistake.
# scripts/release.sh makes both zips and their sums.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(varnock_package_arch win32)
else()
    set(varnock_package_arch win64)
endif()
set(varnock_package_name Varnock-${PROJECT_VERSION}-${varnock_package_arch})

# The readme files as Notepad wants them on a Chinese or a Western Windows:
# UTF-8 with a byte order mark (without one, Notepad before Windows 10 reads
# the file in the system's code page, GBK or 1252) and CRLF line ends (without
# them, the older Notepad shows one long line).
string(ASCII 239 187 191 varnock_utf8_bom)
function(varnock_windows_text source output)
    file(READ ${source} text)
    file(CONFIGURE OUTPUT ${output} CONTENT "${varnock_utf8_bom}${text}" @ONLY NEWLINE_STYLE CRLF)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
set(varnock_package_texts ${CMAKE_BINARY_DIR}/package-texts)
# The example label as a line's own would be: CRLF, no byte order mark, and
# nothing replaced (its ${...} are varnock-cli's, its @ a font's).
function(varnock_crlf_text source output)
    file(READ ${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${output} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
varnock_windows_text(${CMAKE_SOURCE_DIR}/packaging/README.txt.in ${varnock_package_texts}/README.txt)
varnock_windows_text(${CMAKE_SOURCE_DIR}/packaging/virtual-adapter/README.txt
    ${varnock_package_texts}/virtual-adapter/README.txt)
varnock_crlf_text(${CMAKE_SOURCE_DIR}/packaging/labels/adapter-label.zpl
    ${varnock_package_texts}/labels/adapter-label.zpl)

# The built files themselves: they are already stripped (MinSizeRel links
# with -s), and the zip carries the very bytes the tests ran.
install(TARGETS Varnock varnock_cli RUNTIME DESTINATION . COMPONENT program)
install(FILES ${varnock_package_texts}/README.txt DESTINATION . COMPONENT program)
install(FILES ${varnock_package_texts}/labels/adapter-label.zpl DESTINATION labels COMPONENT program)
install(TARGETS qelvo_virtual RUNTIME DESTINATION virtual-adapter COMPONENT virtual_adapter)
install(FILES ${varnock_package_texts}/virtual-adapter/README.txt
    DESTINATION virtual-adapter COMPONENT virtual_adapter)

find_program(VARNOCK_ZIP zip REQUIRED)
add_custom_target(release_zip
    COMMAND ${CMAKE_COMMAND}
        -DBUILD_DIR=${CMAKE_BINARY_DIR}
        -DNAME=${varnock_package_name}
        -DEPOCH=${VARNOCK_SOURCE_DATE_EPOCH}
        -DZIP=${VARNOCK_ZIP}
        -P ${CMAKE_SOURCE_DIR}/cmake/MakeZip.cmake
    BYPRODUCTS ${CMAKE_BINARY_DIR}/${varnock_package_name}.zip
    COMMENT "Packing ${varnock_package_name}.zip"
    VERBATIM)
add_dependencies(release_zip Varnock varnock_cli qelvo_virtual)
