# The application's icon: one SVG (data/icons), and PNG sizes rendered from it at build time with
# rsvg-convert (Debian librsvg2-bin). The window embeds the PNGs; the install puts both into the
# hicolor theme.
set(QUORVANE_APP_ID io.github.quorvane.Quorvane)
set(QUORVANE_ICON_SVG ${PROJECT_SOURCE_DIR}/data/icons/${QUORVANE_APP_ID}.svg)
set(QUORVANE_ICON_SIZES 16 24 32 48 64 128 256)
find_program(QUORVANE_RSVG_CONVERT rsvg-convert REQUIRED)

# Where the PNG of one size goes, in the theme's own layout under `dir`.
function(quorvane_icon_png dir size out)
    set(${out} ${dir}/${size}x${size}/apps/${QUORVANE_APP_ID}.png PARENT_SCOPE)
endfunction()

# Rules that render every size under `dir`; the list of PNGs goes to `out`.
function(quorvane_render_icons dir out)
    set(pngs "")
    foreach(size ${QUORVANE_ICON_SIZES})
        quorvane_icon_png(${dir} ${size} png)
        get_filename_component(folder ${png} DIRECTORY)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
            COMMAND ${QUORVANE_RSVG_CONVERT} --width ${size} --height ${size}
                --output ${png} ${QUORVANE_ICON_SVG}
            DEPENDS ${QUORVANE_ICON_SVG}
            COMMENT "Icon ${size}x${size}"
            VERBATIM)
        list(APPEND pngs ${png})
    endforeach()
    set(${out} ${pngs} PARENT_SCOPE)
endfunction()
