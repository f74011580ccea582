# Included by cpack before it packs: without SOURCE_DATE_EPOCH, the date of
# packaging/changelog's newest entry stands for it, as Debian's own tools take
# it. Neither the clock nor git: a checkout and an export pack to the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND dpkg-parsechangelog -l "${CPACK_ZORVIK_SOURCE_DIR}/packaging/changelog" -STimestamp
                    OUTPUT_VARIABLE changelog_time OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(ENV{SOURCE_DATE_EPOCH} ${changelog_time})
endif()
