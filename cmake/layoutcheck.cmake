# Includes and links run downward only. Each core library (quorvane_NAME, its files in src/NAME/)
# may use the libraries listed after its name and nothing else: the sources of a lookup never
# include each other, the transports include no source, nothing below a run reaches up to it.
# The configuration fails when a library links, or a file of its folder includes, anything
# that is not listed.
set(QUORVANE_LAYOUT
    "text:"
    "platform:"
    "facts:text,platform"
    "shell:platform"
    "addresses:platform,text"
    "results:platform,text"
    "net:text,platform"
    "lookup:net,facts,text,platform"
    "web:lookup,net,facts,text,platform"
    "whois:lookup,net,facts,text,platform"
    "rdap:lookup,net,facts,text,platform"
    "run:web,whois,rdap,lookup,net,facts,results,text,platform"
    "store:lookup,net,facts,text,platform")

function(quorvane_check_layout)
    foreach(entry ${QUORVANE_LAYOUT})
        string(REPLACE ":" ";" parts "${entry}")
        list(GET parts 0 name)
        set(allowed "")
        list(LENGTH parts count)
        if(count GREATER 1)
            list(GET parts 1 allowedText)
            string(REPLACE "," ";" allowed "${allowedText}")
        endif()

        set(links "")
        foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            get_target_property(found quorvane_${name} ${property})
            if(found)
                list(APPEND links ${found})
            endif()
        endforeach()
        foreach(link ${links})
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
            if(link MATCHES "^quorvane_(.+)$" AND NOT link STREQUAL "quorvane_options")
                string(REGEX REPLACE "_(gui|resources_[0-9]+)$" "" used "${CMAKE_MATCH_1}")
                if(NOT used STREQUAL name AND NOT used IN_LIST allowed)
                    message(FATAL_ERROR "quorvane_${name} links ${link}, which is not below it")
                endif()
            endif()
        endforeach()

        file(GLOB sources "${PROJECT_SOURCE_DIR}/src/${name}/*.h" "${PROJECT_SOURCE_DIR}/src/${name}/*.cpp")
        foreach(source ${sources})
            file(STRINGS "${source}" includes REGEX "^#include \"[a-z]+/")
            foreach(line ${includes})
                string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" used "${line}")
                if(NOT used STREQUAL name AND NOT used IN_LIST allowed)
                    message(FATAL_ERROR "${source} includes ${used}/, which is not below ${name}/")
                endif()
            endforeach()
        endforeach()
    endforeach()
endfunction()
