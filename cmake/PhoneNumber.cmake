# libphonenumber, as the imported target Orlune::PhoneNumber.
#
# Homebrew's build installs a CMake package; Debian's libphonenumber-dev ships
# neither a CMake package nor a pkg-config file, so the header and the library
# are looked up directly there. Its headers include protobuf and abseil
# headers, which both systems install beside them.
if(TARGET Orlune::PhoneNumber)
    return()
endif()

find_package(libphonenumber CONFIG QUIET)
if(TARGET libphonenumber::phonenumber-shared)
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
