# Installation layout and packages. Each folder installs its own programs:
#   bin/OrluneRLM, bin/orlune               (macOS: OrluneRLM.app at the top)
#   share/orlune/rlm/                        the resources folder and its helper
#   share/applications, share/icons          Linux desktop entry and icon
# Included last from the top level, once every target exists.

# The resources folder exists in the build tree and in every installation,
# with its rlm folder, even before a helper has been put there.
file(MAKE_DIRECTORY "${ORLUNE_BUILD_RESOURCES_DIR}/rlm")
install(DIRECTORY DESTINATION share/orlune/rlm)

if(APPLE AND TARGET OrluneRLM)
    # The bundle carries the resources in Contents/Resources.
    if(TARGET orlune-rlm-helper)
        add_dependencies(OrluneRLM orlune-rlm-helper)
    endif()
    add_custom_command(TARGET OrluneRLM POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_directory "${ORLUNE_BUILD_RESOURCES_DIR}"
                "$<TARGET_BUNDLE_CONTENT_DIR:OrluneRLM>/Resources"
        VERBATIM)
endif()

set(CPACK_PACKAGE_NAME "orlune")
set(CPACK_PACKAGE_VENDOR "Orlune")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Orlune developers <orlune@localhost>")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
if(APPLE)
    set(CPACK_GENERATOR "DragNDrop")
else()
    set(CPACK_GENERATOR "DEB")
    set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
    set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
    set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
    # Library dependencies are read from the programs themselves.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Qt finds its window-system plugins at run time, so no library names them.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
