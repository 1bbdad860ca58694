# Installation layout and packages. Each folder installs its own programs:
#   Linux: bin/OrluneRLM, bin/orlune, share/orlune/rlm/orlune-rlm-helper,
#          share/applications, share/icons (desktop entry and icon)
#   macOS: OrluneRLM.app at the top, holding the application, the command-line
#          tool and the helper in Contents/MacOS, Qt and the other libraries
#          they need in Contents/Frameworks and Contents/PlugIns
# Included last from the top level, once every target exists.

# The resources folder exists in the build tree and in every installation,
# with its rlm folder, even before a helper has been put there.
file(MAKE_DIRECTORY "${ORLUNE_BUILD_RESOURCES_DIR}/rlm")
if(NOT APPLE)
    install(DIRECTORY DESTINATION share/orlune/rlm)
endif()

if(APPLE AND TARGET OrluneRLM AND TARGET orlune AND TARGET orlune-rlm-helper)
    # The helper and the command-line tool go beside the application in
    # Contents/MacOS, also in the build tree: code signing seals whatever is
    # in Contents/Resources as data, and the runner looks there first.
    add_custom_target(OrluneRLM_bundled_programs ALL
        COMMAND ${CMAKE_COMMAND} -E copy_if_different
                $<TARGET_FILE:orlune> $<TARGET_FILE:orlune-rlm-helper>
                "$<TARGET_BUNDLE_CONTENT_DIR:OrluneRLM>/MacOS/"
        DEPENDS OrluneRLM orlune orlune-rlm-helper
        COMMENT "Putting the helper and the command-line tool into OrluneRLM.app"
        VERBATIM)

    # Installing copies the bundle; then Qt, ICU and the other libraries from
    # Homebrew are copied into it (macdeployqt), every search path outside it
    # is removed, it is signed ad hoc (scripts/macos/sign.sh signs it again
    # with an identity) and checked (scripts/macos/check-bundle.sh).
    find_program(ORLUNE_MACDEPLOYQT macdeployqt
                 HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" "${QT6_INSTALL_PREFIX}/bin")
    set(ORLUNE_QT_LIBRARY_DIR "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_LIBS}")
    install(CODE "
        execute_process(
            COMMAND bash \"${PROJECT_SOURCE_DIR}/scripts/macos/deploy-bundle.sh\"
                    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/OrluneRLM.app\"
                    \"${ORLUNE_MACDEPLOYQT}\" \"${ORLUNE_QT_LIBRARY_DIR}\"
            COMMAND_ERROR_IS_FATAL ANY)")
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
    # WordNet's database, read at run time when present: answers also find
    # messages that say a question's words in other words.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wordnet-base")
endif()
include(CPack)
