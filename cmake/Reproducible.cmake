# The Windows programs come out the same, byte for byte, wherever and
# whenever they are built. The one thing in them that changes from build to
# build is the time stamp ld writes into the PE header and the export
# directory: the link's time, unless SOURCE_DATE_EPOCH is set, and then that.
# So every link runs with SOURCE_DATE_EPOCH set: the environment's when it has
# one, else the last commit's time.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(VARNOCK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git log -1 --format=%ct
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        RESULT_VARIABLE git_result
        OUTPUT_VARIABLE VARNOCK_SOURCE_DATE_EPOCH
        ERROR_VARIABLE git_error
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT git_result EQUAL 0)
        message(FATAL_ERROR
            "The Windows build stamps its programs with the last commit's time, and git "
            "could not give it for ${CMAKE_SOURCE_DIR} (${git_error}). Outside a git "
            "checkout, set SOURCE_DATE_EPOCH to the seconds since 1970 to stamp.")
    endif()
endif()
# A PE time stamp is 32 bits: a larger number would be cut, or taken by the
# linker as no stamp at all and replaced by the time of the link.
string(LENGTH "${VARNOCK_SOURCE_DATE_EPOCH}" varnock_epoch_digits)
if(NOT VARNOCK_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$" OR varnock_epoch_digits GREATER 10
   OR VARNOCK_SOURCE_DATE_EPOCH GREATER 4294967295)
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is '${VARNOCK_SOURCE_DATE_EPOCH}', not a number of seconds up to 4294967295")
endif()
foreach(lang C CXX)
    set(CMAKE_${lang}_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VARNOCK_SOURCE_DATE_EPOCH})
endforeach()
