# `cpack` in a Windows build directory: Varnock-<version>-win64.zip (or
# -win32) with Varnock.exe and its readme at the top, and the virtual adapter
# in a folder of its own, so that nobody puts it in place of the vendor's
# Qelvo_CAN.dll by mistake.
install(TARGETS Varnock RUNTIME DESTINATION . COMPONENT program)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/README.txt DESTINATION . COMPONENT program)
if(TARGET qelvo_virtual)
    install(TARGETS qelvo_virtual RUNTIME DESTINATION virtual-adapter COMPONENT virtual_adapter)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/virtual-adapter/README.txt
        DESTINATION virtual-adapter COMPONENT virtual_adapter)
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(varnock_package_arch win32)
else()
    set(varnock_package_arch win64)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Varnock)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Varnock-${PROJECT_VERSION}-${varnock_package_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Only these two parts, whatever else the build installs, in one archive.
set(CPACK_COMPONENTS_ALL program virtual_adapter)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
