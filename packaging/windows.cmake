# Windows: a portable zip, a setup program (NSIS, for all users or for one) and
# an MSI (per machine, for deployment) of the two programs with README.txt,
# LICENSE.txt and THIRD-PARTY-NOTICES.txt, made by CPack with Debian's makensis
# and msitools' wixl.
set(windows_packaging ${CMAKE_CURRENT_LIST_DIR}/windows)
foreach(program zorvik-discovery zorvik-discover zorvik-path)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION .)
        # The archives linked into the program, for the test that each has its notice.
        target_link_options(${program} PRIVATE LINKER:-Map=$<TARGET_FILE:${program}>.map)
    endif()
endforeach()
install(FILES ${windows_packaging}/README.txt DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES DESTINATION . RENAME THIRD-PARTY-NOTICES.txt)

set(CPACK_GENERATOR ZIP NSIS External)
set(CPACK_PACKAGE_NAME zorvik-discovery)
set(CPACK_PACKAGE_VERSION ${ZORVIK_VERSION})
set(CPACK_PACKAGE_VENDOR ${ZORVIK_PUBLISHER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Finds Zorvik devices on the local network")
set(CPACK_PACKAGE_FILE_NAME zorvik-discovery-${ZORVIK_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
# The same bytes from every build of one tree: the date comes from
# SOURCE_DATE_EPOCH or packaging/changelog, and every staged file carries it.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/source_date.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${windows_packaging}/staged_files.cmake)
set(CPACK_ZORVIK_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# The checksum of every program, and the signature when one is asked for.
set(CPACK_ZORVIK_PE_FINISH ${windows_packaging}/pe-finish)
set(CPACK_ZORVIK_FINALIZE ${windows_packaging}/finalize.nsh)

# What the setup program and the MSI fill in.
set(CPACK_ZORVIK_PRODUCT ${ZORVIK_PRODUCT})
set(CPACK_ZORVIK_COPYRIGHT ${ZORVIK_COPYRIGHT})
set(CPACK_ZORVIK_HOMEPAGE ${ZORVIK_HOMEPAGE})
string(REPLACE "," "." CPACK_ZORVIK_VERSION_QUAD ${ZORVIK_VERSION_COMMAS})
set(CPACK_ZORVIK_ICON ${PROJECT_SOURCE_DIR}/platform/win32/resources/zorvik-discovery.ico)
set(CPACK_ZORVIK_WELCOME_BITMAP ${windows_packaging}/welcome.bmp)
set(CPACK_ZORVIK_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The MSI's for ever: a later version replaces an earlier one by it.
set(CPACK_ZORVIK_UPGRADE_CODE 6F1B3C2D-84A5-4E7F-9B60-2C8D1E4F7A93)
set(CPACK_ZORVIK_WXS ${windows_packaging}/zorvik-discovery.wxs)

# The setup program: the project's own template, with NSIS's MultiUser.
set(CPACK_MODULE_PATH ${windows_packaging})

# The MSI: msi.cmake runs wixl on the staged files.
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${windows_packaging}/msi.cmake)
include(CPack)
