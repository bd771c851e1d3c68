# Installing the library for applications: the shared library (its soname
# carries the major version), the public headers, a CMake package giving
# the imported target NorvTranscoder::norvtranscoder, and a pkg-config file.
# The programs (norv, NorvEngine) install into the same bin folder, so norv
# finds the engine beside itself.
include(CMakePackageConfigHelpers)

set(NORV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/NorvTranscoder)

install(TARGETS norvtranscoder EXPORT NorvTranscoderTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/norv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT NorvTranscoderTargets NAMESPACE NorvTranscoder:: DESTINATION ${NORV_CMAKE_DIR})

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/NorvTranscoderConfig.cmake.in
    ${CMAKE_BINARY_DIR}/NorvTranscoderConfig.cmake INSTALL_DESTINATION ${NORV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/NorvTranscoderConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/NorvTranscoderConfig.cmake
              ${CMAKE_BINARY_DIR}/NorvTranscoderConfigVersion.cmake
        DESTINATION ${NORV_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so the package
# can be installed under any prefix (cmake --install --prefix) and moved.
file(RELATIVE_PATH NORV_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" NORV_PC_UP "${NORV_PC_UP}")
foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
        set(NORV_PC_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
        set(NORV_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/cmake/norvtranscoder.pc.in
    ${CMAKE_BINARY_DIR}/norvtranscoder.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/norvtranscoder.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
