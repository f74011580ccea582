# Windows: a portable zip and an NSIS installer of the two programs, with the
# README and the licence, made by CPack with Debian's makensis.
install(TARGETS zorvik-discovery RUNTIME DESTINATION .)
if(TARGET zorvik-discover)
    install(TARGETS zorvik-discover RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME zorvik-discovery)
set(CPACK_PACKAGE_VERSION ${ZORVIK_VERSION})
set(CPACK_PACKAGE_VENDOR "Zorvik")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Finds Zorvik devices on the local network")
set(CPACK_PACKAGE_FILE_NAME zorvik-discovery-${ZORVIK_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${ZORVIK_PRODUCT})
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_LIST_DIR}/copyright)
set(CPACK_STRIP_FILES ON)
# Start menu: a shortcut to the window.
set(CPACK_PACKAGE_EXECUTABLES zorvik-discovery ${ZORVIK_PRODUCT})

set(CPACK_NSIS_PACKAGE_NAME ${ZORVIK_PRODUCT})
set(CPACK_NSIS_DISPLAY_NAME ${ZORVIK_PRODUCT})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/platform/win32/resources/zorvik-discovery.ico)
set(CPACK_NSIS_MUI_UNIICON ${CPACK_NSIS_MUI_ICON})
set(CPACK_NSIS_INSTALLED_ICON_NAME zorvik-discovery.exe)
# A 64-bit installer: Debian's wine64 runs no 32-bit program.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
include(CPack)
