# Where Homebrew put what the macOS build uses. Its prefix (/opt/homebrew on
# Apple silicon, /usr/local on Intel) holds qtbase, qtkeychain, nlohmann-json,
# libphonenumber and googletest; icu4c is "keg-only" (the SDK has no public
# ICU, and Homebrew keeps its own out of the prefix), so it is found through
# `brew --prefix`.
# SQLite and libcurl come from the SDK, SHA-256 from CommonCrypto.
# Values given on the command line (CMAKE_PREFIX_PATH, ICU_ROOT) win.

find_program(ORLUNE_BREW brew)
if(NOT ORLUNE_BREW)
    message(STATUS "Homebrew not found; the libraries must be found through CMAKE_PREFIX_PATH")
    return()
endif()

function(orlune_brew_prefix output)
    execute_process(COMMAND "${ORLUNE_BREW}" --prefix ${ARGN}
                    OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET RESULT_VARIABLE status)
    if(status EQUAL 0 AND IS_DIRECTORY "${prefix}")
        set(${output} "${prefix}" PARENT_SCOPE)
    else()
        set(${output} "" PARENT_SCOPE)
    endif()
endfunction()

orlune_brew_prefix(ORLUNE_BREW_PREFIX)
if(ORLUNE_BREW_PREFIX)
    list(APPEND CMAKE_PREFIX_PATH "${ORLUNE_BREW_PREFIX}")
endif()

if(NOT ICU_ROOT)
    orlune_brew_prefix(ORLUNE_ICU_PREFIX icu4c)
    if(ORLUNE_ICU_PREFIX)
        set(ICU_ROOT "${ORLUNE_ICU_PREFIX}")
    else()
        message(WARNING "Homebrew's icu4c is not installed (scripts/bootstrap.sh installs it)")
    endif()
endif()
