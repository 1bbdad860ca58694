# The Snowball stemmer's C library (libstemmer), as the imported target
# Orlune::Stemmer. Debian's libstemmer-dev and Homebrew's snowball install
# the header and the library without a CMake package or a pkg-config file,
# so both are looked up directly (Homebrew's prefix is on CMAKE_PREFIX_PATH).
if(TARGET Orlune::Stemmer)
    return()
endif()

find_path(ORLUNE_STEMMER_INCLUDE_DIR libstemmer.h)
find_library(ORLUNE_STEMMER_LIBRARY NAMES stemmer)
if(NOT ORLUNE_STEMMER_INCLUDE_DIR OR NOT ORLUNE_STEMMER_LIBRARY)
    message(FATAL_ERROR
        "libstemmer not found (Debian: libstemmer-dev, Homebrew: snowball; "
        "scripts/bootstrap.sh installs it)")
endif()
add_library(Orlune::Stemmer UNKNOWN IMPORTED)
set_target_properties(Orlune::Stemmer PROPERTIES
    IMPORTED_LOCATION "${ORLUNE_STEMMER_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${ORLUNE_STEMMER_INCLUDE_DIR}")
