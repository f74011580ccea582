# Run by cpack's External generator on the staged files: the per-machine MSI,
# made with wixl from zorvik-discovery.wxs. Its codes are fixed, so it rebuilds
# bit for bit: the UpgradeCode for ever, the ProductCode per version, and the
# PackageCode per version and content (name-based UUIDs).
set(staged ${CPACK_TEMPORARY_DIRECTORY})
set(version ${CPACK_PACKAGE_VERSION})
set(upgrade_code ${CPACK_ZORVIK_UPGRADE_CODE})
string(UUID product_code NAMESPACE ${upgrade_code} NAME "ProductCode ${version}" TYPE SHA1 UPPER)
set(content "${version}")
file(GLOB files RELATIVE ${staged} ${staged}/*)
foreach(file IN LISTS files)
    file(SHA256 ${staged}/${file} hash)
    string(APPEND content " ${file}=${hash}")
endforeach()
string(UUID package_code NAMESPACE ${upgrade_code} NAME "PackageCode ${content}" TYPE SHA1 UPPER)

# wixl takes source files only by paths relative to where it runs.
cmake_path(GET staged PARENT_PATH work)
cmake_path(GET staged FILENAME staged_name)
file(COPY_FILE ${CPACK_ZORVIK_ICON} ${work}/program.ico)
set(msi ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
execute_process(
    COMMAND wixl --arch x64 -o ${msi}
            -D ProductCode=${product_code} -D UpgradeCode=${upgrade_code} -D PackageCode=${package_code}
            -D Product=${CPACK_ZORVIK_PRODUCT} -D Version=${version} -D Publisher=${CPACK_PACKAGE_VENDOR}
            -D Homepage=${CPACK_ZORVIK_HOMEPAGE} -D Icon=program.ico -D Staged=${staged_name}
            -D "UninstallKey=Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\${CPACK_ZORVIK_PRODUCT}"
            ${CPACK_ZORVIK_WXS}
    WORKING_DIRECTORY ${work}
    RESULT_VARIABLE failed
    ERROR_VARIABLE messages)
# It says "unimplemented" of every shortcut that is not advertised, yet makes it.
if(failed)
    message(FATAL_ERROR "wixl failed: ${messages}")
endif()

# wixl ignores the Package element's Id and writes a random package code and
# the time of the build into the summary information: set the one, and date
# both of its times (created, last saved) by SOURCE_DATE_EPOCH.
execute_process(
    COMMAND msibuild ${msi} -s "${CPACK_ZORVIK_PRODUCT} ${version}" ${CPACK_PACKAGE_VENDOR} "x64;1033"
            "{${package_code}}"
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(
    COMMAND perl -0777 -pi -e [[
        BEGIN { $date = pack("Q<", ($ENV{SOURCE_DATE_EPOCH} + 11644473600) * 10000000) }
        # A FILETIME property (type 0x40) within a day of now is one of the two.
        s{\x40\0\0\0(.{8})}{ abs(unpack("Q<", $1) / 1e7 - 11644473600 - time) < 86400 ? "\x40\0\0\0$date" : "\x40\0\0\0$1" }gse;
        END { die "msi: wixl's build times not found\n" unless $dated == 2 }
        $dated = () = /\x40\0\0\0\Q$date\E/gs;
    ]] ${msi}
    COMMAND_ERROR_IS_FATAL ANY)
# Signed last, when a signature is asked for, as its bytes are final by now.
execute_process(COMMAND ${CPACK_ZORVIK_PE_FINISH} ${msi} COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
