# Rooms: each folder of OrluneCore/ and OrluneRLM/ is a static library whose
# headers are included as "room/Header.hpp". A room's include root holds that
# room alone (a link in the build tree named after the room), so a unit sees
# the headers of the rooms it links and no others: an include against the
# direction of the links fails to compile.
#
# orlune_add_room(TARGET ROOM SOURCES...) makes the static library TARGET from
# the current folder's SOURCES and gives it ROOM's include root.
function(orlune_add_room target room)
    add_library(${target} STATIC ${ARGN})
    set(root "${CMAKE_BINARY_DIR}/rooms/${target}")
    file(MAKE_DIRECTORY "${root}")
    if(NOT EXISTS "${root}/${room}")
        file(CREATE_LINK "${CMAKE_CURRENT_SOURCE_DIR}" "${root}/${room}" SYMBOLIC)
    endif()
    target_include_directories(${target} PUBLIC "${root}")
endfunction()
