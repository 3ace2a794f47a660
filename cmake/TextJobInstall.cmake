# The installed tree: textjob and the plug-in, and the SDK for other plug-ins and hosts (the
# step contract and runtime headers, the runtime and host libraries, and a CMake package
# `TextJob` whose targets are TextJob::runtime, TextJob::host and TextJob::contract). Every path
# in the package is relative to the installed tree, so it works wherever the tree is moved.
include(CMakePackageConfigHelpers)

set(TEXT_INSTALL_CMAKEDIR ${TEXT_INSTALL_LIBDIR}/cmake/TextJob)

install(TARGETS mvbrt stephelp texthost textcontract EXPORT TextJobTargets
        RUNTIME DESTINATION ${TEXT_INSTALL_BINDIR}
        LIBRARY DESTINATION ${TEXT_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS text textjob
        RUNTIME DESTINATION ${TEXT_INSTALL_BINDIR}
        LIBRARY DESTINATION ${TEXT_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/step ${PROJECT_SOURCE_DIR}/include/mvb
                  ${PROJECT_SOURCE_DIR}/host/include/texthost
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT TextJobTargets NAMESPACE TextJob:: DESTINATION ${TEXT_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TextJobConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/TextJobConfig.cmake
                              INSTALL_DESTINATION ${TEXT_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TextJobConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TextJobConfig.cmake
              ${PROJECT_BINARY_DIR}/TextJobConfigVersion.cmake
        DESTINATION ${TEXT_INSTALL_CMAKEDIR})
