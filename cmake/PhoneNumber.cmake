# libphonenumber, as the imported target Orlune::PhoneNumber.
#
# Homebrew's build installs a CMake package (used with the Boost it links);
# Debian's libphonenumber-dev ships neither a CMake package nor a pkg-config
# file, so the header and the library are looked up directly there. Its headers include protobuf and abseil
# headers, which both systems install beside them.
if(TARGET Orlune::PhoneNumber)
    return()
endif()

find_package(libphonenumber CONFIG QUIET)
if(TARGET libphonenumber::phonenumber-shared)
    # Its link interface names Boost::date_time, Boost::system and
    # Boost::thread without finding Boost itself (Homebrew's libphonenumber
    # depends on boost). Boost.System is header-only since 1.69 and Boost
    # 1.89 dropped its stub library, so it is optional here and stands for
    # Boost's headers when absent.
    find_package(Boost CONFIG REQUIRED COMPONENTS date_time thread OPTIONAL_COMPONENTS system)
    if(NOT TARGET Boost::system)
        add_library(Boost::system INTERFACE IMPORTED)
        target_link_libraries(Boost::system INTERFACE Boost::headers)
    endif()
    add_library(Orlune::PhoneNumber INTERFACE IMPORTED)
    target_link_libraries(Orlune::PhoneNumber INTERFACE libphonenumber::phonenumber-shared)
    return()
endif()

find_path(ORLUNE_PHONENUMBER_INCLUDE_DIR phonenumbers/phonenumberutil.h)
find_library(ORLUNE_PHONENUMBER_LIBRARY NAMES phonenumber)
if(NOT ORLUNE_PHONENUMBER_INCLUDE_DIR OR NOT ORLUNE_PHONENUMBER_LIBRARY)
    message(FATAL_ERROR
        "libphonenumber not found (Debian: libphonenumber-dev, Homebrew: libphonenumber; "
        "scripts/bootstrap.sh installs it)")
endif()
add_library(Orlune::PhoneNumber UNKNOWN IMPORTED)
set_target_properties(Orlune::PhoneNumber PROPERTIES
    IMPORTED_LOCATION "${ORLUNE_PHONENUMBER_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${ORLUNE_PHONENUMBER_INCLUDE_DIR}")
