# Qt's core headers are most of what a file of this project compiles (about three seconds of a
# small file's four). They are precompiled once, by a library of their own, and every library,
# program, test and benchmark built with g++ includes that copy. A target whose flags do not fit
# the copy makes g++ read the headers as text instead (-Winvalid-pch says so), never a wrong
# build. Off with -DQUORVANE_PRECOMPILED_HEADERS=OFF, which also shows a missing include.
option(QUORVANE_PRECOMPILED_HEADERS "Precompile Qt's core headers once for every target" ON)

function(quorvane_targets_in dir out)
    get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
        quorvane_targets_in("${subdir}" more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} "${targets}" PARENT_SCOPE)
endfunction()

function(quorvane_precompile_headers)
    if(NOT QUORVANE_PRECOMPILED_HEADERS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        return()
    endif()
    add_library(quorvane_precompiled STATIC cmake/precompiled.cpp)
    target_link_libraries(quorvane_precompiled PRIVATE quorvane_options Qt6::Core)
    target_precompile_headers(quorvane_precompiled PRIVATE
        <QByteArray> <QDateTime> <QFile> <QHash> <QList> <QObject> <QString> <QStringList>
        <QStringView> <QTimer> <QVariant>
        <functional> <memory> <optional> <vector>)
    quorvane_targets_in("${PROJECT_SOURCE_DIR}" targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$" OR target STREQUAL "quorvane_precompiled")
            continue()
        endif()
        target_precompile_headers(${target} REUSE_FROM quorvane_precompiled)
    endforeach()
endfunction()
