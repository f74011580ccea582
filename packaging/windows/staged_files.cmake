# Run by cpack between staging and packing. The programs get their checksum
# (and signature, when one is asked for: pe-finish), the texts CR LF line
# ends. Every staged file takes the date SOURCE_DATE_EPOCH gives, which the zip
# and the MSI's cabinet keep; and the setup program gets their list in a fixed
# order, as a folder's own order differs from one tree to another.
set(staged ${CPACK_TEMPORARY_DIRECTORY})
file(GLOB files RELATIVE ${staged} LIST_DIRECTORIES true ${staged}/*)
list(TRANSFORM files PREPEND ${staged}/ OUTPUT_VARIABLE paths)
set(programs ${paths})
list(FILTER programs INCLUDE REGEX "\\.exe$")
execute_process(COMMAND ${CPACK_ZORVIK_PE_FINISH} ${programs} COMMAND_ERROR_IS_FATAL ANY)
# Notepad before Windows 10 shows LF-only text as one line.
set(texts ${paths})
list(FILTER texts INCLUDE REGEX "\\.txt$")
foreach(text IN LISTS texts)
    file(READ ${text} content)
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
    file(WRITE ${text} "${content}")
endforeach()
execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${paths} COMMAND_ERROR_IS_FATAL ANY)
set(nsis "!macro InstallStagedFiles\n")
foreach(file IN LISTS files)
    string(APPEND nsis "    File \"${staged}/${file}\"\n")
endforeach()
string(APPEND nsis "!macroend\n!macro DeleteStagedFiles\n")
foreach(file IN LISTS files)
    string(APPEND nsis "    Delete \"$INSTDIR\\${file}\"\n")
endforeach()
file(WRITE ${staged}/../staged_files.nsh "${nsis}!macroend\n")
