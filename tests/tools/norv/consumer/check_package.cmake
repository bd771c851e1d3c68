# Installs the build into a fresh prefix, then builds and runs the consumer
# application twice: through find_package and through pkg-config.
# Arguments: BUILD_DIR, CONSUMER_DIR, WORK_DIR, CXX, GENERATOR.

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_output what)
    if(NOT out MATCHES "^NP_NorvPlusHD 4 9\n$")
        message(FATAL_ERROR "${what} printed '${out}'")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB_RECURSE sonames ${prefix}/libnorvtranscoder.so.[0-9])
file(GLOB_RECURSE headers ${prefix}/include/norv/transcoder.h)
file(GLOB_RECURSE programs ${prefix}/bin/norv)
if(NOT sonames OR NOT headers OR NOT programs)
    message(FATAL_ERROR "missing: versioned soname '${sonames}', header '${headers}', norv '${programs}'")
endif()
get_filename_component(libdir ${sonames} DIRECTORY)

run("configure with find_package" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake
    -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
run("build with find_package" ${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
run("consumer built with find_package" ${WORK_DIR}/cmake/consumer)
expect_output("consumer built with find_package")

run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${libdir}/pkgconfig
    pkg-config --cflags --libs norvtranscoder)
separate_arguments(flags UNIX_COMMAND "${out}")
run("build with pkg-config" ${CXX} ${CONSUMER_DIR}/main.cpp ${flags} -Wl,-rpath,${libdir}
    -o ${WORK_DIR}/consumer-pc)
run("consumer built with pkg-config" ${WORK_DIR}/consumer-pc)
expect_output("consumer built with pkg-config")
